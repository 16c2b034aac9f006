// The simulated host. Its HID interfaces are the lines of a host file: loading
// checks every line and keeps only where each interface's line starts, and
// every platform operation reads and parses the one line it needs, so memory
// does not grow with the host. Boards that take a report update the file the
// way a real board updates its memory, and every event can be appended to a
// log for tests to read.
#include "platform/sim_host.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/hid_platform.h"

#ifdef _WIN32
#include <process.h>
#define SimProcessId _getpid
#else
#include <unistd.h>
#define SimProcessId getpid
#endif

namespace {

constexpr std::size_t MAX_STRING_UNITS = 256;
constexpr const char *DEVICE_PATH_PREFIX = "sim:";

// A device string as the device would report it; absent means the string
// cannot be read at all.
struct SimString {
    bool present = false;
    std::vector<std::uint16_t> units;
};

// Where a field's value stands in its line, so that it can be rewritten.
struct ValueSpan {
    bool present = false;
    std::size_t start = 0;
    std::size_t end = 0;
};

// One interface as its line describes it. It is parsed afresh for every
// operation and dropped afterwards, so the host's memory does not grow with
// the number of interfaces.
struct SimInterface {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    SimString manufacturer;
    SimString product;
    SimString serial;
    bool openFails = false;
    bool detailFails = false;
    bool attributesFails = false;
    bool featureFails = false;
    int state = 0;
    ValueSpan serialSpan;
    ValueSpan stateSpan;
};

// One line of the host file: its text without the line end, and the line end.
struct HostLine {
    std::string text;
    std::string ending;
};

struct OpenHandle {
    std::size_t slot;  // the handle's number
    int interfaceIndex;
};

// The host file is read through a window of this many bytes, so that a pass
// over the interfaces in order reads it in large blocks.
constexpr std::size_t WINDOW_BYTES = 32768;

struct SimHost {
    std::vector<std::uint64_t> lineOffsets;  // per interface: where its line starts in the host file
    std::string text;                        // loaded from text: the host file's text, updates included
    bool fromFile = false;                   // false: loaded from text, board memory stays in memory
    std::string path;                        // loaded from a file: that file
    std::string window;                      // bytes of the host file from windowOffset on
    std::uint64_t windowOffset = 0;
    bool windowValid = false;
    std::string logPath;
    std::size_t handlesHandedOut = 0;     // every handle gets a new number, so a closed one stays unknown
    std::vector<OpenHandle> openHandles;  // only the handles open now
    std::vector<bool> listLive;           // per device list handed out: not yet released
    std::vector<SimFeatureCall> featureCalls;
    bool failNextDeviceList = false;
};

SimHost &Host() {
    static SimHost host;
    return host;
}

// ---- The log ----

void AppendLog(const std::string &line) {
    const SimHost &host = Host();
    if (host.logPath.empty()) {
        return;
    }
    std::FILE *log = std::fopen(host.logPath.c_str(), "a");
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "%s\n", line.c_str());
    std::fclose(log);
}

// ---- Parsing the host file ----

struct ParseError {
    std::string message;
    std::string text;
};

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

bool ParseId(const std::string &value, std::uint16_t *out) {
    long number = 0;
    if (value.size() > 2 && value[0] == '0' && value[1] == 'x') {
        if (value.size() > 6) {
            return false;
        }
        for (std::size_t i = 2; i < value.size(); ++i) {
            const int digit = HexDigitValue(value[i]);
            if (digit < 0) {
                return false;
            }
            number = number * 16 + digit;
        }
    } else if (!ParseDecimal(value, 0xFFFF, &number)) {
        return false;
    }
    *out = static_cast<std::uint16_t>(number);
    return true;
}

// Decodes one UTF-8 sequence starting at value[*pos]; false when it is not
// well-formed (overlong, surrogate, beyond U+10FFFF or cut short).
bool DecodeUtf8(const std::string &value, std::size_t *pos, std::uint32_t *codePoint) {
    const unsigned char lead = static_cast<unsigned char>(value[*pos]);
    std::size_t extra;
    std::uint32_t cp;
    if (lead < 0x80) {
        extra = 0, cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, cp = lead & 0x07u;
    } else {
        return false;
    }
    if (*pos + extra >= value.size()) {
        return false;
    }
    for (std::size_t i = 1; i <= extra; ++i) {
        const unsigned char next = static_cast<unsigned char>(value[*pos + i]);
        if ((next & 0xC0u) != 0x80u) {
            return false;
        }
        cp = (cp << 6) | (next & 0x3Fu);
    }
    const std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < smallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
    }
    *pos += extra + 1;
    *codePoint = cp;
    return true;
}

