#include "board/discovery.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/device_identity.h"

const char *const RELAY_MANUFACTURER = RXB540_MANUFACTURER;

namespace {

constexpr std::size_t HID_STRING_UNITS = HID_STRING_BYTES / 2;

struct BoardIdentity {
    std::uint16_t vendorId;
    const char *manufacturer;
    std::uint16_t productId;
    const char *product;
};

// What became of one candidate interface.
enum class CandidateOutcome { PASSED_OVER, SELECTED };

// The three string reads share one signature (and calling convention).
typedef decltype(&HidD_GetProductString) ReadHidString;

void CloseIfOpen(HANDLE *handle) {
    if (*handle != INVALID_HANDLE_VALUE) {
        CloseHandle(*handle);
        *handle = INVALID_HANDLE_VALUE;
    }
}

// Fetches the device path of one interface into a fresh heap buffer, releasing
// the previous one first. Returns false when the path cannot be had; the
// interface is then passed over.
bool FetchInterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA *iface,
                        SP_DEVICE_INTERFACE_DETAIL_DATA_A **path) {
    DWORD requiredSize = 0;
    SetupDiGetDeviceInterfaceDetailA(list, iface, nullptr, 0, &requiredSize, nullptr);
    std::free(*path);
    *path = nullptr;
    if (requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return false;
    }
    *path = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(std::malloc(requiredSize));
    if (*path == nullptr) {
        return false;
    }
    (*path)->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list, iface, *path, requiredSize, nullptr, nullptr)) {
        return false;
    }
    // The path must end inside the buffer, whatever the platform wrote.
    (reinterpret_cast<char *>(*path))[requiredSize - 1] = '\0';
    return true;
}

bool HasBoardIds(HANDLE handle, const BoardIdentity &identity) {
    HIDD_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(handle, &attributes)) {
        return false;
    }
    return attributes.VendorID == identity.vendorId && attributes.ProductID == identity.productId;
}

bool ReadNarrowString(ReadHidString read, HANDLE handle, char (&buffer)[HID_STRING_BYTES]) {
    std::memset(buffer, 0, sizeof buffer);
    if (!read(handle, buffer, static_cast<ULONG>(sizeof buffer))) {
        return false;
    }
    NarrowHidString(buffer);
    return true;
}

// Prints one serial number as one line: control bytes would let a device
// break the listing into several lines or rewrite the terminal, so they are
// shown as '?'. That includes the C1 range 0x80-0x9F, where 0x9B is the
// 8-bit form of the terminal's escape sequence introducer (CSI). Comparisons
// still use the exact bytes.
void PrintListedSerial(const char *serial) {
    char line[HID_STRING_UNITS + 1];
    std::size_t length = 0;
    for (; length < HID_STRING_UNITS && serial[length] != '\0'; ++length) {
        const unsigned char byte = static_cast<unsigned char>(serial[length]);
        const bool control = byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
        line[length] = control ? '?' : serial[length];
    }
    line[length] = '\0';
    std::printf("%s\n", line);
}

// Reads the three strings of an interface whose IDs matched and decides
// whether it is the board asked for. A string that cannot be read sets the
// running result to DEVICE_COMM_ERROR.
CandidateOutcome EvaluateCandidate(HANDLE handle, const BoardIdentity &identity, SerialSelector serial,
                                   char (&text)[HID_STRING_BYTES], DeviceResult *result) {
    *result = DEVICE_NOT_FOUND;
    if (!ReadNarrowString(HidD_GetManufacturerString, handle, text)) {
        *result = DEVICE_COMM_ERROR;
        return CandidateOutcome::PASSED_OVER;
    }
    if (std::strcmp(text, identity.manufacturer) != 0) {
        return CandidateOutcome::PASSED_OVER;
    }
    if (!ReadNarrowString(HidD_GetProductString, handle, text)) {
        *result = DEVICE_COMM_ERROR;
        return CandidateOutcome::PASSED_OVER;
    }
    if (std::strcmp(text, identity.product) != 0) {
        return CandidateOutcome::PASSED_OVER;
    }
    if (!ReadNarrowString(HidD_GetSerialNumberString, handle, text)) {
        *result = DEVICE_COMM_ERROR;
        return CandidateOutcome::PASSED_OVER;
    }
    if (serial == nullptr) {
        PrintListedSerial(text);
        return CandidateOutcome::PASSED_OVER;
    }
    if (std::strcmp(serial, SERIAL_KEYWORD_ANY) == 0 || std::strcmp(serial, text) == 0) {
        return CandidateOutcome::SELECTED;
    }
    return CandidateOutcome::PASSED_OVER;
}

}  // namespace

void NarrowHidString(char (&buffer)[HID_STRING_BYTES]) {
    std::size_t units = 0;
    for (; units < HID_STRING_UNITS; ++units) {
        std::uint16_t unit;
        std::memcpy(&unit, buffer + 2 * units, sizeof unit);
        if (unit == 0) {
            break;
        }
        buffer[units] = unit < 256 ? static_cast<char>(static_cast<unsigned char>(unit)) : '?';
    }
    buffer[units] = '\0';
}

DeviceResult OpenHidDevice(HidHandle *handleOut, std::uint16_t vendorId, const char *manufacturer,
                           std::uint16_t productId, const char *product, SerialSelector serial) {
    const BoardIdentity identity = {vendorId, manufacturer, productId, product};
    DeviceResult result = DEVICE_NOT_FOUND;

    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO list = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) {
        RememberListFailureCause();
        return DEVICE_LIST_FAILED;
    }

    SP_DEVICE_INTERFACE_DATA iface;
    std::memset(&iface, 0, sizeof iface);
    iface.cbSize = sizeof iface;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A *path = nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;
    char text[HID_STRING_BYTES];
    bool selected = false;

    for (DWORD index = 0; !selected; ++index) {
        CloseIfOpen(&handle);
        if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hidGuid, index, &iface)) {
            break;
        }
        if (!FetchInterfacePath(list, &iface, &path)) {
            continue;
        }
        handle = CreateFileA(path->DevicePath, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE || !HasBoardIds(handle, identity)) {
            continue;
        }
        selected = EvaluateCandidate(handle, identity, serial, text, &result) == CandidateOutcome::SELECTED;
    }

    SetupDiDestroyDeviceInfoList(list);
    std::free(path);
    if (!selected) {
        return result;
    }
    *handleOut = handle;
    return DEVICE_OK;
}

DeviceResult SelectRelayBoard(SerialSelector serial, HidHandle *handleOut) {
    const DeviceResult result = OpenHidDevice(handleOut, RELAY_VENDOR_ID, RELAY_MANUFACTURER,
                                              RELAY_PRODUCT_ID, RELAY_PRODUCT, serial);
    const char *reason = result == DEVICE_LIST_FAILED ? ListFailureCause() : DeviceResultText(result);
    if (result != DEVICE_OK && serial != nullptr) {
        std::fprintf(stderr, "error finding %s: %s\n", serial, reason);
    } else if (result == DEVICE_LIST_FAILED) {
        std::fprintf(stderr, "error listing devices: %s\n", reason);
    }
    return result;
}

HidHandle OpenRelayBoard(SerialSelector serial) {
    HidHandle handle = nullptr;
    return SelectRelayBoard(serial, &handle) == DEVICE_OK ? handle : nullptr;
}
