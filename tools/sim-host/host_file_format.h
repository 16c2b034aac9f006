// The host file's format (docs/simulated-host.md): lines, each interface line
// a set of key=value fields, device strings with their escapes. Pure text
// work: nothing here touches a file.
#ifndef RXB540_SIM_HOST_HOST_FILE_FORMAT_H
#define RXB540_SIM_HOST_HOST_FILE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One line of the host file: its text without the line end, and the line end
// ("\n", "\r\n", a lone "\r" at the end of the file, or nothing).
struct HostLine {
    std::string text;
    std::string ending;
};

// A device string as the device would report it; absent means the string
// cannot be read at all.
struct DeviceString {
    bool present = false;
    std::u16string units;
};

// Where a field's value stands in its line, so that it can be rewritten.
struct ValueSpan {
    bool present = false;
    std::size_t start = 0;
    std::size_t end = 0;
};

// One interface as its line describes it.
struct HostInterface {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    DeviceString manufacturer;
    DeviceString product;
    DeviceString serial;
    bool openFails = false;
    bool detailFails = false;
    bool attributesFails = false;
    bool featureFails = false;
    int state = 0;
    ValueSpan serialSpan;
    ValueSpan stateSpan;
};

// A syntax error: what is wrong ("unknown key", ...) and the field it is in.
struct HostFileError {
    std::string message;
    std::string field;
};

// Splits text into lines at LF; a CR before the LF, or at the very end,
// belongs to the line end. Joining the lines gives the text back byte for byte.
std::vector<HostLine> SplitHostLines(const std::string &text);
std::string JoinHostLines(const std::vector<HostLine> &lines);

// False for blank lines and comments, which describe no interface.
bool IsInterfaceLine(const std::string &line);

// Parses one interface line; false with *error on a syntax error.
bool ParseInterfaceLine(const std::string &line, HostInterface *iface, HostFileError *error);

// A decimal number of at most six digits, no sign, not above maximum.
bool ParseDecimal(const std::string &value, long maximum, long *out);

// Bytes written as a device-string value: a space, a tab and a backslash as
// their escapes, bytes outside printable ASCII as \u00XX.
std::string EscapeDeviceText(const std::string &bytes);

// Puts a new value into one field of a line, adding the field at the end of
// the line when it has none (span not present).
void SetFieldValue(std::string *line, const char *key, ValueSpan span, const std::string &value);

// The text with its control bytes shown as '?', so that a message quoting it
// stays one line on any terminal.
std::string Printable(const std::string &text);

#endif  // RXB540_SIM_HOST_HOST_FILE_FORMAT_H
