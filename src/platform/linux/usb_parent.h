// The USB device above a hidraw node, whose attributes hold the strings and
// the release number that the device reported when it was plugged in.
#ifndef RXB540_PLATFORM_LINUX_USB_PARENT_H
#define RXB540_PLATFORM_LINUX_USB_PARENT_H

#include "platform/linux/hidraw_paths.h"
#include "platform/linux/sysfs_files.h"

namespace hidraw {

// The USB device of hidraw device `number` when its HID device sits on the USB bus, as its
// uevent says. A device on another bus may still have a USB device above it
// (a Bluetooth keyboard behind a USB radio), whose strings are not the
// device's own, so the bus is checked first.
bool FindNodeUsbDevice(DeviceNumber number, const SysfsFile &uevent, PathBuffer usbDir);

// Reads one attribute of the USB device found above (manufacturer, product,
// serial): false when the device has none or it cannot be read.
bool ReadUsbAttribute(const char *usbDir, const char *attribute, SysfsFile *value);

// The release number of a hidraw device on the USB bus, 0 where sysfs does
// not tell it.
unsigned short ReadUsbVersionNumber(DeviceNumber number);

}  // namespace hidraw

#endif  // RXB540_PLATFORM_LINUX_USB_PARENT_H
