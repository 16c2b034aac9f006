// The platform operations of the simulated host: device lists, handles and HID
// calls served from the interfaces of the loaded host file.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_file_format.h"
#include "platform/hid_platform.h"
#include "platform/shared/utf16_text.h"
#include "sim_host_state.h"
#ifdef RXB540_SIM_FROM_ENVIRONMENT
#include "environment_host.h"
#endif

namespace {

constexpr const char *DEVICE_PATH_PREFIX = "sim:";

// The HID interface class identifier, {4D1E55B2-F16F-11CF-88CB-001111000030}.
constexpr GUID HID_CLASS = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// A string of this many units exactly fills discovery's 512-byte buffer: the
// host file's way of asking for a device that leaves out the zero unit.
constexpr std::size_t UNTERMINATED_UNITS = 256;

// Handles are multiples of HANDLE_STRIDE; device lists are LIST_TAG past one,
// so that neither is ever taken for the other.
constexpr std::uintptr_t HANDLE_STRIDE = 16;
constexpr std::uintptr_t LIST_TAG = 8;

HANDLE MakeHandle(std::size_t slot) {
    return reinterpret_cast<HANDLE>((slot + 1) * HANDLE_STRIDE);
}

// Where an open handle stands among the open handles, or -1 for a handle this
// host did not hand out or that is closed already.
long OpenHandlePosition(HANDLE handle) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == 0 || value % HANDLE_STRIDE != 0) {
        return -1;
    }
    const std::size_t slot = value / HANDLE_STRIDE - 1;
    const std::vector<OpenHandle> &open = Host().openHandles;
    for (std::size_t i = 0; i < open.size(); ++i) {
        if (open[i].slot == slot) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// The interface index behind an open handle, or -1 (also for an interface
// that a reloaded host file no longer has).
int InterfaceOf(HANDLE handle) {
    const long position = OpenHandlePosition(handle);
    if (position < 0) {
        return -1;
    }
    const int index = Host().openHandles[static_cast<std::size_t>(position)].interfaceIndex;
    return static_cast<std::size_t>(index) < Host().interfaces.size() ? index : -1;
}

// The interface behind an open handle, or null.
const LoadedInterface *OpenInterface(HANDLE handle) {
    const int index = InterfaceOf(handle);
    return index < 0 ? nullptr : &Host().interfaces[static_cast<std::size_t>(index)];
}

std::size_t InterfaceCount() {
    return Host().interfaces.size();
}

bool IsHidClass(const GUID *guid) {
    return guid != nullptr && std::memcmp(guid, &HID_CLASS, sizeof HID_CLASS) == 0;
}

// The number of interfaces in a list not yet destroyed, or -1 for a value
// that is no such list.
long ListSize(HDEVINFO list) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(list);
    const std::vector<long> &sizes = Host().listSizes;
    const std::size_t slot = value / HANDLE_STRIDE;
    return value % HANDLE_STRIDE == LIST_TAG && slot < sizes.size() ? sizes[slot] : -1;
}

// The interface index named by a device path "sim:N", or -1.
long InterfaceIndexOfPath(const char *path) {
    const std::size_t prefixLength = std::strlen(DEVICE_PATH_PREFIX);
    if (path == nullptr || std::strncmp(path, DEVICE_PATH_PREFIX, prefixLength) != 0) {
        return -1;
    }
    long index = 0;
    if (!ParseDecimal(path + prefixLength, 999999, &index) ||
        static_cast<std::size_t>(index) >= InterfaceCount()) {
        return -1;
    }
    return index;
}

// The character at units[*pos]: a surrogate pair as one code point, a lone
// surrogate as itself.
char32_t NextCharacter(const std::u16string &units, std::size_t *pos) {
    const char32_t unit = units[(*pos)++];
    if (unit >= 0xD800 && unit <= 0xDBFF && *pos < units.size() && units[*pos] >= 0xDC00 &&
        units[*pos] <= 0xDFFF) {
        return 0x10000 + ((unit - 0xD800) << 10) + (units[(*pos)++] - 0xDC00);
    }
    return unit;
}

