#include "platform/linux/hidraw_paths.h"
#include "platform/linux/hidraw_test_roots.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hidraw {
namespace {

const char DEFAULT_SYSFS_ROOT[] = "/sys";
const char DEFAULT_DEVICE_ROOT[] = "/dev";
const char HIDRAW_PREFIX[] = "hidraw";

// A folder that the backend reads below; `usable` is false when the folder
// named for the tests was too long to be opened.
struct Root {
    char path[PATH_MAX];
    bool usable;
    char canonical[PATH_MAX];
    bool canonicalKnown;
};

Root g_sysfsRoot = {"/sys", true, "", false};
Root g_deviceRoot = {"/dev", true, "", false};

void SetRoot(Root *root, const char *path, const char *fallback) {
    const char *chosen = path != nullptr ? path : fallback;
    root->usable = std::strlen(chosen) < sizeof(root->path);
    root->canonicalKnown = false;
    std::snprintf(root->path, sizeof(root->path), "%s", root->usable ? chosen : "");
}

}  // namespace

// NOLINTNEXTLINE(cert-dcl50-cpp)
bool FormatPath(PathBuffer out, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(out, sizeof(PathBuffer), format, arguments);
    va_end(arguments);
    return length >= 0 && static_cast<std::size_t>(length) < sizeof(PathBuffer);
}

bool ParseHidrawName(const char *name, unsigned long *number) {
    const std::size_t prefixLength = sizeof(HIDRAW_PREFIX) - 1;
    if (std::strncmp(name, HIDRAW_PREFIX, prefixLength) != 0) {
        return false;
    }
    const char *digits = name + prefixLength;
    const std::size_t digitCount = std::strlen(digits);
    if (digitCount == 0 || digitCount > HIDRAW_MAX_DIGITS) {
        return false;
    }
    for (const char *p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
    }
    *number = std::strtoul(digits, nullptr, 10);
    return true;
}

void NodeNameOfPath(const char *path, NodeName name) {
    const char *slash = std::strrchr(path, '/');
    const char *last = slash == nullptr ? path : slash + 1;
    unsigned long number = 0;
    CopyNodeName(name, ParseHidrawName(last, &number) ? last : "");
}

void CopyNodeName(NodeName out, const char *name) {
    std::memcpy(out, name, std::strlen(name) + 1);
}

bool HidrawClassDir(PathBuffer out) {
    return g_sysfsRoot.usable && FormatPath(out, "%s/class/hidraw", g_sysfsRoot.path);
}

bool CharDeviceEntryPath(PathBuffer out, DeviceNumber number, const char *file) {
    return g_sysfsRoot.usable && FormatPath(out, "%s/dev/char/%u:%u%s%s", g_sysfsRoot.path, number.major,
                                            number.minor, file[0] != '\0' ? "/" : "", file);
}

bool NodeSysfsDevicePath(PathBuffer out, DeviceNumber number, const char *file) {
    return g_sysfsRoot.usable && FormatPath(out, "%s/dev/char/%u:%u/device%s%s", g_sysfsRoot.path,
                                            number.major, number.minor, file[0] != '\0' ? "/" : "", file);
}

bool NodeDevPath(PathBuffer out, const char *name) {
    return g_deviceRoot.usable && FormatPath(out, "%s/%s", g_deviceRoot.path, name);
}

// The kernel tells the canonical path of an open descriptor in one step
// through /proc, where realpath looks at every component of the path in turn,
// a dozen or more system calls for a sysfs device; realpath remains for a
// host without /proc.
bool CanonicalPath(const char *path, PathBuffer canonical) {
    const int fd = open(path, O_PATH | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, canonical, sizeof(PathBuffer) - 1);
    close(fd);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof(PathBuffer) - 1 && canonical[0] == '/') {
        canonical[length] = '\0';
        return true;
    }
    return realpath(path, canonical) != nullptr;
}

const char *CanonicalSysfsRoot() {
    if (!g_sysfsRoot.canonicalKnown) {
        g_sysfsRoot.canonicalKnown =
            g_sysfsRoot.usable && CanonicalPath(g_sysfsRoot.path, g_sysfsRoot.canonical);
    }
    return g_sysfsRoot.canonicalKnown ? g_sysfsRoot.canonical : nullptr;
}

}  // namespace hidraw

void SetHidrawRootsForTests(const char *sysfsRoot, const char *deviceRoot) {
    hidraw::SetRoot(&hidraw::g_sysfsRoot, sysfsRoot, hidraw::DEFAULT_SYSFS_ROOT);
    hidraw::SetRoot(&hidraw::g_deviceRoot, deviceRoot, hidraw::DEFAULT_DEVICE_ROOT);
}
