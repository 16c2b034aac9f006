// Whether the user may open the device behind a hidapi path, told without
// opening it. The backend opens a device only when a string or a report is
// asked for; an interface that the user may not open must still be refused
// when the caller "opens" it, as on every other backend, so that discovery
// passes it over instead of taking it for a board that does not answer.
#ifndef RXB540_PLATFORM_HIDAPI_DEVICE_ACCESS_H
#define RXB540_PLATFORM_HIDAPI_DEVICE_ACCESS_H

#include <cstddef>

// Writes to `node` (nodeSize bytes) the device node that hidapi opens for
// `path` on Linux: the path itself for the hidraw variant (/dev/hidrawN); for
// the libusb variant, whose paths name the USB device as the kernel does
// followed by configuration and interface ("1-1.4:1.0"), that device's usbfs
// node /dev/bus/usb/BBB/DDD, numbered from its busnum and devnum under
// sysRoot (normally /sys). False, with nothing to go by, for a path of
// another shape, a USB device that sysfs does not show, or a node that does
// not fit.
bool FindDeviceNode(const char *sysRoot, const char *path, char *node, std::size_t nodeSize);

// False when the node that hidapi would open for `path` is known and gone, or
// the user may not read and write it. True where that cannot be told (another
// host, a path of another shape): opening the device then decides.
bool MayOpenDevice(const char *path);

// Writes to `attachment` (size bytes) a text that changes when the device
// behind `path` is enumerated anew (see GetInterfaceAttachment). On Linux:
// for the hidraw variant the name of the node's HID device in sysfs under
// sysRoot, which the kernel numbers anew for every device it adds; for the
// libusb variant the USB device's node, whose device number the kernel
// assigns anew at each enumeration. On macOS hidapi's path itself, which
// names the device's entry in the I/O Registry, new at each attachment.
// False elsewhere, and when the text cannot be found or does not fit.
bool FindDeviceAttachment(const char *sysRoot, const char *path, char *attachment, std::size_t size);

#endif  // RXB540_PLATFORM_HIDAPI_DEVICE_ACCESS_H