void AppendCodePoint(std::uint32_t cp, std::vector<std::uint16_t> *units) {
    if (cp < 0x10000) {
        units->push_back(static_cast<std::uint16_t>(cp));
        return;
    }
    cp -= 0x10000;
    units->push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
    units->push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FFu)));
}

bool ParseEscape(const std::string &value, std::size_t *pos, std::vector<std::uint16_t> *units) {
    if (*pos + 1 >= value.size()) {
        return false;
    }
    const char kind = value[*pos + 1];
    if (kind == 's' || kind == 't' || kind == '\\') {
        units->push_back(kind == 's' ? u' ' : kind == 't' ? u'\t' : u'\\');
        *pos += 2;
        return true;
    }
    if (kind != 'u' || *pos + 6 > value.size()) {
        return false;
    }
    std::uint32_t unit = 0;
    for (std::size_t i = *pos + 2; i < *pos + 6; ++i) {
        const int digit = HexDigitValue(value[i]);
        if (digit < 0) {
            return false;
        }
        unit = unit * 16 + static_cast<std::uint32_t>(digit);
    }
    units->push_back(static_cast<std::uint16_t>(unit));
    *pos += 6;
    return true;
}

bool ParseDeviceString(const std::string &value, SimString *out) {
    std::vector<std::uint16_t> units;
    std::size_t pos = 0;
    while (pos < value.size()) {
        if (value[pos] == '\\') {
            if (!ParseEscape(value, &pos, &units)) {
                return false;
            }
            continue;
        }
        std::uint32_t cp = 0;
        if (!DecodeUtf8(value, &pos, &cp)) {
            return false;
        }
        AppendCodePoint(cp, &units);
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

bool ApplyField(const std::string &key, const std::string &value, SimInterface *iface) {
    if (key == "vid") {
        return ParseId(value, &iface->vendorId);
    }
    if (key == "pid") {
        return ParseId(value, &iface->productId);
    }
    if (key == "manufacturer") {
        return ParseDeviceString(value, &iface->manufacturer);
    }
    if (key == "product") {
        return ParseDeviceString(value, &iface->product);
    }
    if (key == "serial") {
        return ParseDeviceString(value, &iface->serial);
    }
    if (key == "open") {
        return ParseFailFlag(value, &iface->openFails);
    }
    if (key == "detail") {
        return ParseFailFlag(value, &iface->detailFails);
    }
    if (key == "attributes") {
        return ParseFailFlag(value, &iface->attributesFails);
    }
    if (key == "feature") {
        return ParseFailFlag(value, &iface->featureFails);
    }
    long state = 0;
    if (!ParseDecimal(value, 255, &state)) {
        return false;
    }
    iface->state = static_cast<int>(state);
    return true;
}

constexpr const char *KNOWN_KEYS[] = {"vid",  "pid",    "manufacturer", "product", "serial",
                                      "open", "detail", "attributes",   "feature", "state"};

bool IsKnownKey(const std::string &key) {
    for (const char *known : KNOWN_KEYS) {
        if (key == known) {
            return true;
        }
    }
    return false;
}

// Parses one interface line into *iface; false with *error on a syntax error.
bool ParseInterfaceLine(const std::string &line, SimInterface *iface, ParseError *error) {
    std::vector<std::string> seenKeys;
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
        const std::string key = field.substr(0, equals);
        const std::string value = field.substr(equals + 1);
        if (!IsKnownKey(key)) {
            *error = {"unknown key", field};
            return false;
        }
        for (const std::string &seen : seenKeys) {
            if (seen == key) {
                *error = {"repeated key", field};
                return false;
            }
        }
        seenKeys.push_back(key);
        if (!ApplyField(key, value, iface)) {
            *error = {"malformed value", field};
            return false;
        }
        const ValueSpan span = {true, start + equals + 1, pos};
        if (key == "serial") {
            iface->serialSpan = span;
        } else if (key == "state") {
            iface->stateSpan = span;
        }
    }
    return true;
}

bool IsInterfaceLine(const std::string &line) {
    std::size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos])) {
        ++pos;
    }
    return pos < line.size() && line[pos] != '#';
}

