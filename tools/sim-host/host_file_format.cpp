#include "host_file_format.h"

#include <cstdio>

#include "platform/shared/utf16_text.h"

namespace {

// A device string of this many units fills a 512-byte buffer with no room
// for the zero unit; longer ones are refused.
constexpr std::size_t MAX_STRING_UNITS = 256;

enum HostKey { VID, PID, MANUFACTURER, PRODUCT, SERIAL, OPEN, DETAIL, ATTRIBUTES, FEATURE, STATE, KEY_COUNT };

constexpr const char *KEY_NAMES[KEY_COUNT] = {"vid",  "pid",    "manufacturer", "product", "serial",
                                              "open", "detail", "attributes",   "feature", "state"};

// The key's place in KEY_NAMES, or KEY_COUNT for an unknown key.
int KeyOf(const std::string &name) {
    int key = 0;
    while (key < KEY_COUNT && name != KEY_NAMES[key]) {
        ++key;
    }
    return key;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Exactly count hex digits from value[start] on.
bool ParseHex(const std::string &value, std::size_t start, std::size_t count, std::uint32_t *out) {
    if (start + count > value.size()) {
        return false;
    }
    std::uint32_t number = 0;
    for (std::size_t i = start; i < start + count; ++i) {
        const int digit = HexDigitValue(value[i]);
        if (digit < 0) {
            return false;
        }
        number = number * 16 + static_cast<std::uint32_t>(digit);
    }
    *out = number;
    return true;
}

// "0x" and 1-4 hex digits, or decimal 0-65535.
bool ParseId(const std::string &value, std::uint16_t *out) {
    if (value.size() > 2 && value[0] == '0' && value[1] == 'x') {
        std::uint32_t number = 0;
        if (value.size() > 6 || !ParseHex(value, 2, value.size() - 2, &number)) {
            return false;
        }
        *out = static_cast<std::uint16_t>(number);
        return true;
    }
    long number = 0;
    if (!ParseDecimal(value, 0xFFFF, &number)) {
        return false;
    }
    *out = static_cast<std::uint16_t>(number);
    return true;
}

// One escape at value[*pos] (a backslash): \s, \t, \\ or \uXXXX.
bool ParseEscape(const std::string &value, std::size_t *pos, std::u16string *units) {
    const char kind = *pos + 1 < value.size() ? value[*pos + 1] : '\0';
    if (kind == 's' || kind == 't' || kind == '\\') {
        units->push_back(kind == 's' ? u' ' : kind == 't' ? u'\t' : u'\\');
        *pos += 2;
        return true;
    }
    std::uint32_t unit = 0;
    if (kind != 'u' || !ParseHex(value, *pos + 2, 4, &unit)) {
        return false;
    }
    units->push_back(static_cast<char16_t>(unit));
    *pos += 6;
    return true;
}

// Escapes and well-formed UTF-8, at most MAX_STRING_UNITS UTF-16 units.
bool ParseDeviceString(const std::string &value, DeviceString *out) {
    std::u16string units;
    std::size_t pos = 0;
    while (pos < value.size()) {
        if (value[pos] == '\\') {
            if (!ParseEscape(value, &pos, &units)) {
                return false;
            }
            continue;
        }
        char32_t codePoint = 0;
        if (!DecodeUtf8(value.data(), value.size(), &pos, &codePoint)) {
            return false;
        }
        char16_t encoded[2];
        units.append(encoded, EncodeUtf16(codePoint, encoded));
    }
    if (units.size() > MAX_STRING_UNITS) {
        return false;
    }
    out->present = true;
    out->units = units;
    return true;
}

bool ParseFailFlag(const std::string &value, bool *out) {
    if (value != "fail") {
        return false;
    }
    *out = true;
    return true;
}

bool ApplyField(int key, const std::string &value, HostInterface *iface) {
    switch (key) {
        case VID:
            return ParseId(value, &iface->vendorId);
        case PID:
            return ParseId(value, &iface->productId);
        case MANUFACTURER:
            return ParseDeviceString(value, &iface->manufacturer);
        case PRODUCT:
            return ParseDeviceString(value, &iface->product);
        case SERIAL:
            return ParseDeviceString(value, &iface->serial);
        case OPEN:
            return ParseFailFlag(value, &iface->openFails);
        case DETAIL:
            return ParseFailFlag(value, &iface->detailFails);
        case ATTRIBUTES:
            return ParseFailFlag(value, &iface->attributesFails);
        case FEATURE:
            return ParseFailFlag(value, &iface->featureFails);
        default: {
            long state = 0;
            const bool parsed = ParseDecimal(value, 255, &state);
            iface->state = static_cast<int>(state);
            return parsed;
        }
    }
}

}  // namespace

std::vector<HostLine> SplitHostLines(const std::string &text) {
    std::vector<HostLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t newline = text.find('\n', pos);
        const std::size_t end = newline == std::string::npos ? text.size() : newline;
        HostLine line = {text.substr(pos, end - pos), newline == std::string::npos ? "" : "\n"};
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.ending.insert(0, "\r");
        }
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

std::string JoinHostLines(const std::vector<HostLine> &lines) {
    std::string text;
    for (const HostLine &line : lines) {
        text += line.text;
        text += line.ending;
    }
    return text;
}

bool IsInterfaceLine(const std::string &line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first != std::string::npos && line[first] != '#';
}

bool ParseInterfaceLine(const std::string &line, HostInterface *iface, HostFileError *error) {
    unsigned seenKeys = 0;
    std::size_t pos = 0;
    while (pos < line.size()) {
        if (IsBlank(line[pos])) {
            ++pos;
            continue;
        }
        const std::size_t start = pos;
        while (pos < line.size() && !IsBlank(line[pos])) {
            ++pos;
        }
        const std::string field = line.substr(start, pos - start);
        const std::size_t equals = field.find('=');
        if (equals == std::string::npos) {
            *error = {"field without '='", field};
            return false;
        }
        const int key = KeyOf(field.substr(0, equals));
        if (key == KEY_COUNT) {
            *error = {"unknown key", field};
            return false;
        }
        if ((seenKeys & (1u << key)) != 0) {
            *error = {"repeated key", field};
            return false;
        }
        seenKeys |= 1u << key;
        if (!ApplyField(key, field.substr(equals + 1), iface)) {
            *error = {"malformed value", field};
            return false;
        }
        const ValueSpan span = {true, start + equals + 1, pos};
        if (key == SERIAL) {
            iface->serialSpan = span;
        } else if (key == STATE) {
            iface->stateSpan = span;
        }
    }
    return true;
}

bool ParseDecimal(const std::string &value, long maximum, long *out) {
    if (value.empty() || value.size() > 6) {
        return false;
    }
    long number = 0;
    for (char c : value) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + (c - '0');
    }
    if (number > maximum) {
        return false;
    }
    *out = number;
    return true;
}

std::string EscapeDeviceText(const std::string &bytes) {
    std::string escaped;
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == ' ') {
            escaped += "\\s";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (c == '\\') {
            escaped += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", byte);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void SetFieldValue(std::string *line, const char *key, ValueSpan span, const std::string &value) {
    if (!span.present) {
        *line += std::string(" ") + key + "=";
        span = {true, line->size(), line->size()};
    }
    line->replace(span.start, span.end - span.start, value);
}

std::string Printable(const std::string &text) {
    std::string shown = text;
    for (char &c : shown) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return shown;
}
