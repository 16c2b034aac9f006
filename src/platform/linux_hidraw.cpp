// The platform operations on Linux, on top of the kernel's hidraw driver.
//
// - Device list: a snapshot of the hidraw nodes named in /sys/class/hidraw,
//   taken when the list is made and sorted by node number (hidraw2 before
//   hidraw10). Interface index N is the N-th node of the snapshot.
// - Interface path: /dev/hidrawN.
// - Handle: the file descriptor of the open node, stored as descriptor + 1 so
//   that descriptor 0 is not the null handle and no descriptor is
//   INVALID_HANDLE_VALUE.
// - Vendor and product ID: the HIDIOCGRAWINFO request on the descriptor.
// - Strings: the attributes that the kernel exposes in sysfs, as UTF-8,
//   converted to UTF-16 for the caller.
// - Feature report: the HIDIOCSFEATURE request; the first byte is the report
//   ID, 0 for a device without numbered reports.
//
// A discovery pass visits every node, so the work per node is kept small:
// paths and sysfs files live in fixed buffers on the stack (no heap use per
// node), and a node whose IDs come from the HIDIOCGRAWINFO request costs no
// sysfs read unless it sits on the USB bus, whose release number is read.
// The heap holds only the device list and the table of open descriptors.
#include "platform/hid_platform.h"
#include "platform/linux_hidraw_test_roots.h"
#include "platform/shared/utf16_text.h"

#include <fcntl.h>
#include <dirent.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The interface class of HID devices, {4D1E55B2-F16F-11CF-88CB-001111000030}.
const GUID HID_INTERFACE_CLASS = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

const char DEFAULT_SYSFS_ROOT[] = "/sys";
const char DEFAULT_DEVICE_ROOT[] = "/dev";
const char HIDRAW_PREFIX[] = "hidraw";
const std::size_t HIDRAW_MAX_DIGITS = 9;
// "hidraw", at most nine digits and the terminating zero.
const std::size_t NODE_NAME_BYTES = sizeof(HIDRAW_PREFIX) + HIDRAW_MAX_DIGITS;
// Every sysfs attribute fits in one page; nothing longer is read from a file.
const std::size_t SYSFS_READ_LIMIT = 4096;

// A path in a fixed buffer; a path that does not fit could not be opened.
typedef char PathBuffer[PATH_MAX];

// A folder that the backend reads below; `usable` is false when the folder
// named for the tests was too long to be opened. The canonical form of the
// sysfs root bounds every walk up the device tree; it is found on first use.
struct Root {
    char path[PATH_MAX];
    bool usable;
    char canonical[PATH_MAX];
    bool canonicalKnown;
};

Root g_sysfsRoot = {"/sys", true, "", false};
Root g_deviceRoot = {"/dev", true, "", false};

struct HidrawNode {
    unsigned long number;
    char name[NODE_NAME_BYTES];
};

// The object behind an HDEVINFO.
struct DeviceList {
    HidrawNode *nodes;
    std::size_t count;
};

// An open descriptor with the name of the hidraw node it was opened as.
struct OpenNode {
    int fd;
    char name[NODE_NAME_BYTES];  // empty when the path did not end in a node name
};

// The string calls receive only a handle, yet the strings live in sysfs under
// the node's name. CreateFileA therefore records the name of the node that
// each descriptor was opened as; the paths that this backend hands out always
// end in that name. Asking the descriptor itself (its device number through
// /sys/dev/char) would work only for a real character device, not for the
// regular files that stand in for nodes in the backend's tests, so the same
// lookup serves both. The table grows only when more descriptors are open at
// once than ever before; discovery holds one at a time.
OpenNode *g_openNodes = nullptr;
std::size_t g_openNodeCount = 0;
std::size_t g_openNodeCapacity = 0;

// The content of one small sysfs file.
struct SysfsFile {
    char data[SYSFS_READ_LIMIT];
    std::size_t length;
};

// A run of bytes inside a buffer, not terminated.
struct TextSpan {
    const char *data;
    std::size_t length;
};

struct HidId {
    unsigned long bus;
    unsigned long vendor;
    unsigned long product;
};

enum HidStringKind { MANUFACTURER_STRING, PRODUCT_STRING, SERIAL_STRING };

bool IsHidInterfaceClass(const GUID *guid) {
    return guid != nullptr && std::memcmp(guid, &HID_INTERFACE_CLASS, sizeof(GUID)) == 0;
}

