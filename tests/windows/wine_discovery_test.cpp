// Discovery on the real Windows HID path, run under Wine. Wine has no RXB540,
// but it offers a virtual HID mouse and keyboard with readable strings, so a
// pass that looks for their identity goes through every call that a pass for
// a board makes: enumeration, open, attributes, the three strings, selection,
// handing over the open handle and a feature report that the device refuses.
//
// Without arguments: runs the checks, prints "PASS name" or "FAIL name" for
// each and ends with status 1 if any failed. With the argument "list-mouse":
// lists the serial numbers of Wine's mouse, as the list command would.
#include <cstdio>
#include <cstring>

#include "board/discovery.h"
#include "board/feature_report.h"

namespace {

// The identity of Wine's virtual HID devices (Wine 8).
constexpr std::uint16_t WINE_VENDOR_ID = 0x845E;
constexpr std::uint16_t WINE_MOUSE_PRODUCT_ID = 0x0001;
constexpr std::uint16_t WINE_KEYBOARD_PRODUCT_ID = 0x0002;
constexpr const char *WINE_MANUFACTURER = "The Wine Project";
constexpr const char *WINE_MOUSE = "Wine HID mouse";
constexpr const char *WINE_KEYBOARD = "Wine HID keyboard";
constexpr const char *WINE_SERIAL = "0000";

// Stands for "not written": a value no pass would hand back.
HidHandle const UNTOUCHED = reinterpret_cast<HidHandle>(static_cast<ULONG_PTR>(0x5A5A));

int failures = 0;

void Check(bool ok, const char *name) {
    std::printf("%s %s\n", ok ? "PASS" : "FAIL", name);
    if (!ok) {
        ++failures;
    }
}

struct Pass {
    DeviceResult result;
    HidHandle handle;
};

Pass OpenWine(const char *manufacturer, std::uint16_t productId, const char *product, SerialSelector serial) {
    Pass pass = {DEVICE_OK, UNTOUCHED};
    pass.result = OpenHidDevice(&pass.handle, WINE_VENDOR_ID, manufacturer, productId, product, serial);
    return pass;
}

bool IsOpenDevice(HidHandle handle, std::uint16_t productId) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || handle == UNTOUCHED) {
        return false;
    }
    HIDD_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.Size = sizeof attributes;
    return HidD_GetAttributes(handle, &attributes) && attributes.VendorID == WINE_VENDOR_ID &&
           attributes.ProductID == productId;
}

bool NotFoundAndUntouched(const Pass &pass) {
    return pass.result == DEVICE_NOT_FOUND && pass.handle == UNTOUCHED;
}

void CheckSelectionHandsOverOpenHandle() {
    Pass any = OpenWine(WINE_MANUFACTURER, WINE_MOUSE_PRODUCT_ID, WINE_MOUSE, SERIAL_KEYWORD_ANY);
    Check(any.result == DEVICE_OK && IsOpenDevice(any.handle, WINE_MOUSE_PRODUCT_ID),
          "ANY selects Wine's mouse and hands over its open handle");
    if (any.result != DEVICE_OK) {
        return;
    }
    FeatureReport report;
    BuildSetStateReport(&report, 1);
    Check(SendFeatureReport(any.handle, report) == DEVICE_COMM_ERROR,
          "a feature report the device refuses is DEVICE_COMM_ERROR");
    Check(CloseHandle(any.handle) != FALSE, "the handed-over handle is the caller's to close");

    Pass bySerial = OpenWine(WINE_MANUFACTURER, WINE_KEYBOARD_PRODUCT_ID, WINE_KEYBOARD, WINE_SERIAL);
    Check(bySerial.result == DEVICE_OK && IsOpenDevice(bySerial.handle, WINE_KEYBOARD_PRODUCT_ID),
          "the serial number selects Wine's keyboard");
    if (bySerial.result == DEVICE_OK) {
        CloseHandle(bySerial.handle);
    }
}

void CheckMismatchesAreNotFound() {
    Check(NotFoundAndUntouched(OpenWine(WINE_MANUFACTURER, WINE_MOUSE_PRODUCT_ID, WINE_MOUSE, "any")),
          "lower-case any is a serial number, not the keyword");
    Check(NotFoundAndUntouched(OpenWine(WINE_MANUFACTURER, WINE_MOUSE_PRODUCT_ID, WINE_MOUSE, "000")) &&
              NotFoundAndUntouched(OpenWine(WINE_MANUFACTURER, WINE_MOUSE_PRODUCT_ID, WINE_MOUSE, "00000")),
          "serial numbers compare as whole strings");
    Check(NotFoundAndUntouched(OpenWine("the wine project", WINE_MOUSE_PRODUCT_ID, WINE_MOUSE, "ANY")),
          "the manufacturer compares case-sensitively");
    Check(NotFoundAndUntouched(OpenWine(WINE_MANUFACTURER, WINE_MOUSE_PRODUCT_ID, WINE_KEYBOARD, "ANY")),
          "the product string must match the interface's own");
}

// Each noted attachment: "" where the host keeps no arrival time (Wine), or
// the time as 16 hexadecimal digits.
bool NoteAttachment(void *context, const char *, const char *attachment, bool readable) {
    const std::size_t length = std::strlen(attachment);
    bool wellFormed = readable && (length == 0 || length == 16);
    for (std::size_t i = 0; i < length; ++i) {
        wellFormed = wellFormed && std::strchr("0123456789abcdef", attachment[i]) != nullptr;
    }
    *static_cast<int *>(context) += wellFormed ? 1 : 1000;
    return true;
}

BoardChoice CountVisit(void *, const char *, const char *) {
    return BoardChoice::PASS_OVER;
}

void CheckAttachmentsAreNoted() {
    HidHandle handle = UNTOUCHED;
    int notes = 0;
    const BoardIdentity mouse = {WINE_VENDOR_ID, WINE_MANUFACTURER, WINE_MOUSE_PRODUCT_ID, WINE_MOUSE};
    BoardSearch listing = {nullptr, CountVisit, &notes};
    listing.note = NoteAttachment;
    Check(SearchHidDevices(&handle, mouse, listing) == DEVICE_NOT_FOUND && notes >= 1 && notes < 1000,
          "the mouse is noted with an attachment that is empty or an arrival time");
}

BoardChoice PrintSerial(void *, const char *, const char *serial) {
    std::printf("%s\n", serial);
    return BoardChoice::PASS_OVER;
}

int ListMouse() {
    HidHandle handle = UNTOUCHED;
    const BoardIdentity mouse = {WINE_VENDOR_ID, WINE_MANUFACTURER, WINE_MOUSE_PRODUCT_ID, WINE_MOUSE};
    const BoardSearch listing = {nullptr, PrintSerial, nullptr};
    const DeviceResult result = SearchHidDevices(&handle, mouse, listing);
    return (result == DEVICE_NOT_FOUND && handle == UNTOUCHED) ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "list-mouse") == 0) {
        return ListMouse();
    }
    CheckSelectionHandsOverOpenHandle();
    CheckMismatchesAreNotFound();
    CheckAttachmentsAreNoted();
    return failures == 0 ? 0 : 1;
}
