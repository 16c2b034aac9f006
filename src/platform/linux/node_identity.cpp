#include "platform/linux/node_identity.h"

#include "platform/linux/hidraw_test_roots.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>

namespace hidraw {
namespace {

HidrawStandInNumber g_standInNumber = nullptr;

bool NumberOfFile(const struct stat &file, DeviceNumber *number) {
    if (S_ISCHR(file.st_mode)) {
        number->major = major(file.st_rdev);
        number->minor = minor(file.st_rdev);
        return true;
    }
    return S_ISREG(file.st_mode) && g_standInNumber != nullptr &&
           g_standInNumber(file, &number->major, &number->minor);
}

// The entry's subsystem link leads to <sysfs>/class/hidraw for a hidraw
// device, and to another class (mem for /dev/null, tty, ...) otherwise.
bool IsHidrawClassDevice(DeviceNumber number) {
    const char *root = CanonicalSysfsRoot();
    PathBuffer link;
    PathBuffer subsystem;
    PathBuffer hidrawClass;
    return root != nullptr && CharDeviceEntryPath(link, number, "subsystem") &&
           CanonicalPath(link, subsystem) &&
           FormatPath(hidrawClass, "%s/class/hidraw", std::strcmp(root, "/") == 0 ? "" : root) &&
           std::strcmp(subsystem, hidrawClass) == 0;
}

}  // namespace

bool IdentifyHidrawPath(const char *path, DeviceNumber *number) {
    struct stat file;
    return stat(path, &file) == 0 && NumberOfFile(file, number) && IsHidrawClassDevice(*number);
}

bool DescriptorReaches(int fd, DeviceNumber number) {
    struct stat file;
    DeviceNumber reached{};
    return fstat(fd, &file) == 0 && NumberOfFile(file, &reached) && reached.major == number.major &&
           reached.minor == number.minor;
}

bool HidDeviceName(DeviceNumber number, char *name, std::size_t size) {
    PathBuffer deviceLink;
    PathBuffer deviceDir;
    if (!NodeSysfsDevicePath(deviceLink, number, "") || !CanonicalPath(deviceLink, deviceDir)) {
        return false;
    }
    const char *slash = std::strrchr(deviceDir, '/');
    const char *last = slash != nullptr ? slash + 1 : deviceDir;
    const std::size_t length = std::strlen(last);
    if (length == 0 || length >= size) {
        return false;
    }
    std::memcpy(name, last, length + 1);
    return true;
}

}  // namespace hidraw

void SetHidrawStandInsForTests(HidrawStandInNumber numberOf) {
    hidraw::g_standInNumber = numberOf;
}