// Appends one character. A lone surrogate goes out as the unit it is: a
// device's string descriptor can carry one, and discovery must cope with it.
bool AppendCharacter(Utf16Output *out, char32_t character) {
    if (character < 0xD800 || character > 0xDFFF) {
        return AppendUtf16(out, character);
    }
    if (out->usedUnits >= out->capacityUnits) {
        return false;
    }
    const char16_t unit = static_cast<char16_t>(character);
    std::memcpy(out->bytes + out->usedUnits * sizeof(char16_t), &unit, sizeof(unit));
    ++out->usedUnits;
    return true;
}

// Writes the string as the other backends do: cut after the last whole
// character that fits, then a zero unit, but with lone surrogates kept. The one exception is the
// misbehaviour that the host file asks for: a string of 256 units in a buffer
// of exactly that size fills it with no zero unit.
BOOLEAN CopyDeviceString(HANDLE handle, ValueSpan HostInterface::*which, PVOID buffer, ULONG length) {
    const LoadedInterface *iface = OpenInterface(handle);
    Utf16Output out;
    if (iface == nullptr || !(iface->fields.*which).present || !BeginUtf16(&out, buffer, length)) {
        return FALSE;
    }
    const ValueSpan span = iface->fields.*which;
    std::u16string units;
    DecodeDeviceString(LineOf(*iface).substr(span.start, span.end - span.start), &units);
    const bool unterminated = units.size() == UNTERMINATED_UNITS && length / sizeof(char16_t) == units.size();
    if (unterminated) {
        out.capacityUnits = units.size();
    }
    std::size_t pos = 0;
    while (pos < units.size() && AppendCharacter(&out, NextCharacter(units, &pos))) {
    }
    if (!unterminated) {
        EndUtf16(&out);
    }
    return TRUE;
}

std::string HexOf(const std::uint8_t *bytes, std::size_t length) {
    std::string hex;
    for (std::size_t i = 0; i < length; ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        hex += digits;
    }
    return hex;
}

}  // namespace

extern "C" {

void HidD_GetHidGuid(LPGUID HidGuid) {
    if (HidGuid != nullptr) {
        *HidGuid = HID_CLASS;
    }
}

HDEVINFO SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR, HWND, DWORD Flags) {
#ifdef RXB540_SIM_FROM_ENVIRONMENT
    if (!SimHostFollowEnvironment()) {
        return INVALID_HANDLE_VALUE;
    }
#endif
    SimHost &host = Host();
    if (host.failNextDeviceList != 0) {
        errno = host.failNextDeviceList;
        host.failNextDeviceList = 0;
        return INVALID_HANDLE_VALUE;
    }
    AppendLog("enumerate");
    const bool listsHid = IsHidClass(ClassGuid) && (Flags & DIGCF_DEVICEINTERFACE) != 0;
    host.listSizes.push_back(listsHid ? static_cast<long>(InterfaceCount()) : 0);
    return reinterpret_cast<HDEVINFO>((host.listSizes.size() - 1) * HANDLE_STRIDE + LIST_TAG);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID *InterfaceClassGuid,
                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    if (static_cast<long>(MemberIndex) >= ListSize(DeviceInfoSet) || !IsHidClass(InterfaceClassGuid) ||
        DeviceInterfaceData == nullptr || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return FALSE;
    }
    DeviceInterfaceData->InterfaceClassGuid = HID_CLASS;
    DeviceInterfaceData->Flags = SPINT_ACTIVE;
    DeviceInterfaceData->Reserved = MemberIndex;
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA) {
    const long listSize = ListSize(DeviceInfoSet);
    if (listSize < 0 || DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        DeviceInterfaceData->Reserved >= static_cast<std::size_t>(listSize)) {
        return FALSE;
    }
    const std::size_t index = DeviceInterfaceData->Reserved;
    // detail=fail: the size query answers, the call that fetches the path fails.
    if (DeviceInterfaceDetailData != nullptr && Host().interfaces[index].fields.detailFails) {
        return FALSE;
    }
    const std::string path = DEVICE_PATH_PREFIX + std::to_string(index);
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (RequiredSize != nullptr) {
        *RequiredSize = needed;
    }
    if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < needed ||
        DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return FALSE;
    }
    std::memcpy(DeviceInterfaceDetailData->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    if (ListSize(DeviceInfoSet) < 0) {
        return FALSE;
    }
    Host().listSizes[reinterpret_cast<std::uintptr_t>(DeviceInfoSet) / HANDLE_STRIDE] = -1;
    return TRUE;
}

