// The platform operations on hidapi: the backend for macOS and the BSDs, and
// on Linux an alternative to the hidraw backend (hidapi's hidraw or libusb
// variant).
//
// - Device list: a snapshot of hid_enumerate(0, 0), taken when the list is
//   made, in hidapi's order. Interface index N is the N-th device of it.
// - Interface path: hidapi's path of that device.
// - Handle: a record of the interface's path and of the vendor, product and
//   release number that the enumeration gave for it. The device itself is
//   opened with hid_open_path only when a string or a report is first asked
//   for, and kept open until the handle is closed. Discovery reads the IDs
//   of every HID interface; served from the record, they open no device
//   whose IDs are not the board's (opening one has costs: on macOS a
//   keyboard asks the user for Input Monitoring, and the libusb variant
//   takes every device it opens from the kernel's driver).
// - Strings: hid_get_*_string, converted from wchar_t to UTF-16.
// - Feature report: hid_send_feature_report with the whole report, report ID
//   first.
// - Attachment: found from hidapi's path (device_access.h).
//
// The library is set up with hid_init on first use and shut down with
// hid_exit when the process ends, after any device still open is closed (the
// libusb variant gives a device back to the kernel's driver on close only).
// The calls that make strings run in the UTF-8 character type
// (text_locale.h).
#include <hidapi.h>
#ifdef __APPLE__
#include <hidapi_darwin.h>
#endif

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/hid_platform.h"
#include "platform/hidapi/device_access.h"
#include "platform/hidapi/text_locale.h"
#include "platform/hidapi/wide_text.h"
#include "platform/shared/device_interface.h"

