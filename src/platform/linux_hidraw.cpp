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
#include "platform/hid_platform.h"
#include "platform/linux_hidraw_test_roots.h"

#include <fcntl.h>
#include <dirent.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// The interface class of HID devices, {4D1E55B2-F16F-11CF-88CB-001111000030}.
const GUID HID_INTERFACE_CLASS = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const DWORD SPINT_ACTIVE = 0x00000001;

const char DEFAULT_SYSFS_ROOT[] = "/sys";
const char DEFAULT_DEVICE_ROOT[] = "/dev";
const char HIDRAW_PREFIX[] = "hidraw";
// Every sysfs attribute fits in one page; nothing longer is read from a file.
const std::size_t SYSFS_READ_LIMIT = 4096;
const char16_t REPLACEMENT_CHARACTER = 0xFFFD;

std::string g_sysfsRoot = DEFAULT_SYSFS_ROOT;
std::string g_deviceRoot = DEFAULT_DEVICE_ROOT;

struct HidrawNode {
    unsigned long number;
    std::string name;
};

// The object behind an HDEVINFO.
struct DeviceList {
    std::vector<HidrawNode> nodes;
};

// An open descriptor with the name of the hidraw node it was opened as.
struct OpenNode {
    int fd;
    std::string name;
};

// The string calls receive only a handle, yet the strings live in sysfs under
// the node's name. CreateFileA therefore records the name of the node that
// each descriptor was opened as; the paths that this backend hands out always
// end in that name. Asking the descriptor itself (its device number through
// /sys/dev/char) would work only for a real character device, not for the
// regular files that stand in for nodes in the backend's tests, so the same
// lookup serves both.
std::vector<OpenNode> g_openNodes;

struct HidId {
    unsigned long bus;
    unsigned long vendor;
    unsigned long product;
};

enum HidStringKind { MANUFACTURER_STRING, PRODUCT_STRING, SERIAL_STRING };

bool IsHidInterfaceClass(const GUID *guid) {
    return guid != nullptr && std::memcmp(guid, &HID_INTERFACE_CLASS, sizeof(GUID)) == 0;
}

