#include "host_file_format.h"

#include <cstdio>

#include "platform/shared/utf16_text.h"

namespace {

// A device string of this many units fills a 512-byte buffer with no room
// for the zero unit; longer ones are refused.
constexpr std::size_t MAX_STRING_UNITS = 256;

enum HostKey {
    VID,
    PID,
    MANUFACTURER,
    PRODUCT,
    SERIAL,
    OPEN,
    DETAIL,
    ATTRIBUTES,
    FEATURE,
    STATE,
    ATTACHMENT,
    KEY_COUNT
};

constexpr const char *KEY_NAMES[KEY_COUNT] = {"vid",     "pid",   "manufacturer", "product",
                                              "serial",  "open",  "detail",       "attributes",
                                              "feature", "state", "attachment"};

// The key's place in KEY_NAMES, or KEY_COUNT for an unknown key.
int KeyOf(std::string_view name) {
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
bool ParseHex(std::string_view value, std::size_t start, std::size_t count, std::uint32_t *out) {
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
bool ParseId(std::string_view value, std::uint16_t *out) {
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
bool ParseEscape(std::string_view value, std::size_t *pos, std::u16string *units) {
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

}  // namespace

bool DecodeDeviceString(std::string_view value, std::u16string *units) {
    units->clear();
    std::size_t pos = 0;
    while (pos < value.size()) {
        if (value[pos] == '\\') {
            if (!ParseEscape(value, &pos, units)) {
                return false;
            }
            continue;
        }
        char32_t codePoint = 0;
        if (!DecodeUtf8(value.data(), value.size(), &pos, &codePoint)) {
            return false;
        }
        char16_t encoded[2];
        units->append(encoded, EncodeUtf16(codePoint, encoded));
    }
    return units->size() <= MAX_STRING_UNITS;
}

namespace {

// A device-string field: only checked here, decoded when it is read.
bool ParseDeviceString(std::string_view value, const ValueSpan &span, ValueSpan *out) {
    std::u16string units;
    *out = span;
    return DecodeDeviceString(value, &units);
}

bool ParseFailFlag(std::string_view value, bool *out) {
    if (value != "fail") {
        return false;
    }
    *out = true;
    return true;
}

// Takes the value of one field, which stands at span in its line.
bool ApplyField(int key, std::string_view value, const ValueSpan &span, HostInterface *iface) {
    switch (key) {
        case VID:
            return ParseId(value, &iface->vendorId);
        case PID:
            return ParseId(value, &iface->productId);
        case MANUFACTURER:
            return ParseDeviceString(value, span, &iface->manufacturer);
        case PRODUCT:
            return ParseDeviceString(value, span, &iface->product);
        case SERIAL:
            return ParseDeviceString(value, span, &iface->serial);
        case OPEN:
            return ParseFailFlag(value, &iface->openFails);
        case DETAIL:
            return ParseFailFlag(value, &iface->detailFails);
        case ATTRIBUTES:
            return ParseFailFlag(value, &iface->attributesFails);
        case FEATURE:
            return ParseFailFlag(value, &iface->featureFails);
        case ATTACHMENT:
            return ParseDecimal(value, 999999, &iface->attachment);
        default: {
            long state = 0;
            const bool parsed = ParseDecimal(value, 255, &state);
            iface->state = static_cast<int>(state);
            iface->stateSpan = span;
            return parsed;
        }
    }
}

}  // namespace

std::size_t LineEnd(const std::string &text, std::size_t start, std::size_t *next) {
    std::size_t end = text.find('\n', start);
    *next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos) {
        end = text.size();
    }
    return end > start && text[end - 1] == '\r' ? end - 1 : end;
}

bool IsInterfaceLine(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first != std::string_view::npos && line[first] != '#';
}

bool ParseInterfaceLine(std::string_view line, HostInterface *iface, HostFileError *error) {
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
        const std::string_view field = line.substr(start, pos - start);
        const std::size_t equals = field.find('=');
        const int key = equals == std::string_view::npos ? KEY_COUNT : KeyOf(field.substr(0, equals));
        const char *problem = equals == std::string_view::npos ? "field without '='"
                              : key == KEY_COUNT               ? "unknown key"
                              : (seenKeys & (1u << key)) != 0  ? "repeated key"
                                                               : nullptr;
        seenKeys |= key == KEY_COUNT ? 0 : 1u << key;
        if (problem == nullptr &&
            !ApplyField(key, field.substr(equals + 1), {true, start + equals + 1, pos}, iface)) {
            problem = "malformed value";
        }
        if (problem != nullptr) {
            *error = {problem, std::string(field)};
            return false;
        }
    }
    return true;
}

bool ParseDecimal(std::string_view value, long maximum, long *out) {
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

void SetFieldValue(std::string *line, const char *key, ValueSpan span, std::string_view value) {
    if (!span.present) {
        *line += std::string(" ") + key + "=";
        span = {true, line->size(), line->size()};
    }
    line->replace(span.start, span.end - span.start, value.data(), value.size());
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