// Control bytes of the offending text are shown as '?', so that the message
// stays one line on any terminal.
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

// ---- Reading the host file ----

// Closes a file without changing errno, so that a message names the failure
// that came before.
void CloseKeepingErrno(std::FILE *file) {
    const int saved = errno;
    std::fclose(file);
    errno = saved;
}

// Fills the window with the host file's bytes from offset on.
bool FillWindow(SimHost *host, std::uint64_t offset) {
    host->windowValid = false;
    if (offset > static_cast<std::uint64_t>(LONG_MAX)) {
        errno = EOVERFLOW;
        return false;
    }
    std::FILE *file = std::fopen(host->path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    host->window.resize(WINDOW_BYTES);
    bool ok = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
    std::size_t got = 0;
    if (ok) {
        got = std::fread(&host->window[0], 1, WINDOW_BYTES, file);
        ok = std::ferror(file) == 0;
    }
    CloseKeepingErrno(file);
    host->window.resize(got);
    host->windowOffset = offset;
    host->windowValid = ok;
    return ok;
}

// The host file's bytes from offset on, as many as are at hand: *count is 0
// only at the end of the file. False when the file cannot be read.
bool BytesAt(SimHost *host, std::uint64_t offset, const char **data, std::size_t *count) {
    if (!host->fromFile) {
        const std::size_t start =
            offset < host->text.size() ? static_cast<std::size_t>(offset) : host->text.size();
        *data = host->text.data() + start;
        *count = host->text.size() - start;
        return true;
    }
    const std::uint64_t windowEnd = host->windowOffset + host->window.size();
    const bool inWindow = host->windowValid && offset >= host->windowOffset &&
                          (offset < windowEnd || (offset == windowEnd && host->window.size() < WINDOW_BYTES));
    if (!inWindow && !FillWindow(host, offset)) {
        return false;
    }
    const std::size_t start = static_cast<std::size_t>(offset - host->windowOffset);
    *data = host->window.data() + start;
    *count = host->window.size() - start;
    return true;
}

// Reads the line that starts at offset; at the end of the file both its text
// and its ending are empty. False when the file cannot be read.
bool ReadLineAt(SimHost *host, std::uint64_t offset, HostLine *line) {
    line->text.clear();
    line->ending.clear();
    for (;;) {
        const char *data = nullptr;
        std::size_t count = 0;
        if (!BytesAt(host, offset, &data, &count)) {
            return false;
        }
        if (count == 0) {
            break;
        }
        const void *newline = std::memchr(data, '\n', count);
        if (newline != nullptr) {
            line->text.append(data, static_cast<std::size_t>(static_cast<const char *>(newline) - data));
            line->ending = "\n";
            break;
        }
        line->text.append(data, count);
        offset += count;
    }
    if (!line->text.empty() && line->text.back() == '\r') {
        line->text.pop_back();
        line->ending.insert(0, "\r");
    }
    return true;
}

// Reads the host file line by line, validating every interface line and
// remembering where each starts.
bool ScanHost(const std::string &name, SimHost *host, std::string *error) {
    HostLine line;
    std::uint64_t offset = 0;
    for (std::size_t number = 1;; ++number) {
        if (!ReadLineAt(host, offset, &line)) {
            *error = "cannot read host file " + name + ": " + std::strerror(errno);
            return false;
        }
        if (line.text.empty() && line.ending.empty()) {
            return true;
        }
        if (IsInterfaceLine(line.text)) {
            SimInterface iface;
            ParseError parseError;
            if (!ParseInterfaceLine(line.text, &iface, &parseError)) {
                *error = name + ":" + std::to_string(number) + ": " + parseError.message + ": " +
                         Printable(parseError.text);
                return false;
            }
            host->lineOffsets.push_back(offset);
        }
        offset += line.text.size() + line.ending.size();
    }
}

std::size_t InterfaceCount() {
    return Host().lineOffsets.size();
}

// Reads and parses the line of interface index. False when the host file can
// no longer be read, or no longer describes the interface.
bool ReadInterface(std::size_t index, SimInterface *iface, HostLine *line) {
    SimHost &host = Host();
    if (index >= host.lineOffsets.size() || !ReadLineAt(&host, host.lineOffsets[index], line)) {
        return false;
    }
    ParseError parseError;
    return ParseInterfaceLine(line->text, iface, &parseError);
}

bool ReadInterface(std::size_t index, SimInterface *iface) {
    HostLine line;
    return ReadInterface(index, iface, &line);
}

void ResetHost(SimHost *host) {
    std::vector<std::uint64_t>().swap(host->lineOffsets);
    std::string().swap(host->text);
    host->fromFile = false;
    host->path.clear();
    std::string().swap(host->window);
    host->windowOffset = 0;
    host->windowValid = false;
    host->handlesHandedOut = 0;
    host->openHandles.clear();
    host->listLive.clear();
    host->featureCalls.clear();
    host->failNextDeviceList = false;
}

bool ReadWholeFile(const char *path, std::string *text) {
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text->append(chunk, got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// ---- The board's memory ----

std::string EscapeDeviceText(const std::string &bytes) {
    std::string escaped;
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        char code[8];
        if (c == ' ') {
            escaped += "\\s";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (c == '\\') {
            escaped += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            std::snprintf(code, sizeof code, "\\u%04x", byte);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// Puts a new value into one field of a line, adding the field at the end of
// the line when it has none.
void RewriteField(std::string *line, const char *key, ValueSpan span, const std::string &value) {
    if (!span.present) {
        *line += std::string(" ") + key + "=";
        span = {true, line->size(), line->size()};
    }
    line->replace(span.start, span.end - span.start, value);
}

// Copies count bytes, or everything up to the end when count is
// COPY_TO_END, from one file to another.
constexpr std::uint64_t COPY_TO_END = ~std::uint64_t{0};

bool CopyBytes(std::FILE *from, std::FILE *to, std::uint64_t count) {
    char chunk[8192];
    while (count > 0) {
        const std::size_t want = count < sizeof chunk ? static_cast<std::size_t>(count) : sizeof chunk;
        const std::size_t got = std::fread(chunk, 1, want, from);
        if (got > 0 && std::fwrite(chunk, 1, got, to) != got) {
            return false;
        }
        if (got < want) {
            return std::ferror(from) == 0 && count == COPY_TO_END;
        }
        if (count != COPY_TO_END) {
            count -= got;
        }
    }
    return true;
}

// Writes the host file anew beside itself with one line replaced, streaming
// every other byte from the old file, then renames it into place, so a crash
// never leaves a half-written host file.
bool WriteHostFileWithLine(std::uint64_t offset, std::uint64_t oldSize, const std::string &newLine) {
    const SimHost &host = Host();
    if (offset + oldSize > static_cast<std::uint64_t>(LONG_MAX)) {
        errno = EOVERFLOW;
        return false;
    }
    std::FILE *from = std::fopen(host.path.c_str(), "rb");
    if (from == nullptr) {
        return false;
    }
    const std::string temporary = host.path + ".tmp." + std::to_string(SimProcessId());
    std::FILE *to = std::fopen(temporary.c_str(), "wb");
    if (to == nullptr) {
        CloseKeepingErrno(from);
        return false;
    }
    bool written = CopyBytes(from, to, offset) &&
                   std::fwrite(newLine.data(), 1, newLine.size(), to) == newLine.size() &&
                   std::fseek(from, static_cast<long>(offset + oldSize), SEEK_SET) == 0 &&
                   CopyBytes(from, to, COPY_TO_END);
    written = std::fflush(to) == 0 && std::ferror(to) == 0 && written;
    CloseKeepingErrno(from);
    if (std::fclose(to) != 0 || !written || std::rename(temporary.c_str(), host.path.c_str()) != 0) {
        const int saved = errno;
        std::remove(temporary.c_str());
        errno = saved;
        return false;
    }
    return true;
}

// Replaces the line of interface index, in the host file or in the text, and
// moves the offsets of the lines after it.
bool ReplaceLine(std::size_t index, std::size_t oldSize, const std::string &newLine) {
    SimHost &host = Host();
    const std::uint64_t offset = host.lineOffsets[index];
    if (!host.fromFile) {
        host.text.replace(static_cast<std::size_t>(offset), oldSize, newLine);
    } else {
        if (!WriteHostFileWithLine(offset, oldSize, newLine)) {
            return false;
        }
        host.windowValid = false;
    }
    for (std::size_t later = index + 1; later < host.lineOffsets.size(); ++later) {
        host.lineOffsets[later] = host.lineOffsets[later] - oldSize + newLine.size();
    }
    return true;
}

void RememberReport(std::size_t index, const SimInterface &iface, HostLine line, const std::uint8_t *report,
                    std::size_t length) {
    if (length < 3) {
        return;
    }
    const std::size_t oldSize = line.text.size() + line.ending.size();
    if (report[1] == 0x31) {
        RewriteField(&line.text, "state", iface.stateSpan, std::to_string(report[2]));
    } else if (report[1] == 0x82) {
        std::string text;
        for (std::size_t i = 2; i < length && report[i] != 0; ++i) {
            text += static_cast<char>(report[i]);
        }
        RewriteField(&line.text, "serial", iface.serialSpan, EscapeDeviceText(text));
    } else {
        return;
    }
    if (!ReplaceLine(index, oldSize, line.text + line.ending)) {
        std::fprintf(stderr, "rxb540-sim: cannot update host file %s: %s\n", Host().path.c_str(),
                     std::strerror(errno));
    }
}

// ---- Handles and lists ----

constexpr std::uintptr_t HANDLE_STRIDE = 16;
constexpr std::uintptr_t LIST_TAG = 8;

HANDLE MakeHandle(std::size_t slot) {
    return reinterpret_cast<HANDLE>((slot + 1) * HANDLE_STRIDE);
}

// Where an open handle stands among the open handles, or -1 for a handle this
// host did not hand out or that is closed already.
long OpenHandlePosition(HANDLE handle) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == 0 || value % HANDLE_STRIDE != 0) {
        return -1;
    }
    const std::size_t slot = value / HANDLE_STRIDE - 1;
    const std::vector<OpenHandle> &open = Host().openHandles;
    for (std::size_t i = 0; i < open.size(); ++i) {
        if (open[i].slot == slot) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// The interface index behind an open handle, or -1.
int InterfaceOf(HANDLE handle) {
    const long position = OpenHandlePosition(handle);
    return position < 0 ? -1 : Host().openHandles[static_cast<std::size_t>(position)].interfaceIndex;
}

// Parses the interface behind an open handle; false for a handle that is not
// open, or when its line can no longer be read.
bool OpenInterfaceOf(HANDLE handle, int *index, SimInterface *iface, HostLine *line) {
    *index = InterfaceOf(handle);
    return *index >= 0 && ReadInterface(static_cast<std::size_t>(*index), iface, line);
}

bool IsLiveList(HDEVINFO list) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(list);
    const SimHost &host = Host();
    if (value % HANDLE_STRIDE != LIST_TAG) {
        return false;
    }
    const std::size_t slot = value / HANDLE_STRIDE;
    return slot < host.listLive.size() && host.listLive[slot];
}

std::string DevicePathOf(std::size_t index) {
    return DEVICE_PATH_PREFIX + std::to_string(index);
}

// The interface index named by a device path "sim:N", or -1.
long InterfaceIndexOfPath(const char *path) {
    const std::size_t prefixLength = std::strlen(DEVICE_PATH_PREFIX);
    if (path == nullptr || std::strncmp(path, DEVICE_PATH_PREFIX, prefixLength) != 0) {
        return -1;
    }
    long index = 0;
    if (!ParseDecimal(path + prefixLength, 999999, &index) ||
        static_cast<std::size_t>(index) >= InterfaceCount()) {
        return -1;
    }
    return index;
}

BOOLEAN CopyDeviceString(HANDLE handle, SimString SimInterface::*which, PVOID buffer, ULONG length) {
    int index = -1;
    SimInterface iface;
    HostLine line;
    if (!OpenInterfaceOf(handle, &index, &iface, &line) || !(iface.*which).present || buffer == nullptr) {
        return FALSE;
    }
    const std::vector<std::uint16_t> &units = (iface.*which).units;
    unsigned char *out = static_cast<unsigned char *>(buffer);
    std::size_t written = 0;
    for (std::size_t i = 0; i < units.size() && written + 2 <= length; ++i, written += 2) {
        std::memcpy(out + written, &units[i], 2);
    }
    if (written + 2 <= length) {
        std::memset(out + written, 0, 2);
    }
    return TRUE;
}

void LogProcessEndAtExit() {
    SimHostLogProcessEnd();
}

// Loads the host and opens the log named by the environment. Returns 0, or
// the exit status 2 after writing one line to standard error.
int StartFromEnvironment() {
    const char *hostPath = std::getenv("RXB540_SIM_HOST");
    if (hostPath == nullptr) {
        std::fprintf(stderr, "rxb540-sim: RXB540_SIM_HOST is not set; it must name a host file\n");
        return 2;
    }
    std::string error;
    if (!SimHostLoadFile(hostPath, &error)) {
        std::fprintf(stderr, "rxb540-sim: %s\n", error.c_str());
        return 2;
    }
    const char *logPath = std::getenv("RXB540_SIM_LOG");
    if (logPath != nullptr && logPath[0] != '\0') {
        std::FILE *log = std::fopen(logPath, "a");
        if (log == nullptr) {
            std::fprintf(stderr, "rxb540-sim: cannot open log file %s: %s\n", logPath, std::strerror(errno));
            return 2;
        }
        std::fclose(log);
        SimHostSetLog(logPath);
        std::atexit(LogProcessEndAtExit);
    }
    return 0;
}

}  // namespace

// ---- The test and start-up interface ----

bool SimHostLoadText(const std::string &text, std::string *error) {
    SimHost &host = Host();
    ResetHost(&host);
    host.text = text;
    if (!ScanHost("host", &host, error)) {
        ResetHost(&host);
        return false;
    }
    return true;
}

bool SimHostLoadFile(const char *path, std::string *error) {
    SimHost &host = Host();
    ResetHost(&host);
    host.fromFile = true;
    host.path = path;
    if (!ScanHost(path, &host, error)) {
        ResetHost(&host);
        return false;
    }
    return true;
}

void SimHostSetLog(const char *path) {
    Host().logPath = path == nullptr ? "" : path;
}

int SimHostOpenHandleCount() {
    return static_cast<int>(Host().openHandles.size());
}

int SimHostOpenListCount() {
    int live = 0;
    for (bool isLive : Host().listLive) {
        live += isLive ? 1 : 0;
    }
    return live;
}

int SimHostBoardState(int index) {
    SimInterface iface;
    if (index < 0 || !ReadInterface(static_cast<std::size_t>(index), &iface)) {
        return -1;
    }
    return iface.state;
}

const std::vector<SimFeatureCall> &SimHostFeatureCalls() {
    return Host().featureCalls;
}

std::string SimHostText() {
    const SimHost &host = Host();
    if (!host.fromFile) {
        return host.text;
    }
    std::string text;
    ReadWholeFile(host.path.c_str(), &text);
    return text;
}

void SimHostFailNextDeviceList() {
    Host().failNextDeviceList = true;
}

void SimHostLogProcessEnd() {
    AppendLog("end open=" + std::to_string(SimHostOpenHandleCount()));
}

bool SimHostStartFromEnvironment() {
    // The process ends only after StartFromEnvironment has returned, so that
    // no string of it is left behind unreleased.
    const int status = StartFromEnvironment();
    if (status != 0) {
        std::exit(status);
    }
    return true;
}

// ---- The platform operations ----

extern "C" {

void HidD_GetHidGuid(LPGUID HidGuid) {
    // The HID interface class identifier, {4D1E55B2-F16F-11CF-88CB-001111000030}.
    const GUID hid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    *HidGuid = hid;
}

HDEVINFO SetupDiGetClassDevsA(const GUID *, PCSTR, HWND, DWORD) {
    SimHost &host = Host();
    if (host.failNextDeviceList) {
        host.failNextDeviceList = false;
        return INVALID_HANDLE_VALUE;
    }
    AppendLog("enumerate");
    host.listLive.push_back(true);
    return reinterpret_cast<HDEVINFO>((host.listLive.size() - 1) * HANDLE_STRIDE + LIST_TAG);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID *InterfaceClassGuid,
                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    if (!IsLiveList(DeviceInfoSet) || DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || MemberIndex >= InterfaceCount()) {
        return FALSE;
    }
    DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
    DeviceInterfaceData->Flags = 0;
    DeviceInterfaceData->Reserved = MemberIndex;
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA) {
    if (!IsLiveList(DeviceInfoSet) || DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->Reserved >= InterfaceCount()) {
        return FALSE;
    }
    const std::size_t index = DeviceInterfaceData->Reserved;
    const std::string path = DevicePathOf(index);
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (RequiredSize != nullptr) {
        *RequiredSize = needed;
    }
    SimInterface iface;
    if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < needed ||
        DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
        !ReadInterface(index, &iface) || iface.detailFails) {
        return FALSE;
    }
    std::memcpy(DeviceInterfaceDetailData->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    if (!IsLiveList(DeviceInfoSet)) {
        return FALSE;
    }
    Host().listLive[reinterpret_cast<std::uintptr_t>(DeviceInfoSet) / HANDLE_STRIDE] = false;
    return TRUE;
}

HANDLE CreateFileA(PCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    const long index = InterfaceIndexOfPath(lpFileName);
    SimInterface iface;
    if (index < 0 || !ReadInterface(static_cast<std::size_t>(index), &iface) || iface.openFails) {
        return INVALID_HANDLE_VALUE;
    }
    SimHost &host = Host();
    const std::size_t slot = host.handlesHandedOut++;
    host.openHandles.push_back({slot, static_cast<int>(index)});
    AppendLog("open " + std::to_string(index));
    return MakeHandle(slot);
}

BOOL CloseHandle(HANDLE hObject) {
    const long position = OpenHandlePosition(hObject);
    if (position < 0) {
        AppendLog("bad-handle");
        return FALSE;
    }
    std::vector<OpenHandle> &open = Host().openHandles;
    AppendLog("close " + std::to_string(open[static_cast<std::size_t>(position)].interfaceIndex));
    open.erase(open.begin() + position);
    return TRUE;
}

BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
    int index = -1;
    SimInterface iface;
    HostLine line;
    if (!OpenInterfaceOf(HidDeviceObject, &index, &iface, &line) || Attributes == nullptr ||
        iface.attributesFails) {
        return FALSE;
    }
    Attributes->VendorID = iface.vendorId;
    Attributes->ProductID = iface.productId;
    Attributes->VersionNumber = 0;
    return TRUE;
}

BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return CopyDeviceString(HidDeviceObject, &SimInterface::manufacturer, Buffer, BufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return CopyDeviceString(HidDeviceObject, &SimInterface::product, Buffer, BufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return CopyDeviceString(HidDeviceObject, &SimInterface::serial, Buffer, BufferLength);
}

BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    int index = -1;
    SimInterface iface;
    HostLine line;
    if (!OpenInterfaceOf(HidDeviceObject, &index, &iface, &line) || ReportBuffer == nullptr) {
        return FALSE;
    }
    const std::uint8_t *report = static_cast<const std::uint8_t *>(ReportBuffer);
    std::string hex;
    for (ULONG i = 0; i < ReportBufferLength; ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", report[i]);
        hex += digits;
    }
    AppendLog("feature " + std::to_string(index) + " " + hex + (iface.featureFails ? " fail" : " ok"));
    Host().featureCalls.push_back({index, SimHostOpenHandleCount(),
                                   std::string(reinterpret_cast<const char *>(report), ReportBufferLength),
                                   !iface.featureFails});
    if (iface.featureFails) {
        return FALSE;
    }
    RememberReport(static_cast<std::size_t>(index), iface, line, report, ReportBufferLength);
    return TRUE;
}

}  // extern "C"