void SetRoot(Root *root, const char *path, const char *fallback) {
    const char *chosen = path != nullptr ? path : fallback;
    root->usable = std::strlen(chosen) < sizeof(root->path);
    root->canonicalKnown = false;
    std::snprintf(root->path, sizeof(root->path), "%s", root->usable ? chosen : "");
}

// Formats a path into `out`; false when it does not fit. The format attribute
// lets the compiler check every call's arguments (-Wformat=2).
// NOLINTNEXTLINE(cert-dcl50-cpp)
__attribute__((format(printf, 2, 3))) bool FormatPath(PathBuffer out, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(out, sizeof(PathBuffer), format, arguments);
    va_end(arguments);
    return length >= 0 && static_cast<std::size_t>(length) < sizeof(PathBuffer);
}

// Accepts exactly "hidraw" followed by one to nine decimal digits.
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

// Copies a name that ParseHidrawName accepted, which always fits.
void CopyNodeName(char (&out)[NODE_NAME_BYTES], const char *name) {
    std::memcpy(out, name, std::strlen(name) + 1);
}

bool HidrawClassDir(PathBuffer out) {
    return g_sysfsRoot.usable && FormatPath(out, "%s/class/hidraw", g_sysfsRoot.path);
}

// The HID device that a hidraw node belongs to, or a file in its folder.
bool NodeDevicePath(PathBuffer out, const char *name, const char *file) {
    return g_sysfsRoot.usable && FormatPath(out, "%s/class/hidraw/%s/device%s%s", g_sysfsRoot.path, name,
                                            file[0] != '\0' ? "/" : "", file);
}

bool AppendNode(DeviceList *list, std::size_t *capacity, unsigned long number, const char *name) {
    if (list->count == *capacity) {
        const std::size_t grown = *capacity == 0 ? 16 : *capacity * 2;
        void *nodes = std::realloc(list->nodes, grown * sizeof(HidrawNode));
        if (nodes == nullptr) {
            return false;
        }
        list->nodes = static_cast<HidrawNode *>(nodes);
        *capacity = grown;
    }
    HidrawNode &node = list->nodes[list->count++];
    node.number = number;
    CopyNodeName(node.name, name);
    return true;
}

// A host without the hidraw class folder (no driver loaded) has no nodes.
// False only when memory for the snapshot ran out.
bool SnapshotHidrawNodes(DeviceList *list) {
    PathBuffer classDir;
    DIR *dir = HidrawClassDir(classDir) ? opendir(classDir) : nullptr;
    if (dir == nullptr) {
        return true;
    }
    std::size_t capacity = 0;
    bool ok = true;
    for (const dirent *entry = readdir(dir); ok && entry != nullptr; entry = readdir(dir)) {
        unsigned long number = 0;
        if (ParseHidrawName(entry->d_name, &number)) {
            ok = AppendNode(list, &capacity, number, entry->d_name);
        }
    }
    closedir(dir);
    std::sort(list->nodes, list->nodes + list->count,
              [](const HidrawNode &a, const HidrawNode &b) { return a.number < b.number; });
    return ok;
}

void DestroyList(DeviceList *list) {
    std::free(list->nodes);
    std::free(list);
}

DeviceList *ListFromHandle(HDEVINFO set) {
    if (set == nullptr || set == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return static_cast<DeviceList *>(set);
}

HANDLE HandleFromFd(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd) + 1);
}

// -1 for the null handle, INVALID_HANDLE_VALUE and anything no descriptor can be.
int FdFromHandle(HANDLE handle) {
    const std::intptr_t fd = reinterpret_cast<std::intptr_t>(handle) - 1;
    if (fd < 0 || fd > INT_MAX) {
        return -1;
    }
    return static_cast<int>(fd);
}

const OpenNode *FindOpenNode(int fd) {
    for (std::size_t i = 0; i < g_openNodeCount; ++i) {
        if (g_openNodes[i].fd == fd) {
            return &g_openNodes[i];
        }
    }
    return nullptr;
}

void ForgetOpenNode(int fd) {
    OpenNode *end = std::remove_if(g_openNodes, g_openNodes + g_openNodeCount,
                                   [fd](const OpenNode &node) { return node.fd == fd; });
    g_openNodeCount = static_cast<std::size_t>(end - g_openNodes);
}

// Only descriptors that CreateFileA handed out are handles: anything else
// (standard output, say) is refused rather than closed or written to.
int FdOfOpenHandle(HANDLE handle) {
    const int fd = FdFromHandle(handle);
    return fd >= 0 && FindOpenNode(fd) != nullptr ? fd : -1;
}

