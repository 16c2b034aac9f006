#include "platform/linux/sysfs_files.h"

#include "platform/linux/hidraw_paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace hidraw {
namespace {

// A span copied into a buffer of its own so that it ends in a zero byte.
struct TerminatedCopy {
    char text[SYSFS_READ_LIMIT + 1];
};

void Terminate(const TextSpan &span, TerminatedCopy *copy) {
    std::memcpy(copy->text, span.data, span.length);
    copy->text[span.length] = '\0';
}

// Reads one hexadecimal field that ends in `terminator` and moves past both.
bool ParseHexField(const char **cursor, char terminator, unsigned long max, unsigned long *value) {
    const char *start = *cursor;
    const bool isHexDigit = (*start >= '0' && *start <= '9') || (*start >= 'A' && *start <= 'F') ||
                            (*start >= 'a' && *start <= 'f');
    if (!isHexDigit) {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(start, &end, 16);
    if (errno != 0 || *end != terminator || parsed > max) {
        return false;
    }
    *value = parsed;
    *cursor = terminator == '\0' ? end : end + 1;
    return true;
}

// HID_ID is "bus:vendor:product" in hexadecimal, as the HID core writes it.
bool ParseHidId(const TextSpan &text, HidId *id) {
    TerminatedCopy copy;
    Terminate(text, &copy);
    const char *cursor = copy.text;
    return ParseHexField(&cursor, ':', 0xFFFF, &id->bus) &&
           ParseHexField(&cursor, ':', 0xFFFF, &id->vendor) &&
           ParseHexField(&cursor, '\0', 0xFFFF, &id->product);
}

}  // namespace

bool ReadSmallFile(const char *path, SysfsFile *file) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::size_t used = 0;
    bool ok = true;
    while (used < sizeof(file->data)) {
        const ssize_t got = read(fd, file->data + used, sizeof(file->data) - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ok = false;
        }
        if (got <= 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    close(fd);
    file->length = used;
    return ok;
}

bool ReadAttribute(const char *path, SysfsFile *value) {
    if (!ReadSmallFile(path, value)) {
        return false;
    }
    if (value->length > 0 && value->data[value->length - 1] == '\n') {
        --value->length;
    }
    return true;
}

bool FindUeventValue(const SysfsFile &uevent, const char *key, TextSpan *value) {
    const std::size_t keyLength = std::strlen(key);
    std::size_t lineStart = 0;
    while (lineStart < uevent.length) {
        const char *lineEndAt =
            static_cast<const char *>(std::memchr(uevent.data + lineStart, '\n', uevent.length - lineStart));
        const std::size_t lineEnd =
            lineEndAt == nullptr ? uevent.length : static_cast<std::size_t>(lineEndAt - uevent.data);
        const std::size_t lineLength = lineEnd - lineStart;
        if (lineLength > keyLength && std::memcmp(uevent.data + lineStart, key, keyLength) == 0 &&
            uevent.data[lineStart + keyLength] == '=') {
            *value = {uevent.data + lineStart + keyLength + 1, lineLength - keyLength - 1};
            return true;
        }
        lineStart = lineEnd + 1;
    }
    return false;
}

bool ParseHexValue(const TextSpan &text, unsigned long max, unsigned long *value) {
    TerminatedCopy copy;
    Terminate(text, &copy);
    const char *cursor = copy.text;
    return ParseHexField(&cursor, '\0', max, value);
}

bool ReadNodeUevent(DeviceNumber number, SysfsFile *uevent) {
    PathBuffer path;
    return NodeSysfsDevicePath(path, number, "uevent") && ReadSmallFile(path, uevent);
}

bool ReadNodeHidId(const SysfsFile &uevent, HidId *id) {
    TextSpan text;
    return FindUeventValue(uevent, "HID_ID", &text) && ParseHidId(text, id);
}

}  // namespace hidraw
