#include "board_commands.h"

namespace {

BoardCommand Ignored(const char *reason) {
    return BoardCommand{BOARD_IGNORED, 0, std::string(), reason};
}

// The serial text runs from offset 1 up to its terminating zero; a report
// without a zero ends the text at the last byte received.
std::string SerialPayload(const unsigned char *data, std::size_t length) {
    std::string text;
    for (std::size_t i = 1; i < length && data[i] != 0; ++i) {
        text.push_back(static_cast<char>(data[i]));
    }
    return text;
}

}  // namespace

BoardCommand DecodeBoardReport(const unsigned char *data, std::size_t length) {
    if (length < 2) {
        return Ignored("short-report");
    }
    if (data[0] == BOARD_COMMAND_SET_STATE) {
        return BoardCommand{BOARD_SET_STATE, data[1], std::string(), std::string()};
    }
    if (data[0] == BOARD_COMMAND_SET_SERIAL) {
        std::string serial = SerialPayload(data, length);
        if (!IsValidSerialText(serial)) {
            return Ignored("bad-serial");
        }
        return BoardCommand{BOARD_SET_SERIAL, 0, serial, std::string()};
    }
    return Ignored("unknown-command");
}

std::string HexBytes(const unsigned char *data, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < length; ++i) {
        hex.push_back(digits[data[i] >> 4]);
        hex.push_back(digits[data[i] & 0x0f]);
    }
    return hex;
}

bool IsPrintableAsciiText(const std::string &text, bool blanksAllowed) {
    if (text.empty() || text.size() > 126) {
        return false;
    }
    const char lowest = blanksAllowed ? 0x20 : 0x21;
    for (char c : text) {
        if (c < lowest || c > 0x7e) {
            return false;
        }
    }
    return true;
}

bool IsValidSerialText(const std::string &serial) {
    return IsPrintableAsciiText(serial, false);
}