HANDLE CreateFileA(PCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD,
                   HANDLE) {
    const long index = InterfaceIndexOfPath(lpFileName);
    SimHost &host = Host();
    if (index < 0 || dwCreationDisposition != OPEN_EXISTING ||
        host.interfaces[static_cast<std::size_t>(index)].fields.openFails) {
        return INVALID_HANDLE_VALUE;
    }
    const std::size_t slot = host.handlesHandedOut++;
    host.openHandles.push_back({slot, static_cast<int>(index)});
    AppendLog("open " + std::to_string(index));
    return MakeHandle(slot);
}

BOOL CloseHandle(HANDLE hObject) {
    const long position = OpenHandlePosition(hObject);
    if (position < 0) {
        AppendLog("bad-handle");
        return FALSE;
    }
    std::vector<OpenHandle> &open = Host().openHandles;
    AppendLog("close " + std::to_string(open[static_cast<std::size_t>(position)].interfaceIndex));
    open.erase(open.begin() + position);
    return TRUE;
}

BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
    const LoadedInterface *iface = OpenInterface(HidDeviceObject);
    if (iface == nullptr || Attributes == nullptr || iface->fields.attributesFails) {
        return FALSE;
    }
    Attributes->VendorID = iface->fields.vendorId;
    Attributes->ProductID = iface->fields.productId;
    Attributes->VersionNumber = 0;
    return TRUE;
}

BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return CopyDeviceString(HidDeviceObject, &HostInterface::manufacturer, Buffer, BufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return CopyDeviceString(HidDeviceObject, &HostInterface::product, Buffer, BufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return CopyDeviceString(HidDeviceObject, &HostInterface::serial, Buffer, BufferLength);
}

BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    const int index = InterfaceOf(HidDeviceObject);
    if (index < 0 || ReportBuffer == nullptr || ReportBufferLength == 0) {
        return FALSE;
    }
    const bool taken = !Host().interfaces[static_cast<std::size_t>(index)].fields.featureFails;
    const std::uint8_t *report = static_cast<const std::uint8_t *>(ReportBuffer);
    AppendLog("feature " + std::to_string(index) + " " + HexOf(report, ReportBufferLength) +
              (taken ? " ok" : " fail"));
    Host().featureCalls.push_back({index, SimHostOpenHandleCount(),
                                   std::string(reinterpret_cast<const char *>(report), ReportBufferLength),
                                   taken});
    if (!taken) {
        return FALSE;
    }
    RememberReport(static_cast<std::size_t>(index), report, ReportBufferLength);
    return TRUE;
}

}  // extern "C"

// The interface's attachment= number, in decimal.
BOOL GetInterfaceAttachment(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                            char *Buffer, DWORD BufferSize) {
    const long listSize = ListSize(DeviceInfoSet);
    if (listSize < 0 || DeviceInterfaceData == nullptr || Buffer == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        DeviceInterfaceData->Reserved >= static_cast<std::size_t>(listSize) ||
        DeviceInterfaceData->Reserved >= InterfaceCount()) {
        return FALSE;
    }
    const std::string text =
        std::to_string(Host().interfaces[DeviceInterfaceData->Reserved].fields.attachment);
    if (text.size() >= BufferSize) {
        return FALSE;
    }
    std::memcpy(Buffer, text.c_str(), text.size() + 1);
    return TRUE;
}
