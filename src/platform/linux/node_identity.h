// Which hidraw device a node reaches. A node is known by its device number,
// never by its name: the name is only where the node happens to be, and in a
// container given the host's /dev/hidraw5 as its /dev/hidraw0, /dev/hidraw0
// reaches the device that the host's sysfs calls hidraw5. The number's entry
// in sysfs (/sys/dev/char/MAJ:MIN) is the device's own, whatever the node is
// called, so the backend reads everything about a device from there.
#ifndef RXB540_PLATFORM_LINUX_NODE_IDENTITY_H
#define RXB540_PLATFORM_LINUX_NODE_IDENTITY_H

#include "platform/linux/hidraw_paths.h"

#include <cstddef>

namespace hidraw {

// The device number of the hidraw device that `path` reaches, following
// symbolic links (udev rules may add links to a node). False when the path
// is no character device, or when its number's sysfs entry is not in the
// hidraw class: another driver's device, or none at all. The path is not
// opened, so no other driver ever sees an open from this backend.
bool IdentifyHidrawPath(const char *path, DeviceNumber *number);

// True when open descriptor fd reaches device `number`, which
// IdentifyHidrawPath found for the path it was opened by: false when the
// node was replaced by another in between.
bool DescriptorReaches(int fd, DeviceNumber number);

// The name of the HID device that hidraw device `number` belongs to, as the
// kernel named it when it added the device ("0003:16C0:05DF.0007"): its last
// number counts every HID device the kernel has added since it started, so a
// device that is enumerated anew gets another name, even at the same node.
// False when the name cannot be found or does not fit in size bytes.
bool HidDeviceName(DeviceNumber number, char *name, std::size_t size);

}  // namespace hidraw

#endif  // RXB540_PLATFORM_LINUX_NODE_IDENTITY_H
