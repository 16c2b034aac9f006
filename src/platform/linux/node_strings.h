// The manufacturer, product and serial number strings of a hidraw device, as
// the kernel exposes them in sysfs (UTF-8), handed to the caller as UTF-16.
#ifndef RXB540_PLATFORM_LINUX_NODE_STRINGS_H
#define RXB540_PLATFORM_LINUX_NODE_STRINGS_H

#include "platform/linux/hidraw_paths.h"

#include <cstddef>

namespace hidraw {

enum HidStringKind { MANUFACTURER_STRING, PRODUCT_STRING, SERIAL_STRING };

// Writes the string of hidraw device `number` into the caller's buffer of
// lengthBytes bytes as the string calls of the platform contract do: cut
// after the last whole character that fits, always ended with a zero unit.
// False, with the buffer untouched, when the device has no such string, it
// cannot be read, or the buffer has no room for the zero unit.
bool CopyNodeString(DeviceNumber number, HidStringKind kind, void *buffer, std::size_t lengthBytes);

}  // namespace hidraw

#endif  // RXB540_PLATFORM_LINUX_NODE_STRINGS_H
