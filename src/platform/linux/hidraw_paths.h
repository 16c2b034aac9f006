// Where the hidraw backend finds things: the sysfs root (normally /sys), the
// device folder (normally /dev), the names of hidraw nodes, and the paths
// built from them. Paths live in fixed buffers on the stack; a path that does
// not fit could not be opened anyway, so it is simply not built.
#ifndef RXB540_PLATFORM_LINUX_HIDRAW_PATHS_H
#define RXB540_PLATFORM_LINUX_HIDRAW_PATHS_H

#include <climits>
#include <cstddef>

namespace hidraw {

constexpr std::size_t HIDRAW_MAX_DIGITS = 9;
// "hidraw", at most nine digits and the terminating zero.
constexpr std::size_t NODE_NAME_BYTES = sizeof("hidraw") + HIDRAW_MAX_DIGITS;

typedef char PathBuffer[PATH_MAX];
typedef char NodeName[NODE_NAME_BYTES];

// The number of a character device: which device a node reaches, whatever
// the node is called.
struct DeviceNumber {
    unsigned major;
    unsigned minor;
};

// Formats a path into `out`; false when it does not fit. The format attribute
// lets the compiler check every call's arguments (-Wformat=2).
bool FormatPath(PathBuffer out, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Accepts exactly "hidraw" followed by one to nine decimal digits.
bool ParseHidrawName(const char *name, unsigned long *number);

// The node name that a path ends in, or "" when it does not end in one.
void NodeNameOfPath(const char *path, NodeName name);

// Copies a name that ParseHidrawName accepted, which always fits.
void CopyNodeName(NodeName out, const char *name);

// <sysfs>/class/hidraw, the folder that names every node.
bool HidrawClassDir(PathBuffer out);

// The sysfs entry of character device `number`, <sysfs>/dev/char/MAJ:MIN,
// or the file `file` in it when `file` is not empty.
bool CharDeviceEntryPath(PathBuffer out, DeviceNumber number, const char *file);

// The HID device that hidraw device `number` belongs to, or the file `file`
// in its folder when `file` is not empty.
bool NodeSysfsDevicePath(PathBuffer out, DeviceNumber number, const char *file);

// <device folder>/<name>, the path that the node is opened by.
bool NodeDevPath(PathBuffer out, const char *name);

// The canonical form of an existing path, as realpath gives it.
bool CanonicalPath(const char *path, PathBuffer canonical);

// The canonical sysfs root, which bounds every walk up the device tree; found
// on first use and kept until the roots change. Null when it cannot be found.
const char *CanonicalSysfsRoot();

}  // namespace hidraw

#endif  // RXB540_PLATFORM_LINUX_HIDRAW_PATHS_H
