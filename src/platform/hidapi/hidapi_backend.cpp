// The platform operations on hidapi: the backend for macOS and the BSDs, and
// on Linux an alternative to the hidraw backend (hidapi's hidraw or libusb
// variant).
//
// - Device list: a snapshot of hid_enumerate(0, 0), taken when the list is
//   made, in hidapi's order. Interface index N is the N-th device of it.
// - Interface path: hidapi's path of that device.
// - Handle: the hid_device that hid_open_path returned.
// - Vendor, product and release number: hid_get_device_info on the open
//   device.
// - Strings: hid_get_*_string, converted from wchar_t to UTF-16.
// - Feature report: hid_send_feature_report with the whole report, report ID
//   first.
//
// The library is set up with hid_init on first use and shut down with
// hid_exit when the process ends, after any device still open is closed (the
// libusb variant gives a device back to the kernel's driver on close only).
#include <hidapi.h>
#ifdef __APPLE__
#include <hidapi_darwin.h>
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
};

// The devices that CreateFileA opened and CloseHandle has not closed: only
// these are handles, so anything else is refused rather than used.
hid_device **g_openDevices = nullptr;
std::size_t g_openCount = 0;
std::size_t g_openCapacity = 0;

bool g_libraryReady = false;

typedef int (*ReadWideString)(hid_device *, wchar_t *, std::size_t);

void ShutDownLibrary() {
    for (std::size_t i = 0; i < g_openCount; ++i) {
        hid_close(g_openDevices[i]);
    }
    std::free(g_openDevices);
    g_openDevices = nullptr;
    g_openCount = 0;
    g_openCapacity = 0;
    hid_exit();
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
    // Without the exit handler the library is still released when the
    // process ends; only its orderly shutdown is missed.
    std::atexit(ShutDownLibrary);
    g_libraryReady = true;
    return true;
}

void DestroyList(DeviceList *list) {
    hid_free_enumeration(list->devices);
    std::free(list->paths);
    std::free(list);
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

DeviceList *ListFromHandle(HDEVINFO set) {
    if (set == nullptr || set == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return static_cast<DeviceList *>(set);
}

hid_device *OpenDevice(const void *handle) {
    for (std::size_t i = 0; i < g_openCount; ++i) {
        if (g_openDevices[i] == handle) {
            return g_openDevices[i];
        }
    }
    return nullptr;
}

bool RememberOpenDevice(hid_device *device) {
    if (g_openCount == g_openCapacity) {
        const std::size_t grown = g_openCapacity == 0 ? 4 : g_openCapacity * 2;
        void *devices = std::realloc(g_openDevices, grown * sizeof(hid_device *));
        if (devices == nullptr) {
            return false;
        }
        g_openDevices = static_cast<hid_device **>(devices);
        g_openCapacity = grown;
    }
    g_openDevices[g_openCount++] = device;
    return true;
}

void ForgetOpenDevice(const hid_device *device) {
    for (std::size_t i = 0; i < g_openCount; ++i) {
        if (g_openDevices[i] == device) {
            g_openDevices[i] = g_openDevices[--g_openCount];
            return;
        }
    }
}

// A string that cannot be read is a failure, never an empty string. The
// wide buffer is ended here too, whatever the library wrote into it.
BOOLEAN GetDeviceString(HANDLE handle, ReadWideString read, PVOID buffer, ULONG length) {
    hid_device *device = OpenDevice(handle);
    if (device == nullptr || buffer == nullptr) {
        return FALSE;
    }
    wchar_t text[WIDE_STRING_CHARS] = {};
    if (read(device, text, WIDE_STRING_CHARS) < 0) {
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
// arguments have no meaning outside Windows. The call fails when the library
// cannot be set up or memory for the list runs out.
HDEVINFO SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR, HWND, DWORD Flags) {
    DeviceList *list = static_cast<DeviceList *>(std::calloc(1, sizeof(DeviceList)));
    if (list == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    if (IsHidInterfaceClass(ClassGuid) && (Flags & DIGCF_DEVICEINTERFACE) != 0) {
        if (!LibraryReady()) {
            DestroyList(list);
            return INVALID_HANDLE_VALUE;
        }
        list->devices = hid_enumerate(0, 0);
        if (!IndexDevices(list)) {
            DestroyList(list);
            return INVALID_HANDLE_VALUE;
        }
    }
    return list;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID *InterfaceClassGuid,
                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    const DeviceList *list = ListFromHandle(DeviceInfoSet);
    return list != nullptr
               ? DescribeInterface(list->count, InterfaceClassGuid, MemberIndex, DeviceInterfaceData)
               : FALSE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA) {
    const DeviceList *list = ListFromHandle(DeviceInfoSet);
    std::size_t index = 0;
    if (list == nullptr || !DescribedIndex(DeviceInterfaceData, list->count, &index) ||
        list->paths[index] == nullptr) {
        return FALSE;
    }
    return WriteInterfaceDetail(list->paths[index], DeviceInterfaceDetailData, DeviceInterfaceDetailDataSize,
                                RequiredSize);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    DeviceList *list = ListFromHandle(DeviceInfoSet);
    if (list == nullptr) {
        return FALSE;
    }
    DestroyList(list);
    return TRUE;
}

// hidapi opens every device for reading and writing and has no share modes,
// so the access and share arguments have nothing to map to. Only an existing
// device is opened; nothing is ever created.
HANDLE CreateFileA(PCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD,
                   HANDLE) {
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING || !LibraryReady()) {
        return INVALID_HANDLE_VALUE;
    }
    hid_device *device = hid_open_path(lpFileName);
    if (device == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    if (!RememberOpenDevice(device)) {
        hid_close(device);
        return INVALID_HANDLE_VALUE;
    }
    return device;
}

BOOL CloseHandle(HANDLE hObject) {
    hid_device *device = OpenDevice(hObject);
    if (device == nullptr) {
        return FALSE;
    }
    ForgetOpenDevice(device);
    hid_close(device);
    return TRUE;
}

BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
    hid_device *device = OpenDevice(HidDeviceObject);
    if (device == nullptr || Attributes == nullptr) {
        return FALSE;
    }
    const hid_device_info *info = hid_get_device_info(device);
    if (info == nullptr) {
        return FALSE;
    }
    Attributes->Size = sizeof(HIDD_ATTRIBUTES);
    Attributes->VendorID = info->vendor_id;
    Attributes->ProductID = info->product_id;
    Attributes->VersionNumber = info->release_number;
    return TRUE;
}

BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, hid_get_manufacturer_string, Buffer, BufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, hid_get_product_string, Buffer, BufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, hid_get_serial_number_string, Buffer, BufferLength);
}

// The report goes out whole, its first byte the report ID (0 for a device
// without numbered reports). hidapi counts the bytes it took, report ID
// included; anything short of the whole report is a failure.
BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    hid_device *device = OpenDevice(HidDeviceObject);
    if (device == nullptr || ReportBuffer == nullptr || ReportBufferLength == 0 ||
        ReportBufferLength > INT_MAX) {
        return FALSE;
    }
    const int sent =
        hid_send_feature_report(device, static_cast<const unsigned char *>(ReportBuffer), ReportBufferLength);
    return sent == static_cast<int>(ReportBufferLength) ? TRUE : FALSE;
}