// The node name that a path ends in, or "" when it does not end in one.
void NodeNameOfPath(const char *path, char (&name)[NODE_NAME_BYTES]) {
    const char *slash = std::strrchr(path, '/');
    const char *last = slash == nullptr ? path : slash + 1;
    unsigned long number = 0;
    CopyNodeName(name, ParseHidrawName(last, &number) ? last : "");
}

bool RememberOpenNode(int fd, const char *path) {
    ForgetOpenNode(fd);
    if (g_openNodeCount == g_openNodeCapacity) {
        const std::size_t grown = g_openNodeCapacity == 0 ? 4 : g_openNodeCapacity * 2;
        void *nodes = std::realloc(g_openNodes, grown * sizeof(OpenNode));
        if (nodes == nullptr) {
            return false;
        }
        g_openNodes = static_cast<OpenNode *>(nodes);
        g_openNodeCapacity = grown;
    }
    OpenNode &node = g_openNodes[g_openNodeCount++];
    node.fd = fd;
    NodeNameOfPath(path, node.name);
    return true;
}

int OpenFlagsForAccess(DWORD access) {
    const bool read = (access & GENERIC_READ) != 0;
    const bool write = (access & GENERIC_WRITE) != 0;
    if (read && write) {
        return O_RDWR;
    }
    return write ? O_WRONLY : O_RDONLY;
}

// Reads at most SYSFS_READ_LIMIT bytes of a file; false when it cannot be read.
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

// A sysfs attribute holding one text value ends in a line feed.
bool ReadAttribute(const char *path, SysfsFile *value) {
    if (!ReadSmallFile(path, value)) {
        return false;
    }
    if (value->length > 0 && value->data[value->length - 1] == '\n') {
        --value->length;
    }
    return true;
}

// Finds "key=value" among the lines of a uevent file.
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

// Parses a whole value that holds one hexadecimal number up to `max`. The
// value is copied so that it ends in a zero byte; like any C string it ends
// at its first zero byte.
bool ParseHexValue(const TextSpan &text, unsigned long max, unsigned long *value) {
    char copy[SYSFS_READ_LIMIT + 1];
    std::memcpy(copy, text.data, text.length);
    copy[text.length] = '\0';
    const char *cursor = copy;
    return ParseHexField(&cursor, '\0', max, value);
}

// HID_ID is "bus:vendor:product" in hexadecimal, as the HID core writes it.
bool ParseHidId(const TextSpan &text, HidId *id) {
    char copy[SYSFS_READ_LIMIT + 1];
    std::memcpy(copy, text.data, text.length);
    copy[text.length] = '\0';
    const char *cursor = copy;
    return ParseHexField(&cursor, ':', 0xFFFF, &id->bus) &&
           ParseHexField(&cursor, ':', 0xFFFF, &id->vendor) &&
           ParseHexField(&cursor, '\0', 0xFFFF, &id->product);
}

bool ReadNodeUevent(const char *name, SysfsFile *uevent) {
    PathBuffer path;
    return name[0] != '\0' && NodeDevicePath(path, name, "uevent") && ReadSmallFile(path, uevent);
}

bool ReadNodeHidId(const SysfsFile &uevent, HidId *id) {
    TextSpan text;
    return FindUeventValue(uevent, "HID_ID", &text) && ParseHidId(text, id);
}

// The canonical form of an existing path, as realpath gives it. The kernel
// tells it for an open descriptor in one step through /proc, where realpath
// looks at every component of the path in turn, a dozen or more system calls
// for a sysfs device; realpath remains for a host without /proc.
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

