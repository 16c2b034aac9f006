// The platform operations on hidapi: the backend for macOS and the BSDs, and
// on Linux an alternative to the hidraw backend (hidapi's hidraw or libusb
// variant).
//
// - Device list: a snapshot of hid_enumerate(0, 0), taken when the list is
//   made, in hidapi's order. Interface index N is the N-th device of it.
// - Interface path: hidapi's path of that device.
// - Handle: a record holding the hid_device that hid_open_path returned.
// - Vendor, product and release number: hid_get_device_info on the open
//   device.
// - Strings: hid_get_*_string, converted from wchar_t to UTF-16.
// - Feature report: hid_send_feature_report with the whole report, report ID
//   first.
//
// The library is set up with hid_init on first use and shut down with
// hid_exit when the process ends, after any device still open is closed (the
// libusb variant gives a device back to the kernel's driver on close only).
//
// On Linux, hidapi's hidraw variant converts the UTF-8 strings that it reads
// from sysfs with mbstowcs, which follows LC_CTYPE: in the "C" locale that
// this program runs in, every string with a non-ASCII character would come
// back empty. The calls that make strings therefore run with the thread's
// LC_CTYPE switched to C.UTF-8, and the previous locale is restored right
// after, so that nothing else in the program sees another locale.
#include <hidapi.h>
#ifdef __APPLE__
#include <hidapi_darwin.h>
#endif

#ifdef __linux__
#include <locale.h>
#endif

#include <climits>
#include <cstddef>
#include <cstdlib>

#include "platform/hid_platform.h"
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

// The object behind a HANDLE.
struct OpenDevice {
    hid_device *device;
    OpenDevice *next;  // the chain of devices not yet closed
};

// The lists and devices handed out and not yet released: only these are
// tokens, so any other value is refused rather than read, freed or closed.
DeviceList *g_liveLists = nullptr;
OpenDevice *g_openDevices = nullptr;

bool g_libraryReady = false;

#ifdef __linux__
typedef locale_t TextLocale;
const TextLocale NO_LOCALE = TextLocale();

// The UTF-8 character type for hidapi's string calls; none when the C library
// cannot make it, and the strings are then converted as before.
TextLocale g_utf8Text = NO_LOCALE;

void MakeUtf8Text() {
    g_utf8Text = newlocale(LC_CTYPE_MASK, "C.UTF-8", NO_LOCALE);
}

void FreeUtf8Text() {
    if (g_utf8Text != NO_LOCALE) {
        freelocale(g_utf8Text);
        g_utf8Text = NO_LOCALE;
    }
}

// Switches the thread to the UTF-8 character type; gives the locale to hand
// to LeaveUtf8Text, none when nothing was switched.
TextLocale EnterUtf8Text() {
    return g_utf8Text != NO_LOCALE ? uselocale(g_utf8Text) : NO_LOCALE;
}

void LeaveUtf8Text(TextLocale previous) {
    if (previous != NO_LOCALE) {
        uselocale(previous);
    }
}
#else
// Elsewhere hidapi converts without the C library's locale.
typedef int TextLocale;

void MakeUtf8Text() {}

void FreeUtf8Text() {}

TextLocale EnterUtf8Text() {
    return 0;
}

void LeaveUtf8Text(TextLocale) {}
#endif

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

void CloseDevice(OpenDevice *open) {
    Unlink(&g_openDevices, open);
    hid_close(open->device);
    std::free(open);
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

hid_device *DeviceOfHandle(const void *handle) {
    const OpenDevice *open = FindInChain(g_openDevices, handle);
    return open != nullptr ? open->device : nullptr;
}

// A string that cannot be read, or that the device does not have, is a
// failure, never an empty string. The wide text is ended here too, whatever
// the library wrote.
BOOLEAN GetDeviceString(HANDLE handle, const DeviceString &kind, PVOID buffer, ULONG length) {
    hid_device *device = DeviceOfHandle(handle);
    if (device == nullptr || buffer == nullptr || length < sizeof(char16_t)) {
        return FALSE;
    }
    const TextLocale previous = EnterUtf8Text();
    const hid_device_info *info = hid_get_device_info(device);
    wchar_t text[WIDE_STRING_CHARS] = {};
    const bool read =
        info != nullptr && info->*kind.field != nullptr && kind.read(device, text, WIDE_STRING_CHARS) >= 0;
    LeaveUtf8Text(previous);
    if (!read) {
        return FALSE;
    }
    text[WIDE_STRING_CHARS - 1] = L'\0';
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
        const TextLocale previous = EnterUtf8Text();
        list->devices = hid_enumerate(0, 0);
        LeaveUtf8Text(previous);
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
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    DeviceList *list = FindInChain(g_liveLists, DeviceInfoSet);
    if (list == nullptr) {
        return FALSE;
    }
    DestroyList(list);
    return TRUE;
}

// hidapi opens every device for reading and writing and has no share modes,
// so the access and share arguments have nothing to map to. A path that
// names no device of hidapi's is refused by hid_open_path. Nothing is ever
// created.
HANDLE CreateFileA(PCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD,
                   HANDLE) {
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING || !LibraryReady()) {
        return INVALID_HANDLE_VALUE;
    }
    OpenDevice *open = static_cast<OpenDevice *>(std::calloc(1, sizeof(OpenDevice)));
    if (open == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    const TextLocale previous = EnterUtf8Text();
    open->device = hid_open_path(lpFileName);
    LeaveUtf8Text(previous);
    if (open->device == nullptr) {
        std::free(open);
        return INVALID_HANDLE_VALUE;
    }
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

// Size is the caller's and stays as it is.
BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
    hid_device *device = DeviceOfHandle(HidDeviceObject);
    if (device == nullptr || Attributes == nullptr) {
        return FALSE;
    }
    const TextLocale previous = EnterUtf8Text();
    const hid_device_info *info = hid_get_device_info(device);
    LeaveUtf8Text(previous);
    if (info == nullptr) {
        return FALSE;
    }
    Attributes->VendorID = info->vendor_id;
    Attributes->ProductID = info->product_id;
    Attributes->VersionNumber = info->release_number;
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
    hid_device *device = DeviceOfHandle(HidDeviceObject);
    if (device == nullptr || ReportBuffer == nullptr || ReportBufferLength == 0 ||
        ReportBufferLength > INT_MAX) {
        return FALSE;
    }
    const int sent =
        hid_send_feature_report(device, static_cast<const unsigned char *>(ReportBuffer), ReportBufferLength);
    return sent == static_cast<int>(ReportBufferLength) ? TRUE : FALSE;
}
