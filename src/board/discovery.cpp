#include "board/discovery.h"

#include <cstdlib>
#include <cstring>

#include "board/device_identity.h"

const char *const RELAY_MANUFACTURER = RXB540_MANUFACTURER;

namespace {

constexpr std::size_t HID_STRING_UNITS = HID_STRING_BYTES / 2;

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

// The interface whose IDs matched, as far as a pass has got with it.
struct Candidate {
    HDEVINFO list;
    SP_DEVICE_INTERFACE_DATA *iface;
    HANDLE handle;
    const char *path;
};

// Tells the search's note of an interface with the board's IDs; false when
// the note stops the pass.
bool Note(const Candidate &candidate, const BoardSearch &search, bool readable) {
    if (search.note == nullptr) {
        return true;
    }
    char attachment[INTERFACE_ATTACHMENT_BYTES] = {};
    if (!GetInterfaceAttachment(candidate.list, candidate.iface, attachment, sizeof attachment)) {
        attachment[0] = '\0';
    }
    attachment[sizeof attachment - 1] = '\0';
    return search.note(search.context, candidate.path, attachment, readable);
}

// A string that cannot be read sets the running result to DEVICE_COMM_ERROR.
BoardChoice Unreadable(const Candidate &candidate, const BoardSearch &search, DeviceResult *result) {
    *result = DEVICE_COMM_ERROR;
    return Note(candidate, search, false) ? BoardChoice::PASS_OVER : BoardChoice::STOP;
}

// Reads the three strings of an interface whose IDs matched and asks the
// search what to do with the board.
BoardChoice EvaluateCandidate(const Candidate &candidate, const BoardIdentity &identity,
                              const BoardSearch &search, char (&text)[HID_STRING_BYTES],
                              DeviceResult *result) {
    *result = DEVICE_NOT_FOUND;
    if (!ReadNarrowString(HidD_GetManufacturerString, candidate.handle, text)) {
        return Unreadable(candidate, search, result);
    }
    if (std::strcmp(text, identity.manufacturer) != 0) {
        return BoardChoice::PASS_OVER;
    }
    if (!ReadNarrowString(HidD_GetProductString, candidate.handle, text)) {
        return Unreadable(candidate, search, result);
    }
    if (std::strcmp(text, identity.product) != 0) {
        return BoardChoice::PASS_OVER;
    }
    if (!ReadNarrowString(HidD_GetSerialNumberString, candidate.handle, text)) {
        return Unreadable(candidate, search, result);
    }
    if (!Note(candidate, search, true)) {
        return BoardChoice::STOP;
    }
    return search.visit(search.context, candidate.path, text);
}

// The selection by a serial selector; context is the selector.
BoardChoice SelectBySerial(void *context, const char *, const char *serial) {
    return SerialSelects(static_cast<const char *>(context), serial) ? BoardChoice::SELECT
                                                                     : BoardChoice::PASS_OVER;
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

bool SerialSelects(SerialSelector selector, const char *serial) {
    if (selector == nullptr) {
        return false;
    }
    return std::strcmp(selector, SERIAL_KEYWORD_ANY) == 0 || std::strcmp(selector, serial) == 0;
}

BoardIdentity RelayBoardIdentity() {
    return {RELAY_VENDOR_ID, RELAY_MANUFACTURER, RELAY_PRODUCT_ID, RELAY_PRODUCT};
}

DeviceResult SearchHidDevices(HidHandle *handleOut, const BoardIdentity &identity,
                              const BoardSearch &search) {
    DeviceResult result = DEVICE_NOT_FOUND;

    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO list = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) {
        return DEVICE_LIST_FAILED;
    }

    SP_DEVICE_INTERFACE_DATA iface;
    std::memset(&iface, 0, sizeof iface);
    iface.cbSize = sizeof iface;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A *path = nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;
    char text[HID_STRING_BYTES];
    BoardChoice choice = BoardChoice::PASS_OVER;

    for (DWORD index = 0; choice == BoardChoice::PASS_OVER; ++index) {
        CloseIfOpen(&handle);
        if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hidGuid, index, &iface)) {
            break;
        }
        if (!FetchInterfacePath(list, &iface, &path)) {
            continue;
        }
        if (search.onlyPath != nullptr && std::strcmp(path->DevicePath, search.onlyPath) != 0) {
            continue;
        }
        handle = CreateFileA(path->DevicePath, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE || !HasBoardIds(handle, identity)) {
            continue;
        }
        const Candidate candidate = {list, &iface, handle, path->DevicePath};
        choice = EvaluateCandidate(candidate, identity, search, text, &result);
    }
    if (choice == BoardChoice::STOP) {
        CloseIfOpen(&handle);
    }

    SetupDiDestroyDeviceInfoList(list);
    std::free(path);
    if (choice != BoardChoice::SELECT) {
        return result;
    }
    *handleOut = handle;
    return DEVICE_OK;
}

DeviceResult OpenHidDevice(HidHandle *handleOut, std::uint16_t vendorId, const char *manufacturer,
                           std::uint16_t productId, const char *product, SerialSelector serial) {
    const BoardIdentity identity = {vendorId, manufacturer, productId, product};
    const BoardSearch search = {nullptr, SelectBySerial, const_cast<char *>(serial)};
    return SearchHidDevices(handleOut, identity, search);
}

DeviceResult SearchRelayBoards(HidHandle *handleOut, const BoardSearch &search) {
    return SearchHidDevices(handleOut, RelayBoardIdentity(), search);
}

DeviceResult OpenRelayBoard(HidHandle *handleOut, SerialSelector serial) {
    const BoardSearch search = {nullptr, SelectBySerial, const_cast<char *>(serial)};
    return SearchRelayBoards(handleOut, search);
}