// The USB device of a node on the USB bus: the first folder above the node's
// HID device that has an idVendor attribute, never above the sysfs root.
bool FindUsbDeviceDir(const char *name, PathBuffer usbDir) {
    PathBuffer deviceDir;
    PathBuffer dir;
    if (!g_sysfsRoot.canonicalKnown) {
        g_sysfsRoot.canonicalKnown = CanonicalPath(g_sysfsRoot.path, g_sysfsRoot.canonical);
    }
    if (!g_sysfsRoot.canonicalKnown || !NodeDevicePath(deviceDir, name, "") ||
        !CanonicalPath(deviceDir, dir)) {
        return false;
    }
    const char *root = g_sysfsRoot.canonical;
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

// The USB device of a node whose HID device sits on the USB bus. A device on
// another bus may still have a USB device above it (a Bluetooth keyboard
// behind a USB radio), whose strings are not the keyboard's, so the bus is
// checked first.
bool FindNodeUsbDevice(const char *name, const SysfsFile &uevent, PathBuffer usbDir) {
    HidId id;
    return ReadNodeHidId(uevent, &id) && id.bus == BUS_USB && FindUsbDeviceDir(name, usbDir);
}

// The release number of a node on the USB bus, 0 where sysfs does not tell it.
USHORT ReadUsbVersionNumber(const char *name) {
    PathBuffer usbDir;
    PathBuffer path;
    SysfsFile text;
    unsigned long version = 0;
    if (!FindUsbDeviceDir(name, usbDir) || !FormatPath(path, "%s/bcdDevice", usbDir) ||
        !ReadAttribute(path, &text)) {
        return 0;
    }
    return ParseHexValue({text.data, text.length}, 0xFFFF, &version) ? static_cast<USHORT>(version) : 0;
}

// Writes the text as UTF-16 into the caller's buffer (see Utf16Output): a
// string longer than the buffer is cut before the last character that fits.
// A buffer without room for the zero unit gets nothing.
BOOLEAN WriteUtf16String(const TextSpan &utf8, PVOID buffer, ULONG length) {
    Utf16Output out;
    if (!BeginUtf16(&out, buffer, length)) {
        return FALSE;
    }
    std::size_t pos = 0;
    while (pos < utf8.length) {
        char32_t codePoint;
        DecodeUtf8(utf8.data, utf8.length, &pos, &codePoint);
        if (!AppendUtf16(&out, codePoint)) {
            break;
        }
    }
    EndUtf16(&out);
    return TRUE;
}

// A USB device's strings are the attributes of its USB device, as read when
// it was plugged in. Other buses give only the device name and, when it is
// not empty, the unique ID (for Bluetooth the device address); they have no
// manufacturer string. The string found is written to the caller's buffer.
BOOLEAN CopyDeviceString(const char *name, HidStringKind kind, PVOID buffer, ULONG length) {
    SysfsFile uevent;
    PathBuffer usbDir;
    if (!ReadNodeUevent(name, &uevent)) {
        return FALSE;
    }
    if (FindNodeUsbDevice(name, uevent, usbDir)) {
        const char *attribute = kind == MANUFACTURER_STRING ? "manufacturer"
                                : kind == PRODUCT_STRING    ? "product"
                                                            : "serial";
        PathBuffer path;
        SysfsFile value;
        if (!FormatPath(path, "%s/%s", usbDir, attribute) || !ReadAttribute(path, &value)) {
            return FALSE;
        }
        return WriteUtf16String({value.data, value.length}, buffer, length);
    }
    HidId id;
    if (!ReadNodeHidId(uevent, &id) || id.bus == BUS_USB || kind == MANUFACTURER_STRING) {
        return FALSE;
    }
    TextSpan text;
    if (kind == PRODUCT_STRING) {
        return FindUeventValue(uevent, "HID_NAME", &text) ? WriteUtf16String(text, buffer, length) : FALSE;
    }
    return FindUeventValue(uevent, "HID_UNIQ", &text) && text.length > 0
               ? WriteUtf16String(text, buffer, length)
               : FALSE;
}

BOOLEAN GetDeviceString(HANDLE handle, HidStringKind kind, PVOID buffer, ULONG length) {
    const OpenNode *node = FindOpenNode(FdFromHandle(handle));
    if (node == nullptr) {
        return FALSE;
    }
    return CopyDeviceString(node->name, kind, buffer, length);
}

}  // namespace

void SetHidrawRootsForTests(const char *sysfsRoot, const char *deviceRoot) {
    SetRoot(&g_sysfsRoot, sysfsRoot, DEFAULT_SYSFS_ROOT);
    SetRoot(&g_deviceRoot, deviceRoot, DEFAULT_DEVICE_ROOT);
}

void HidD_GetHidGuid(LPGUID HidGuid) {
    if (HidGuid != nullptr) {
        *HidGuid = HID_INTERFACE_CLASS;
    }
}

// Only the HID interface class has members here. The enumerator and window
// arguments have no meaning on Linux and are ignored. Without the memory for
// the list the call fails, as it does on Windows.
HDEVINFO SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR, HWND, DWORD Flags) {
    DeviceList *list = static_cast<DeviceList *>(std::calloc(1, sizeof(DeviceList)));
    if (list == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    if (IsHidInterfaceClass(ClassGuid) && (Flags & DIGCF_DEVICEINTERFACE) != 0 &&
        !SnapshotHidrawNodes(list)) {
        DestroyList(list);
        return INVALID_HANDLE_VALUE;
    }
    return list;
}

// Reserved carries the interface's index in the list, for the detail call.
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID *InterfaceClassGuid,
                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    const DeviceList *list = ListFromHandle(DeviceInfoSet);
    if (list == nullptr || DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        !IsHidInterfaceClass(InterfaceClassGuid) || MemberIndex >= list->count) {
        return FALSE;
    }
    DeviceInterfaceData->InterfaceClassGuid = HID_INTERFACE_CLASS;
    DeviceInterfaceData->Flags = SPINT_ACTIVE;
    DeviceInterfaceData->Reserved = MemberIndex;
    return TRUE;
}

