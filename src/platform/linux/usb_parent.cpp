#include "platform/linux/usb_parent.h"

#include <linux/input.h>
#include <unistd.h>

#include <cstring>

namespace hidraw {
namespace {

// The first folder above the hidraw device's HID device that has an idVendor
// attribute, never above the sysfs root.
bool FindUsbDeviceDir(DeviceNumber number, PathBuffer usbDir) {
    const char *root = CanonicalSysfsRoot();
    PathBuffer deviceDir;
    PathBuffer dir;
    if (root == nullptr || !NodeSysfsDevicePath(deviceDir, number, "") || !CanonicalPath(deviceDir, dir)) {
        return false;
    }
    const std::size_t rootLength = std::strcmp(root, "/") == 0 ? 0 : std::strlen(root);
    std::size_t dirLength = std::strlen(dir);
    while (dirLength > rootLength + 1 && std::strncmp(dir, root, rootLength) == 0 && dir[rootLength] == '/') {
        PathBuffer probe;
        if (FormatPath(probe, "%s/idVendor", dir) && access(probe, F_OK) == 0) {
            std::memcpy(usbDir, dir, dirLength + 1);
            return true;
        }
        char *slash = std::strrchr(dir, '/');
        *slash = '\0';
        dirLength = static_cast<std::size_t>(slash - dir);
    }
    return false;
}

}  // namespace

bool FindNodeUsbDevice(DeviceNumber number, const SysfsFile &uevent, PathBuffer usbDir) {
    HidId id;
    return ReadNodeHidId(uevent, &id) && id.bus == BUS_USB && FindUsbDeviceDir(number, usbDir);
}

bool ReadUsbAttribute(const char *usbDir, const char *attribute, SysfsFile *value) {
    PathBuffer path;
    return FormatPath(path, "%s/%s", usbDir, attribute) && ReadAttribute(path, value);
}

unsigned short ReadUsbVersionNumber(DeviceNumber number) {
    PathBuffer usbDir;
    SysfsFile text;
    unsigned long version = 0;
    if (!FindUsbDeviceDir(number, usbDir) || !ReadUsbAttribute(usbDir, "bcdDevice", &text)) {
        return 0;
    }
    return ParseHexValue({text.data, text.length}, 0xFFFF, &version) ? static_cast<unsigned short>(version)
                                                                     : 0;
}

}  // namespace hidraw