// Accepts exactly "hidraw" followed by one to nine decimal digits.
bool ParseHidrawName(const char *name, unsigned long *number) {
    const std::size_t prefixLength = sizeof(HIDRAW_PREFIX) - 1;
    if (std::strncmp(name, HIDRAW_PREFIX, prefixLength) != 0) {
        return false;
    }
    const char *digits = name + prefixLength;
    const std::size_t digitCount = std::strlen(digits);
    if (digitCount == 0 || digitCount > 9) {
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

std::string HidrawClassDir() {
    return g_sysfsRoot + "/class/hidraw";
}

// The HID device that a hidraw node belongs to.
std::string NodeDeviceDir(const std::string &name) {
    return HidrawClassDir() + "/" + name + "/device";
}

// A host without the hidraw class folder (no driver loaded) has no nodes.
std::vector<HidrawNode> SnapshotHidrawNodes() {
    std::vector<HidrawNode> nodes;
    DIR *dir = opendir(HidrawClassDir().c_str());
    if (dir == nullptr) {
        return nodes;
    }
    for (const dirent *entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        HidrawNode node;
        if (ParseHidrawName(entry->d_name, &node.number)) {
            node.name = entry->d_name;
            nodes.push_back(node);
        }
    }
    closedir(dir);
    std::sort(nodes.begin(), nodes.end(),
              [](const HidrawNode &a, const HidrawNode &b) { return a.number < b.number; });
    return nodes;
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
    for (const OpenNode &node : g_openNodes) {
        if (node.fd == fd) {
            return &node;
        }
    }
    return nullptr;
}

void ForgetOpenNode(int fd) {
    g_openNodes.erase(std::remove_if(g_openNodes.begin(), g_openNodes.end(),
                                     [fd](const OpenNode &node) { return node.fd == fd; }),
                      g_openNodes.end());
}

// Only descriptors that CreateFileA handed out are handles: anything else
// (standard output, say) is refused rather than closed or written to.
int FdOfOpenHandle(HANDLE handle) {
    const int fd = FdFromHandle(handle);
    return fd >= 0 && FindOpenNode(fd) != nullptr ? fd : -1;
}

// The node name that a path ends in, or "" when it does not end in one.
std::string NodeNameOfPath(const char *path) {
    const char *slash = std::strrchr(path, '/');
    const char *name = slash == nullptr ? path : slash + 1;
    unsigned long number = 0;
    return ParseHidrawName(name, &number) ? std::string(name) : std::string();
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
bool ReadSmallFile(const std::string &path, std::string *content) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[SYSFS_READ_LIMIT];
    std::size_t used = 0;
    bool ok = true;
    while (used < sizeof(buffer)) {
        const ssize_t got = read(fd, buffer + used, sizeof(buffer) - used);
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
    if (ok) {
        content->assign(buffer, used);
    }
    return ok;
}

// A sysfs attribute holding one text value ends in a line feed.
bool ReadAttribute(const std::string &path, std::string *value) {
    if (!ReadSmallFile(path, value)) {
        return false;
    }
    if (!value->empty() && value->back() == '\n') {
        value->pop_back();
    }
    return true;
}

// Finds "key=value" among the lines of a uevent file.
bool FindUeventValue(const std::string &uevent, const char *key, std::string *value) {
    const std::string prefix = std::string(key) + "=";
    std::size_t lineStart = 0;
    while (lineStart < uevent.size()) {
        std::size_t lineEnd = uevent.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = uevent.size();
        }
        if (uevent.compare(lineStart, prefix.size(), prefix) == 0) {
            value->assign(uevent, lineStart + prefix.size(), lineEnd - lineStart - prefix.size());
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

// HID_ID is "bus:vendor:product" in hexadecimal, as the HID core writes it.
bool ParseHidId(const std::string &text, HidId *id) {
    const char *cursor = text.c_str();
    return ParseHexField(&cursor, ':', 0xFFFF, &id->bus) &&
           ParseHexField(&cursor, ':', 0xFFFF, &id->vendor) &&
           ParseHexField(&cursor, '\0', 0xFFFF, &id->product);
}

bool ReadNodeUevent(const std::string &name, std::string *uevent) {
    return !name.empty() && ReadSmallFile(NodeDeviceDir(name) + "/uevent", uevent);
}

bool ReadNodeHidId(const std::string &uevent, HidId *id) {
    std::string text;
    return FindUeventValue(uevent, "HID_ID", &text) && ParseHidId(text, id);
}

bool CanonicalPath(const std::string &path, std::string *canonical) {
    char *resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return false;
    }
    canonical->assign(resolved);
    std::free(resolved);
    return true;
}

// The USB device of a node on the USB bus: the first folder above the node's
// HID device that has an idVendor attribute, never above the sysfs root.
bool FindUsbDeviceDir(const std::string &name, std::string *usbDir) {
    std::string root;
    std::string dir;
    if (!CanonicalPath(g_sysfsRoot, &root) || !CanonicalPath(NodeDeviceDir(name), &dir)) {
        return false;
    }
    if (root == "/") {
        root.clear();
    }
    while (dir.size() > root.size() + 1 && dir.compare(0, root.size(), root) == 0 &&
           dir[root.size()] == '/') {
        if (access((dir + "/idVendor").c_str(), F_OK) == 0) {
            *usbDir = dir;
            return true;
        }
        dir.erase(dir.rfind('/'));
    }
    return false;
}

// The USB device of a node whose HID device sits on the USB bus. A device on
// another bus may still have a USB device above it (a Bluetooth keyboard
// behind a USB radio), whose strings are not the keyboard's, so the bus is
// checked first.
bool FindNodeUsbDevice(const std::string &name, const std::string &uevent, std::string *usbDir) {
    HidId id;
    return ReadNodeHidId(uevent, &id) && id.bus == BUS_USB && FindUsbDeviceDir(name, usbDir);
}

// The device's release number, 0 where the kernel does not tell it.
USHORT ReadVersionNumber(const std::string &name) {
    std::string uevent;
    std::string usbDir;
    std::string text;
    unsigned long version = 0;
    if (!ReadNodeUevent(name, &uevent) || !FindNodeUsbDevice(name, uevent, &usbDir) ||
        !ReadAttribute(usbDir + "/bcdDevice", &text)) {
        return 0;
    }
    const char *cursor = text.c_str();
    return ParseHexField(&cursor, '\0', 0xFFFF, &version) ? static_cast<USHORT>(version) : 0;
}

// A USB device's strings are the attributes of its USB device, as read when
// it was plugged in. Other buses give only the device name and, when it is
// not empty, the unique ID (for Bluetooth the device address); they have no
// manufacturer string.
bool ReadDeviceString(const std::string &name, HidStringKind kind, std::string *utf8) {
    std::string uevent;
    std::string usbDir;
    if (!ReadNodeUevent(name, &uevent)) {
        return false;
    }
    if (FindNodeUsbDevice(name, uevent, &usbDir)) {
        const char *attribute = kind == MANUFACTURER_STRING ? "manufacturer"
                                : kind == PRODUCT_STRING    ? "product"
                                                            : "serial";
        return ReadAttribute(usbDir + "/" + attribute, utf8);
    }
    HidId id;
    if (!ReadNodeHidId(uevent, &id) || id.bus == BUS_USB || kind == MANUFACTURER_STRING) {
        return false;
    }
    if (kind == PRODUCT_STRING) {
        return FindUeventValue(uevent, "HID_NAME", utf8);
    }
    return FindUeventValue(uevent, "HID_UNIQ", utf8) && !utf8->empty();
}

// Decodes the UTF-8 sequence at *pos and moves past it. An invalid or cut
// sequence gives U+FFFD and moves past its longest valid beginning, at least
// one byte, so that the next sequence is decoded on its own.
char32_t DecodeUtf8(const std::string &text, std::size_t *pos) {
    const unsigned char lead = static_cast<unsigned char>(text[*pos]);
    ++*pos;
    if (lead < 0x80) {
        return lead;
    }
    int length = 0;
    char32_t codePoint = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong forms
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return REPLACEMENT_CHARACTER;
    }
    for (int i = 1; i < length; ++i) {
        if (*pos >= text.size()) {
            return REPLACEMENT_CHARACTER;
        }
        const unsigned char next = static_cast<unsigned char>(text[*pos]);
        if (next < low || next > high) {
            return REPLACEMENT_CHARACTER;
        }
        low = 0x80;
        high = 0xBF;
        codePoint = (codePoint << 6) | (next & 0x3F);
        ++*pos;
    }
    return codePoint;
}

std::size_t EncodeUtf16(char32_t codePoint, char16_t units[2]) {
    if (codePoint < 0x10000) {
        units[0] = static_cast<char16_t>(codePoint);
        return 1;
    }
    codePoint -= 0x10000;
    units[0] = static_cast<char16_t>(0xD800 + (codePoint >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    return 2;
}

// Writes the text as UTF-16 into the caller's buffer, never past `length`
// bytes, and always ends it with a zero unit: a string longer than the buffer
// is cut before the last unit that fits, and a character that needs two units
// is never cut in half. A buffer without room for the zero unit gets nothing.
BOOLEAN WriteUtf16String(const std::string &utf8, PVOID buffer, ULONG length) {
    const std::size_t capacity = length / sizeof(char16_t);
    if (buffer == nullptr || capacity == 0) {
        return FALSE;
    }
    unsigned char *out = static_cast<unsigned char *>(buffer);
    std::size_t used = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char16_t units[2];
        const std::size_t count = EncodeUtf16(DecodeUtf8(utf8, &pos), units);
        if (used + count > capacity - 1) {
            break;
        }
        std::memcpy(out + used * sizeof(char16_t), units, count * sizeof(char16_t));
        used += count;
    }
    const char16_t terminator = 0;
    std::memcpy(out + used * sizeof(char16_t), &terminator, sizeof(terminator));
    return TRUE;
}

BOOLEAN GetDeviceString(HANDLE handle, HidStringKind kind, PVOID buffer, ULONG length) {
    const OpenNode *node = FindOpenNode(FdFromHandle(handle));
    std::string utf8;
    if (node == nullptr || !ReadDeviceString(node->name, kind, &utf8)) {
        return FALSE;
    }
    return WriteUtf16String(utf8, buffer, length);
}

}  // namespace

void SetHidrawRootsForTests(const char *sysfsRoot, const char *deviceRoot) {
    g_sysfsRoot = sysfsRoot != nullptr ? sysfsRoot : DEFAULT_SYSFS_ROOT;
    g_deviceRoot = deviceRoot != nullptr ? deviceRoot : DEFAULT_DEVICE_ROOT;
}

void HidD_GetHidGuid(LPGUID HidGuid) {
    if (HidGuid != nullptr) {
        *HidGuid = HID_INTERFACE_CLASS;
    }
}

// Only the HID interface class has members here. The enumerator and window
// arguments have no meaning on Linux and are ignored.
HDEVINFO SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR, HWND, DWORD Flags) {
    DeviceList *list = new (std::nothrow) DeviceList;
    if (list == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    if (IsHidInterfaceClass(ClassGuid) && (Flags & DIGCF_DEVICEINTERFACE) != 0) {
        list->nodes = SnapshotHidrawNodes();
    }
    return list;
}

// Reserved carries the interface's index in the list, for the detail call.
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID *InterfaceClassGuid,
                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    const DeviceList *list = ListFromHandle(DeviceInfoSet);
    if (list == nullptr || DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        !IsHidInterfaceClass(InterfaceClassGuid) || MemberIndex >= list->nodes.size()) {
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
        DeviceInterfaceData->Reserved >= list->nodes.size()) {
        return FALSE;
    }
    const std::string path = g_deviceRoot + "/" + list->nodes[DeviceInterfaceData->Reserved].name;
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const DWORD needed =
        static_cast<DWORD>(std::max(pathOffset + path.size() + 1, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));
    if (RequiredSize != nullptr) {
        *RequiredSize = needed;
    }
    if (DeviceInterfaceDetailData == nullptr ||
        DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
        DeviceInterfaceDetailDataSize < needed) {
        return FALSE;
    }
    char *pathOut = reinterpret_cast<char *>(DeviceInterfaceDetailData) + pathOffset;
    std::memcpy(pathOut, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    DeviceList *list = ListFromHandle(DeviceInfoSet);
    if (list == nullptr) {
        return FALSE;
    }
    delete list;
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
    ForgetOpenNode(fd);
    g_openNodes.push_back(OpenNode{fd, NodeNameOfPath(lpFileName)});
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

// The IDs come from the HIDIOCGRAWINFO request. Where the descriptor does not
// answer it (a regular file standing in for the node in the backend's tests),
// they come from the HID_ID line of the node's uevent, which holds the same
// IDs that the request reports for a real node.
BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
    const int fd = FdOfOpenHandle(HidDeviceObject);
    if (fd < 0 || Attributes == nullptr) {
        return FALSE;
    }
    const std::string name = FindOpenNode(fd)->name;
    hidraw_devinfo info{};
    HidId id{};
    std::string uevent;
    if (ioctl(fd, HIDIOCGRAWINFO, &info) == 0) {
        id.vendor = static_cast<std::uint16_t>(info.vendor);
        id.product = static_cast<std::uint16_t>(info.product);
    } else if (!ReadNodeUevent(name, &uevent) || !ReadNodeHidId(uevent, &id)) {
        return FALSE;
    }
    Attributes->Size = sizeof(HIDD_ATTRIBUTES);
    Attributes->VendorID = static_cast<USHORT>(id.vendor);
    Attributes->ProductID = static_cast<USHORT>(id.product);
    Attributes->VersionNumber = ReadVersionNumber(name);
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