// Without a buffer the call reports the size that the detail record needs and
// fails, as the size query does on Windows. With a buffer, cbSize must hold the
// size of the record's header and the buffer must have the size reported.
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA) {
    const DeviceList *list = ListFromHandle(DeviceInfoSet);
    if (list == nullptr || DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        DeviceInterfaceData->Reserved >= list->count) {
        return FALSE;
    }
    PathBuffer path;
    if (!g_deviceRoot.usable ||
        !FormatPath(path, "%s/%s", g_deviceRoot.path, list->nodes[DeviceInterfaceData->Reserved].name)) {
        return FALSE;
    }
    const std::size_t pathLength = std::strlen(path);
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const DWORD needed =
        static_cast<DWORD>(std::max(pathOffset + pathLength + 1, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));
    if (RequiredSize != nullptr) {
        *RequiredSize = needed;
    }
    if (DeviceInterfaceDetailData == nullptr ||
        DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
        DeviceInterfaceDetailDataSize < needed) {
        return FALSE;
    }
    char *pathOut = reinterpret_cast<char *>(DeviceInterfaceDetailData) + pathOffset;
    std::memcpy(pathOut, path, pathLength + 1);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    DeviceList *list = ListFromHandle(DeviceInfoSet);
    if (list == nullptr) {
        return FALSE;
    }
    DestroyList(list);
    return TRUE;
}

// Linux has no share modes, so dwShareMode has nothing to map to. Only an
// existing node is opened; nothing is ever created.
HANDLE CreateFileA(PCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING) {
        return INVALID_HANDLE_VALUE;
    }
    const int fd = open(lpFileName, OpenFlagsForAccess(dwDesiredAccess) | O_CLOEXEC);
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    if (!RememberOpenNode(fd, lpFileName)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return HandleFromFd(fd);
}

BOOL CloseHandle(HANDLE hObject) {
    const int fd = FdOfOpenHandle(hObject);
    if (fd < 0) {
        return FALSE;
    }
    ForgetOpenNode(fd);
    return close(fd) == 0 ? TRUE : FALSE;
}

// The IDs and the bus come from the HIDIOCGRAWINFO request. Where the
// descriptor does not answer it (a regular file standing in for the node in
// the backend's tests), they come from the HID_ID line of the node's uevent,
// which holds the same values that the request reports for a real node. The
// release number is the USB device's; other buses do not tell it.
BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
    const int fd = FdOfOpenHandle(HidDeviceObject);
    if (fd < 0 || Attributes == nullptr) {
        return FALSE;
    }
    const char *name = FindOpenNode(fd)->name;
    hidraw_devinfo info{};
    HidId id{};
    if (ioctl(fd, HIDIOCGRAWINFO, &info) == 0) {
        id.bus = info.bustype;
        id.vendor = static_cast<std::uint16_t>(info.vendor);
        id.product = static_cast<std::uint16_t>(info.product);
    } else {
        SysfsFile uevent;
        if (!ReadNodeUevent(name, &uevent) || !ReadNodeHidId(uevent, &id)) {
            return FALSE;
        }
    }
    Attributes->Size = sizeof(HIDD_ATTRIBUTES);
    Attributes->VendorID = static_cast<USHORT>(id.vendor);
    Attributes->ProductID = static_cast<USHORT>(id.product);
    Attributes->VersionNumber = id.bus == BUS_USB && name[0] != '\0' ? ReadUsbVersionNumber(name) : 0;
    return TRUE;
}

BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, MANUFACTURER_STRING, Buffer, BufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, PRODUCT_STRING, Buffer, BufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, SERIAL_STRING, Buffer, BufferLength);
}

// The length is part of the request number and has only _IOC_SIZEBITS bits;
// a longer report cannot be expressed and is refused rather than truncated.
BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    const int fd = FdOfOpenHandle(HidDeviceObject);
    if (fd < 0 || ReportBuffer == nullptr || ReportBufferLength == 0 || ReportBufferLength > _IOC_SIZEMASK) {
        return FALSE;
    }
    return ioctl(fd, HIDIOCSFEATURE(ReportBufferLength), ReportBuffer) < 0 ? FALSE : TRUE;
}
