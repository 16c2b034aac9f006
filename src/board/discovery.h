// Finding RXB540 boards among the host's HID interfaces: visiting every board
// in the host's enumeration order, or selecting one by serial number (or the
// first one, for the keyword ANY). Nothing here prints: every pass hands its
// findings back to the caller.
#ifndef RXB540_BOARD_DISCOVERY_H
#define RXB540_BOARD_DISCOVERY_H

#include <cstddef>
#include <cstdint>

#include "board/device_result.h"
#include "platform/hid_platform.h"

// An open handle to one HID interface.
typedef HANDLE HidHandle;

// Absent (null): select no board; the exact keyword "ANY": the first board;
// any other text: the first board with that serial number.
typedef const char *SerialSelector;

constexpr const char *SERIAL_KEYWORD_ANY = "ANY";

// The buffer that one device string is read into: 256 UTF-16 code units.
constexpr std::size_t HID_STRING_BYTES = 512;

// The longest narrowed device string, its terminating zero included.
constexpr std::size_t NARROW_STRING_BYTES = HID_STRING_BYTES / 2 + 1;

// Turns the UTF-16 string at the start of the buffer into 8-bit text in the
// same buffer: a unit below 256 becomes the byte of that value, any other
// unit becomes '?'. Stops at the first zero unit or after the buffer's 256
// units, whichever comes first, and always terminates the text.
void NarrowHidString(char (&buffer)[HID_STRING_BYTES]);

// Whether a board with this serial number satisfies the selector: the keyword
// comes first, then the whole, case-sensitive serial number. A null selector
// selects nothing.
bool SerialSelects(SerialSelector selector, const char *serial);

// The IDs and strings that make an interface a board.
struct BoardIdentity {
    std::uint16_t vendorId;
    const char *manufacturer;
    std::uint16_t productId;
    const char *product;
};

// The RXB540's identity, with the manufacturer string of the build.
BoardIdentity RelayBoardIdentity();

// What a pass does with a board it has found.
enum class BoardChoice { PASS_OVER, SELECT, STOP };

// Called once for every board that a pass finds, in enumeration order, with
// the interface's path and its narrowed serial number; both live only for the
// call. SELECT ends the pass with this board selected, STOP ends it without a
// selection (the caller's own reason, an allocation that failed, say).
typedef BoardChoice (*BoardVisitor)(void *context, const char *path, const char *serial);

// Called, when a search asks for it, for every interface with the board's
// IDs whose strings either all could be read or not all: readable tells
// which. attachment is the interface's attachment text (GetInterfaceAttachment),
// "" where the host does not tell; path and attachment live only for the
// call. For a board, visit follows with the same path. False stops the pass
// without a selection (an allocation that failed, say).
typedef bool (*BoardNote)(void *context, const char *path, const char *attachment, bool readable);

struct BoardSearch {
    const char *onlyPath;  // null: every interface; else only the one with exactly this path is opened
    BoardVisitor visit;
    void *context;
    BoardNote note = nullptr;  // null: the attachment is not even read
};

// One pass over the host's HID interfaces. On DEVICE_OK the selected
// interface's handle is stored in handleOut and belongs to the caller;
// otherwise handleOut is not written and no handle is left open. A pass
// without a selection returns DEVICE_COMM_ERROR when a string of the last
// interface with the right IDs could not be read, DEVICE_LIST_FAILED when the
// device list could not be made, and DEVICE_NOT_FOUND otherwise.
DeviceResult SearchHidDevices(HidHandle *handleOut, const BoardIdentity &identity, const BoardSearch &search);

// A pass that selects by serial selector; a null selector visits every board
// and selects none.
DeviceResult OpenHidDevice(HidHandle *handleOut, std::uint16_t vendorId, const char *manufacturer,
                           std::uint16_t productId, const char *product, SerialSelector serial);

// A search among the RXB540 boards.
DeviceResult SearchRelayBoards(HidHandle *handleOut, const BoardSearch &search);

// Opens the RXB540 board chosen by the selector, as OpenHidDevice does.
DeviceResult OpenRelayBoard(HidHandle *handleOut, SerialSelector serial);

#endif  // RXB540_BOARD_DISCOVERY_H
