// The host file's format (docs/simulated-host.md): lines, each interface line
// a set of key=value fields, device strings with their escapes. Pure text
// work: nothing here touches a file.
#ifndef RXB540_SIM_HOST_HOST_FILE_FORMAT_H
#define RXB540_SIM_HOST_HOST_FILE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Where a field's value stands in its line; absent when the line has no such
// field (a device string that is absent cannot be read at all).
struct ValueSpan {
    bool present = false;
    std::size_t start = 0;
    std::size_t end = 0;
};

// One interface as its line describes it. Device strings stay in the line
// (they were checked when it was parsed) and are decoded when they are read.
struct HostInterface {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    ValueSpan manufacturer;
    ValueSpan product;
    ValueSpan serial;
    bool openFails = false;
    bool detailFails = false;
    bool attributesFails = false;
    bool featureFails = false;
    int state = 0;
    ValueSpan stateSpan;
    long attachment = 0;  // a new number: the device was enumerated anew
};

// A syntax error: what is wrong ("unknown key", ...) and the field it is in.
struct HostFileError {
    std::string message;
    std::string field;
};

// The line that starts at text[start]: returns where its text ends; *next is
// where the next line starts. A CR before the LF, or at the very end of the
// text, belongs to the line end.
std::size_t LineEnd(const std::string &text, std::size_t start, std::size_t *next);

// False for blank lines and comments, which describe no interface.
bool IsInterfaceLine(std::string_view line);

// Parses one interface line; false with *error on a syntax error.
bool ParseInterfaceLine(std::string_view line, HostInterface *iface, HostFileError *error);

// The UTF-16 units of a device-string value (escapes, then UTF-8); false when
// it is malformed or longer than 256 units.
bool DecodeDeviceString(std::string_view value, std::u16string *units);

// A decimal number of at most six digits, no sign, not above maximum.
bool ParseDecimal(std::string_view value, long maximum, long *out);

// Bytes written as a device-string value: a space, a tab and a backslash as
// their escapes, bytes outside printable ASCII as \u00XX.
std::string EscapeDeviceText(const std::string &bytes);

// Puts a new value into one field of a line, adding the field at the end of
// the line when it has none (span not present).
void SetFieldValue(std::string *line, const char *key, ValueSpan span, std::string_view value);

// The text with its control bytes shown as '?', so that a message quoting it
// stays one line on any terminal.
std::string Printable(const std::string &text);

#endif  // RXB540_SIM_HOST_HOST_FILE_FORMAT_H
