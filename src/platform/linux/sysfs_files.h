// Reading the small text files of sysfs and parsing what the HID core writes
// into them: one-value attributes, the key=value lines of a uevent file, and
// hexadecimal numbers such as HID_ID's "bus:vendor:product".
#ifndef RXB540_PLATFORM_LINUX_SYSFS_FILES_H
#define RXB540_PLATFORM_LINUX_SYSFS_FILES_H

#include "platform/linux/hidraw_paths.h"

#include <cstddef>

namespace hidraw {

// Every sysfs attribute fits in one page; nothing longer is read from a file.
constexpr std::size_t SYSFS_READ_LIMIT = 4096;

// The content of one small sysfs file, not terminated.
struct SysfsFile {
    char data[SYSFS_READ_LIMIT];
    std::size_t length;
};

// A run of bytes inside a buffer, not terminated.
struct TextSpan {
    const char *data;
    std::size_t length;
};

struct HidId {
    unsigned long bus;
    unsigned long vendor;
    unsigned long product;
};

// Reads at most SYSFS_READ_LIMIT bytes of a file; false when it cannot be read.
bool ReadSmallFile(const char *path, SysfsFile *file);

// Reads an attribute that holds one text value, without its final line feed.
bool ReadAttribute(const char *path, SysfsFile *value);

// Finds "key=value" among the lines of a uevent file.
bool FindUeventValue(const SysfsFile &uevent, const char *key, TextSpan *value);

// Parses a whole value that holds one hexadecimal number up to `max`. Like any
// C string, the value ends at its first zero byte.
bool ParseHexValue(const TextSpan &text, unsigned long max, unsigned long *value);

// The uevent file of the HID device that hidraw device `number` belongs to.
bool ReadNodeUevent(DeviceNumber number, SysfsFile *uevent);

// The bus and IDs of a node, from the HID_ID line of its uevent.
bool ReadNodeHidId(const SysfsFile &uevent, HidId *id);

}  // namespace hidraw

#endif  // RXB540_PLATFORM_LINUX_SYSFS_FILES_H
