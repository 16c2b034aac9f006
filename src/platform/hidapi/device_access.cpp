#include "platform/hidapi/device_access.h"

#include <cstdio>
#include <cstring>

#ifdef __linux__
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The longest kernel name of a USB device: bus, then up to seven ports.
const std::size_t USB_NAME_MAX = 32;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A USB device as the kernel names it: the bus number, '-', and the port
// numbers from the root joined by '.' ("1-1", "3-1.4.2").
bool IsUsbDeviceName(const char *name, std::size_t length) {
    std::size_t dashes = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = name[i];
        if (c == '-' || c == '.') {
            // Each separator stands between two numbers; the one dash comes first.
            const bool between = i > 0 && i + 1 < length && IsDigit(name[i - 1]) && IsDigit(name[i + 1]);
            if (!between || (c == '-' ? dashes++ != 0 : dashes == 0)) {
                return false;
            }
        } else if (!IsDigit(c)) {
            return false;
        }
    }
    return dashes == 1;
}

// A number from a sysfs attribute such as busnum: decimal digits and a line
// feed, up to 999.
bool ReadNumber(const char *dir, const char *attribute, unsigned *value) {
    char path[256];
    if (std::snprintf(path, sizeof path, "%s/%s", dir, attribute) >= static_cast<int>(sizeof path)) {
        return false;
    }
    std::FILE *file = std::fopen(path, "re");
    if (file == nullptr) {
        return false;
    }
    char text[8] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    unsigned number = 0;
    std::size_t digits = 0;
    for (; digits < length && text[digits] >= '0' && text[digits] <= '9' && digits < 3; ++digits) {
        number = number * 10 + static_cast<unsigned>(text[digits] - '0');
    }
    if (digits == 0 || (digits < length && text[digits] != '\n')) {
        return false;
    }
    *value = number;
    return true;
}

bool CopyText(const char *text, char *node, std::size_t nodeSize) {
    const std::size_t length = std::strlen(text);
    if (length >= nodeSize) {
        return false;
    }
    std::memcpy(node, text, length + 1);
    return true;
}

}  // namespace

bool FindDeviceNode(const char *sysRoot, const char *path, char *node, std::size_t nodeSize) {
    if (path[0] == '/') {
        return CopyText(path, node, nodeSize);
    }
    const char *colon = std::strchr(path, ':');
    const std::size_t length = colon != nullptr ? static_cast<std::size_t>(colon - path) : 0;
    if (length == 0 || length > USB_NAME_MAX || !IsUsbDeviceName(path, length)) {
        return false;
    }
    char dir[256];
    unsigned bus = 0;
    unsigned device = 0;
    if (std::snprintf(dir, sizeof dir, "%s/bus/usb/devices/%.*s", sysRoot, static_cast<int>(length), path) >=
            static_cast<int>(sizeof dir) ||
        !ReadNumber(dir, "busnum", &bus) || !ReadNumber(dir, "devnum", &device)) {
        return false;
    }
    char usbfs[32];
    std::snprintf(usbfs, sizeof usbfs, "/dev/bus/usb/%03u/%03u", bus, device);
    return CopyText(usbfs, node, nodeSize);
}

bool MayOpenDevice(const char *path) {
    char node[256];
    if (!FindDeviceNode("/sys", path, node, sizeof node) || access(node, R_OK | W_OK) == 0) {
        return true;
    }
    return errno != EACCES && errno != EPERM && errno != EROFS && errno != ENOENT && errno != ENOTDIR;
}

// The canonical folder of the hidraw node's HID device ends in its name.
bool FindDeviceAttachment(const char *sysRoot, const char *path, char *attachment, std::size_t size) {
    if (path[0] != '/') {
        return FindDeviceNode(sysRoot, path, attachment, size);
    }
    struct stat node;
    char link[128];
    if (stat(path, &node) != 0 || !S_ISCHR(node.st_mode) ||
        std::snprintf(link, sizeof link, "%s/dev/char/%u:%u/device", sysRoot, major(node.st_rdev),
                      minor(node.st_rdev)) >= static_cast<int>(sizeof link)) {
        return false;
    }
    char *device = realpath(link, nullptr);
    if (device == nullptr) {
        return false;
    }
    const char *slash = std::strrchr(device, '/');
    const bool copied = slash != nullptr && slash[1] != '\0' && CopyText(slash + 1, attachment, size);
    free(device);
    return copied;
}

#else

// Only Linux is known to name a node in hidapi's paths.
bool FindDeviceNode(const char *, const char *, char *, std::size_t) {
    return false;
}

#ifdef __APPLE__
bool FindDeviceAttachment(const char *, const char *path, char *attachment, std::size_t size) {
    const std::size_t length = std::strlen(path);
    if (length >= size) {
        return false;
    }
    std::memcpy(attachment, path, length + 1);
    return true;
}
#else
bool FindDeviceAttachment(const char *, const char *, char *, std::size_t) {
    return false;
}
#endif

bool MayOpenDevice(const char *) {
    return true;
}

#endif
