// Finding RXB540 boards among the host's HID interfaces: listing them, or
// selecting one by serial number (or the first one, for the keyword ANY).
#ifndef RXB540_BOARD_DISCOVERY_H
#define RXB540_BOARD_DISCOVERY_H

#include <cstddef>
#include <cstdint>

#include "board/device_result.h"
#include "platform/hid_platform.h"

// An open handle to one HID interface. Callers of OpenRelayBoard see an empty
// (null) handle when no board was selected.
typedef HANDLE HidHandle;

// Absent (null) selects listing mode; the exact keyword "ANY" selects the
// first board; any other text selects the board with that serial number.
typedef const char *SerialSelector;

constexpr const char *SERIAL_KEYWORD_ANY = "ANY";

// The buffer that one device string is read into: 256 UTF-16 code units.
constexpr std::size_t HID_STRING_BYTES = 512;

// Turns the UTF-16 string at the start of the buffer into 8-bit text in the
// same buffer: a unit below 256 becomes the byte of that value, any other
// unit becomes '?'. Stops at the first zero unit or after the buffer's 256
// units, whichever comes first, and always terminates the text.
void NarrowHidString(char (&buffer)[HID_STRING_BYTES]);

// One pass over the host's HID interfaces. On DEVICE_OK the selected
// interface's handle is stored in handleOut and belongs to the caller;
// otherwise handleOut is not written and no handle is left open. In listing
// mode every matching board's serial number is printed to standard output
// and no board is selected. DEVICE_LIST_FAILED when the interfaces could not
// be listed at all; ListFailureCause() then says why.
DeviceResult OpenHidDevice(HidHandle *handleOut, std::uint16_t vendorId, const char *manufacturer,
                           std::uint16_t productId, const char *product, SerialSelector serial);

// Runs the pass for an RXB540 board and reports a failure on standard error:
// "error finding <selector>: <reason>" when a selector was given, and in
// listing mode only a failed listing, as "error listing devices: <cause>".
// The reason for DEVICE_LIST_FAILED is the system's cause. On DEVICE_OK the
// board's handle is stored in handleOut; otherwise handleOut is not written.
DeviceResult SelectRelayBoard(SerialSelector serial, HidHandle *handleOut);

// Opens an RXB540 board through SelectRelayBoard, which reports why when it
// fails. Returns an empty handle when no board was selected.
HidHandle OpenRelayBoard(SerialSelector serial);

#endif  // RXB540_BOARD_DISCOVERY_H