namespace {

// The string calls of the platform get a buffer of 256 UTF-16 units at most,
// so no device string longer than 255 characters reaches them anyway.
const std::size_t WIDE_STRING_CHARS = 256;

// The object behind an HDEVINFO.
struct DeviceList {
    hid_device_info *devices;  // hidapi's snapshot, released with hid_free_enumeration
    const char **paths;        // the devices' paths, by interface index
    std::size_t count;
    DeviceList *next;  // the chain of lists not yet destroyed
};

// The object behind a HANDLE: the interface as the enumeration described it,
// and the device once a call has needed it.
struct OpenDevice {
    char *path;  // hidapi's path of the interface, owned
    unsigned short vendorId;
    unsigned short productId;
    unsigned short releaseNumber;
    hid_device *device;  // null until a string or a report is asked for
    OpenDevice *next;    // the chain of handles not yet closed
};

// The lists and devices handed out and not yet released: only these are
// tokens, so any other value is refused rather than read, freed or closed.
DeviceList *g_liveLists = nullptr;
OpenDevice *g_openDevices = nullptr;

bool g_libraryReady = false;

typedef int (*ReadWideString)(hid_device *, wchar_t *, std::size_t);

// The string calls: how hidapi reads the string, and where its device record
// keeps it (null when the device has no such string).
struct DeviceString {
    ReadWideString read;
    wchar_t *hid_device_info::*field;
};

const DeviceString MANUFACTURER = {hid_get_manufacturer_string, &hid_device_info::manufacturer_string};
const DeviceString PRODUCT = {hid_get_product_string, &hid_device_info::product_string};
const DeviceString SERIAL_NUMBER = {hid_get_serial_number_string, &hid_device_info::serial_number};

template <typename Item>
Item *FindInChain(Item *head, const void *token) {
    if (token == nullptr || token == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    for (Item *item = head; item != nullptr; item = item->next) {
        if (item == token) {
            return item;
        }
    }
    return nullptr;
}

template <typename Item>
void Unlink(Item **head, const Item *item) {
    for (Item **link = head; *link != nullptr; link = &(*link)->next) {
        if (*link == item) {
            *link = item->next;
            return;
        }
    }
}

void DestroyList(DeviceList *list) {
    Unlink(&g_liveLists, list);
    hid_free_enumeration(list->devices);
    std::free(list->paths);
    std::free(list);
}

void FreeHandle(OpenDevice *open) {
    if (open->device != nullptr) {
        hid_close(open->device);
    }
    std::free(open->path);
    std::free(open);
}

void CloseDevice(OpenDevice *open) {
    Unlink(&g_openDevices, open);
    FreeHandle(open);
}

void ShutDownLibrary() {
    while (g_openDevices != nullptr) {
        CloseDevice(g_openDevices);
    }
    while (g_liveLists != nullptr) {
        DestroyList(g_liveLists);
    }
    hid_exit();
    FreeUtf8Text();
}

bool LibraryReady() {
    if (g_libraryReady) {
        return true;
    }
    if (hid_init() != 0) {
        return false;
    }
#ifdef __APPLE__
    // Open devices shared, as on every other host, not seized for this process.
    hid_darwin_set_open_exclusive(0);
#endif
    MakeUtf8Text();
    // Without the exit handler the library is still released when the
    // process ends; only its orderly shutdown is missed.
    std::atexit(ShutDownLibrary);
    g_libraryReady = true;
    return true;
}

// A host without HID devices gives an empty list. False only when memory for
// the index ran out.
bool IndexDevices(DeviceList *list) {
    for (const hid_device_info *device = list->devices; device != nullptr; device = device->next) {
        ++list->count;
    }
    if (list->count == 0) {
        return true;
    }
    list->paths = static_cast<const char **>(std::calloc(list->count, sizeof(const char *)));
    if (list->paths == nullptr) {
        return false;
    }
    std::size_t index = 0;
    for (const hid_device_info *device = list->devices; device != nullptr; device = device->next) {
        list->paths[index++] = device->path;
    }
    return true;
}

hid_device_info *Enumerate() {
    const TextLocale previous = EnterUtf8Text();
    hid_device_info *devices = hid_enumerate(0, 0);
    LeaveUtf8Text(previous);
    return devices;
}

// Copies what the enumeration says of the interface at `path` into the
// handle. hidapi may list one interface several times (once for each of its
// top-level usages), always with the same IDs.
bool CopyRecord(const hid_device_info *devices, const char *path, OpenDevice *open) {
    for (const hid_device_info *device = devices; device != nullptr; device = device->next) {
        if (device->path != nullptr && std::strcmp(device->path, path) == 0) {
            open->vendorId = device->vendor_id;
            open->productId = device->product_id;
            open->releaseNumber = device->release_number;
            return true;
        }
    }
    return false;
}

// The interface is looked up in the lists not yet destroyed, where discovery
// found its path; a path from no such list is looked up in a new snapshot.
bool FindRecord(const char *path, OpenDevice *open) {
    for (const DeviceList *list = g_liveLists; list != nullptr; list = list->next) {
        if (CopyRecord(list->devices, path, open)) {
            return true;
        }
    }
    hid_device_info *devices = Enumerate();
    const bool found = CopyRecord(devices, path, open);
    hid_free_enumeration(devices);
    return found;
}

// The device of a handle, opened when a call first needs it. It must be the
// device that was listed: when the path now reaches one with other IDs (the
// listed device went away and another took its node), it is closed again and
// the call fails.
hid_device *DeviceOfHandle(const void *handle) {
    OpenDevice *open = FindInChain(g_openDevices, handle);
    if (open == nullptr || open->device != nullptr) {
        return open != nullptr ? open->device : nullptr;
    }
    const TextLocale previous = EnterUtf8Text();
    hid_device *device = hid_open_path(open->path);
    const hid_device_info *info = device != nullptr ? hid_get_device_info(device) : nullptr;
    LeaveUtf8Text(previous);
    if (info != nullptr && info->vendor_id == open->vendorId && info->product_id == open->productId) {
        open->device = device;
    } else if (device != nullptr) {
        hid_close(device);
    }
    return open->device;
}

// A string that cannot be read, or that the device does not have, is a
// failure, never an empty string. hidapi gives an empty string for a missing
// one where it cannot tell them apart (its hidraw variant reads the serial
// number from the kernel's HID_UNIQ, empty for a device without one; on macOS
// a missing property), and the Linux kernel keeps no empty string of a USB
// device either: so an empty string fails as a missing one does, on every
// variant alike. The wide text is ended here too, whatever the library wrote.
BOOLEAN GetDeviceString(HANDLE handle, const DeviceString &kind, PVOID buffer, ULONG length) {
    if (buffer == nullptr || length < sizeof(char16_t)) {
        return FALSE;
    }
    hid_device *device = DeviceOfHandle(handle);
    if (device == nullptr) {
        return FALSE;
    }
    const TextLocale previous = EnterUtf8Text();
    const hid_device_info *info = hid_get_device_info(device);
    wchar_t text[WIDE_STRING_CHARS] = {};
    const bool read =
        info != nullptr && info->*kind.field != nullptr && kind.read(device, text, WIDE_STRING_CHARS) >= 0;
    LeaveUtf8Text(previous);
    text[WIDE_STRING_CHARS - 1] = L'\0';
    if (!read || text[0] == L'\0') {
        return FALSE;
    }
    return WriteWideAsUtf16(text, WIDE_STRING_CHARS, buffer, length) ? TRUE : FALSE;
}

}  // namespace

void HidD_GetHidGuid(LPGUID HidGuid) {
    if (HidGuid != nullptr) {
        *HidGuid = HID_INTERFACE_CLASS;
    }
}

// Only the HID interface class has members here; the enumerator and window
// arguments have no meaning outside Windows. No list when memory runs out or
// the library cannot be set up.
HDEVINFO SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR, HWND, DWORD Flags) {
    DeviceList *list = static_cast<DeviceList *>(std::calloc(1, sizeof(DeviceList)));
    if (list == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    list->next = g_liveLists;
    g_liveLists = list;
    if (IsHidInterfaceClass(ClassGuid) && (Flags & DIGCF_DEVICEINTERFACE) != 0) {
        if (!LibraryReady()) {
            DestroyList(list);
            return INVALID_HANDLE_VALUE;
        }
        list->devices = Enumerate();
        if (!IndexDevices(list)) {
            DestroyList(list);
            return INVALID_HANDLE_VALUE;
        }
    }
    return list;
}

// A list is a token that is only looked up, but the signature is the contract's.
// cppcheck-suppress constParameterPointer
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID *InterfaceClassGuid,
                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    const DeviceList *list = FindInChain(g_liveLists, DeviceInfoSet);
    return list != nullptr
               ? DescribeInterface(list->count, InterfaceClassGuid, MemberIndex, DeviceInterfaceData)
               : FALSE;
}

