// The simulated host's file parser on arbitrary text. Text that it refuses
// leaves no interface behind and gives a one-line message; text that it
// accepts describes interfaces that every platform operation serves within the
// caller's buffers. Each accepted board then takes a set-serial and a
// set-state report, and the rewritten text must load again and describe the
// same interfaces, with exactly what was sent in their memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/discovery.h"
#include "platform/hid_platform.h"
#include "sim_host.h"
#include "require.h"

namespace {

// Serial numbers to write: digits, an empty one, and bytes that the host file
// must escape.
const char *const NEW_SERIALS[] = {"1700000001", "", "a b\tc", "\\#=x", "\x01\x7f\x80\xff", "-2147483648"};

struct InterfaceView {
    bool detailRead = false;
    bool opened = false;
    bool attributesRead = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool stringRead[3] = {false, false, false};
    std::string strings[3];  // the raw 512 bytes of each string that could be read
    int state = 0;
};

typedef BOOLEAN (*ReadString)(HANDLE, PVOID, ULONG);
const ReadString STRING_READS[3] = {HidD_GetManufacturerString, HidD_GetProductString,
                                    HidD_GetSerialNumberString};
constexpr int SERIAL_STRING = 2;

HANDLE OpenPath(const char *path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// The device path of the interface, fetched into a heap buffer of exactly the
// size that the host asked for, so that any write past it is caught.
std::string FetchPath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA *iface, bool *read) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(list, iface, nullptr, 0, &size, nullptr);
    Require(size > sizeof(DWORD) && size < 64, "the path size is sane");
    auto *detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(std::malloc(size));
    Require(detail != nullptr, "allocation");
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    *read = SetupDiGetDeviceInterfaceDetailA(list, iface, detail, size, nullptr, nullptr) != FALSE;
    std::string path;
    if (*read) {
        const char *bytes = reinterpret_cast<const char *>(detail);
        const std::size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        Require(std::memchr(bytes + offset, '\0', size - offset) != nullptr,
                "the path ends inside its buffer");
        path = detail->DevicePath;
    }
    std::free(detail);
    return path;
}

void ReadStrings(HANDLE handle, InterfaceView *view) {
    for (int which = 0; which < 3; ++which) {
        auto *buffer = new char[1][HID_STRING_BYTES];
        std::memset(*buffer, 0xA5, HID_STRING_BYTES);
        view->stringRead[which] = STRING_READS[which](handle, *buffer, HID_STRING_BYTES) != FALSE;
        if (view->stringRead[which]) {
            view->strings[which].assign(*buffer, HID_STRING_BYTES);
            NarrowHidString(*buffer);
        }
        delete[] buffer;
    }
}

std::vector<InterfaceView> ReadHost() {
    std::vector<InterfaceView> views;
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO list = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof iface;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &guid, index, &iface); ++index) {
        InterfaceView view;
        const std::string path = FetchPath(list, &iface, &view.detailRead);
        Require(!view.detailRead || path == "sim:" + std::to_string(index), "the path names the interface");
        HANDLE handle = OpenPath(("sim:" + std::to_string(index)).c_str());
        view.opened = handle != INVALID_HANDLE_VALUE;
        if (view.opened) {
            HIDD_ATTRIBUTES attributes = {};
            attributes.Size = sizeof attributes;
            view.attributesRead = HidD_GetAttributes(handle, &attributes) != FALSE;
            view.vendorId = attributes.VendorID;
            view.productId = attributes.ProductID;
            ReadStrings(handle, &view);
            CloseHandle(handle);
        }
        view.state = SimHostBoardState(static_cast<int>(index));
        views.push_back(view);
    }
    SetupDiDestroyDeviceInfoList(list);
    Require(SimHostOpenHandleCount() == 0 && SimHostOpenListCount() == 0, "everything closed after reading");
    return views;
}

// Sends interface index a set-serial and a set-state report; returns whether
// the board took them.
bool WriteBoard(std::size_t index, std::uint8_t state) {
    HANDLE handle = OpenPath(("sim:" + std::to_string(index)).c_str());
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::uint8_t serialReport[17] = {0, 0x82};
    const char *serial = NEW_SERIALS[index % (sizeof NEW_SERIALS / sizeof NEW_SERIALS[0])];
    std::memcpy(serialReport + 2, serial, std::strlen(serial));
    std::uint8_t stateReport[17] = {0, 0x31, state};
    const bool tookSerial = HidD_SetFeature(handle, serialReport, sizeof serialReport) != FALSE;
    const bool tookState = HidD_SetFeature(handle, stateReport, sizeof stateReport) != FALSE;
    CloseHandle(handle);
    Require(tookSerial == tookState, "a board takes every report or none");
    return tookSerial;
}

std::string SerialAsDeviceString(const char *serial) {
    std::string raw(HID_STRING_BYTES, '\0');
    for (std::size_t i = 0; serial[i] != '\0'; ++i) {
        raw[2 * i] = serial[i];
    }
    return raw;
}

// What a device string looks like in the caller's buffer up to its zero unit
// (the bytes after it are whatever the buffer held before).
std::string UpToZeroUnit(const std::string &raw) {
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        if (raw[i] == 0 && raw[i + 1] == 0) {
            return raw.substr(0, i);
        }
    }
    return raw;
}

void CheckRewrittenHost(const std::vector<InterfaceView> &before, const std::vector<bool> &written) {
    std::string error;
    const std::string text = SimHostText();
    Require(SimHostLoadText(text, &error), "the rewritten host loads again: " + error + "\n" + text);
    const std::vector<InterfaceView> after = ReadHost();
    Require(after.size() == before.size(), "the rewritten host has the same interfaces");
    for (std::size_t i = 0; i < after.size(); ++i) {
        const InterfaceView &was = before[i];
        const InterfaceView &is = after[i];
        Require(is.detailRead == was.detailRead && is.opened == was.opened &&
                    is.attributesRead == was.attributesRead && is.vendorId == was.vendorId &&
                    is.productId == was.productId,
                "rewriting keeps every other field");
        for (int which = 0; which < 3; ++which) {
            if (written[i] && which == SERIAL_STRING) {
                const char *serial = NEW_SERIALS[i % (sizeof NEW_SERIALS / sizeof NEW_SERIALS[0])];
                Require(is.stringRead[which] &&
                            UpToZeroUnit(is.strings[which]) == UpToZeroUnit(SerialAsDeviceString(serial)),
                        "the board keeps the serial number it took");
                continue;
            }
            Require(is.stringRead[which] == was.stringRead[which] &&
                        UpToZeroUnit(is.strings[which]) == UpToZeroUnit(was.strings[which]),
                    "rewriting keeps every other string");
        }
        const int state = written[i] ? static_cast<int>((i * 73 + 11) & 0xFF) : was.state;
        Require(is.state == state, "the board keeps the state it took");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::string error;
    if (!SimHostLoadText(text, &error)) {
        Require(error.rfind("host:", 0) == 0 && error.find('\n') == std::string::npos,
                "a refused host gives one line naming it: " + error);
        Require(ReadHost().empty(), "a refused host leaves no interface");
        return 0;
    }
    const std::vector<InterfaceView> before = ReadHost();
    std::vector<bool> written;
    written.reserve(before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        written.push_back(WriteBoard(i, static_cast<std::uint8_t>((i * 73 + 11) & 0xFF)));
    }
    CheckRewrittenHost(before, written);
    return 0;
}
