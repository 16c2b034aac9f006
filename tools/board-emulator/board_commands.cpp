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

// The length of the UTF-8 sequence that starts with the byte; 0 when no
// sequence starts with it (a continuation byte, or a lead byte that only
// overlong or out-of-range sequences use).
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xc2) {
        return 0;
    }
    if (lead < 0xe0) {
        return 2;
    }
    return lead < 0xf0 ? 3 : lead < 0xf5 ? 4 : 0;
}

// Reads the UTF-8 character at text[*at] and moves *at past it. False for a
// malformed sequence: a stray or truncated byte, an overlong form, a
// surrogate or a value beyond U+10FFFF.
bool NextCharacter(const std::string &text, std::size_t *at, char32_t *character) {
    const unsigned char lead = static_cast<unsigned char>(text[*at]);
    const std::size_t length = SequenceLength(lead);
    if (length == 0 || text.size() - *at < length) {
        return false;
    }
    char32_t value = length == 1 ? lead : lead & (0x7fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[*at + i]);
        if ((next & 0xc0) != 0x80) {
            return false;
        }
        value = (value << 6) | (next & 0x3fu);
    }
    static const char32_t LOWEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < LOWEST[length] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) {
        return false;
    }
    *at += length;
    *character = value;
    return true;
}

bool IsControlCharacter(char32_t character) {
    return character < 0x20 || (character >= 0x7f && character <= 0x9f);
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

bool IsDescriptorText(const std::string &text, bool blanksAllowed) {
    if (text.empty() || text.size() > 126) {
        return false;
    }
    char32_t character = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (!NextCharacter(text, &at, &character) || IsControlCharacter(character) ||
            (character == ' ' && !blanksAllowed)) {
            return false;
        }
    }
    return true;
}

bool IsValidSerialText(const std::string &serial) {
    return IsDescriptorText(serial, false);
}