// A list is a token that is only looked up, but the signature is the contract's.
// cppcheck-suppress constParameterPointer
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA) {
    const DeviceList *list = FindInChain(g_liveLists, DeviceInfoSet);
    std::size_t index = 0;
    if (list == nullptr || !DescribedIndex(DeviceInterfaceData, list->count, &index) ||
        list->paths[index] == nullptr) {
        return FALSE;
    }
    return WriteInterfaceDetail(list->paths[index], DeviceInterfaceDetailData, DeviceInterfaceDetailDataSize,
                                RequiredSize);
}

// A list is a token that is only looked up, but the signature is the contract's.
// cppcheck-suppress constParameterPointer
BOOL GetInterfaceAttachment(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                            char *Buffer, DWORD BufferSize) {
    const DeviceList *list = FindInChain(g_liveLists, DeviceInfoSet);
    std::size_t index = 0;
    return list != nullptr && Buffer != nullptr && DescribedIndex(DeviceInterfaceData, list->count, &index) &&
                   list->paths[index] != nullptr &&
                   FindDeviceAttachment("/sys", list->paths[index], Buffer, BufferSize)
               ? TRUE
               : FALSE;
}

// A list is a token that is only looked up, but the signature is the contract's.
// cppcheck-suppress constParameterPointer
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    DeviceList *list = FindInChain(g_liveLists, DeviceInfoSet);
    if (list == nullptr) {
        return FALSE;
    }
    DestroyList(list);
    return TRUE;
}

// hidapi opens every device for reading and writing and has no share modes,
// so the access and share arguments have nothing to map to. Nothing is opened
// here (see DeviceOfHandle): a path that no enumeration lists is refused, and
// so is a device whose node the user may not open or that is gone, as far as
// that can be told without opening it. Nothing is ever created.
HANDLE CreateFileA(PCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD,
                   HANDLE) {
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING || !LibraryReady()) {
        return INVALID_HANDLE_VALUE;
    }
    OpenDevice *open = static_cast<OpenDevice *>(std::calloc(1, sizeof(OpenDevice)));
    if (open == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    const std::size_t pathBytes = std::strlen(lpFileName) + 1;
    open->path = static_cast<char *>(std::malloc(pathBytes));
    if (open->path == nullptr || !FindRecord(lpFileName, open) || !MayOpenDevice(lpFileName)) {
        FreeHandle(open);
        return INVALID_HANDLE_VALUE;
    }
    std::memcpy(open->path, lpFileName, pathBytes);
    open->next = g_openDevices;
    g_openDevices = open;
    return open;
}

BOOL CloseHandle(HANDLE hObject) {
    OpenDevice *open = FindInChain(g_openDevices, hObject);
    if (open == nullptr) {
        return FALSE;
    }
    CloseDevice(open);
    return TRUE;
}

// From the enumeration's record: no device is opened for its IDs. Size is the
// caller's and stays as it is.
BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
    const OpenDevice *open = FindInChain(g_openDevices, HidDeviceObject);
    if (open == nullptr || Attributes == nullptr) {
        return FALSE;
    }
    Attributes->VendorID = open->vendorId;
    Attributes->ProductID = open->productId;
    Attributes->VersionNumber = open->releaseNumber;
    return TRUE;
}

BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, MANUFACTURER, Buffer, BufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, PRODUCT, Buffer, BufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, SERIAL_NUMBER, Buffer, BufferLength);
}

// The report goes out whole, its first byte the report ID (0 for a device
// without numbered reports). hidapi counts the bytes it took, report ID
// included; anything short of the whole report is a failure.
BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    if (ReportBuffer == nullptr || ReportBufferLength == 0 || ReportBufferLength > INT_MAX) {
        return FALSE;
    }
    hid_device *device = DeviceOfHandle(HidDeviceObject);
    if (device == nullptr) {
        return FALSE;
    }
    const int sent =
        hid_send_feature_report(device, static_cast<const unsigned char *>(ReportBuffer), ReportBufferLength);
    return sent == static_cast<int>(ReportBufferLength) ? TRUE : FALSE;
}
