// How an emulated board reacts to one feature report that it received. The
// gadget side hands over the report without its report-ID byte, so offset 0
// holds the command byte and the payload starts at offset 1.
#ifndef RXB540_TOOLS_BOARD_EMULATOR_BOARD_COMMANDS_H
#define RXB540_TOOLS_BOARD_EMULATOR_BOARD_COMMANDS_H

#include <cstddef>
#include <string>

constexpr std::size_t BOARD_REPORT_BYTES = 16;
constexpr unsigned char BOARD_COMMAND_SET_STATE = 0x31;
constexpr unsigned char BOARD_COMMAND_SET_SERIAL = 0x82;

enum BoardCommandKind { BOARD_SET_STATE, BOARD_SET_SERIAL, BOARD_IGNORED };

struct BoardCommand {
    BoardCommandKind kind;
    int state;           // BOARD_SET_STATE: 0 to 255
    std::string serial;  // BOARD_SET_SERIAL: the new serial-number text
    std::string reason;  // BOARD_IGNORED: one word that says why
};

BoardCommand DecodeBoardReport(const unsigned char *data, std::size_t length);

// Lower-case hex digits of the bytes, two per byte, no separators.
std::string HexBytes(const unsigned char *data, std::size_t length);

// Text a USB string descriptor can carry here: 1 to 126 bytes (the longest
// string that the kernel's gadget configuration takes) of well-formed UTF-8
// without control characters, with or without blanks.
bool IsDescriptorText(const std::string &text, bool blanksAllowed);

// A serial number that the emulator accepts: descriptor text without blanks
// (blanks would break the key=value lines that the emulator prints).
bool IsValidSerialText(const std::string &serial);

#endif  // RXB540_TOOLS_BOARD_EMULATOR_BOARD_COMMANDS_H
