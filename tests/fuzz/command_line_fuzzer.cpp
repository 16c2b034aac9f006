// The whole command path in-process. The input chooses a simulated host (its
// interfaces, their IDs and strings, failure flags) and up to four
// command-line arguments; the real dispatcher runs against that host. For
// every input: no handle or device list is left open, at most one feature
// report is sent, it is sent while the board's handle is the only one open,
// it goes to the board that the arguments selected and holds exactly what
// they asked for, and the command line returns the status the command
// promises.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "board/device_identity.h"
#include "app/commands.h"
#include "sim_host.h"
#include "require.h"

namespace {

constexpr std::size_t MAX_INTERFACES = 6;
constexpr std::size_t FULL_BUFFER_UNITS = 256;
constexpr std::size_t MAX_ARGUMENT_BYTES = 24;
constexpr std::size_t REPORT_BYTES = 17;

const char *const SERIAL_POOL[] = {"1", "2", "ANY", "any", "1700000001", ""};

struct ModelString {
    bool present = false;
    std::vector<std::uint16_t> units;
};

struct ModelInterface {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    ModelString manufacturer;
    ModelString product;
    ModelString serial;
    bool openFails = false;
    bool detailFails = false;
    bool attributesFails = false;
    bool featureFails = false;
    int state = 0;
};

// ---- Generating the host ----

std::vector<std::uint16_t> UnitsOf(const std::string &text) {
    std::vector<std::uint16_t> units;
    for (char c : text) {
        units.push_back(static_cast<unsigned char>(c));
    }
    return units;
}

std::uint16_t RandomUnit(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0:
            return in.ConsumeIntegralInRange<std::uint16_t>(0x20, 0x7E);
        case 1:  // control units, the zero unit included
            return in.ConsumeBool() ? 0x7F : in.ConsumeIntegralInRange<std::uint16_t>(0x00, 0x1F);
        case 2:
            return in.ConsumeIntegralInRange<std::uint16_t>(0x80, 0xFF);
        case 3:
            return in.ConsumeIntegralInRange<std::uint16_t>(0xD800, 0xDFFF);
        default:
            return in.ConsumeIntegral<std::uint16_t>();
    }
}

// A near miss of the text discovery looks for: one more unit, one unit made
// wide (it narrows to '?'), or the text followed by a zero unit and more.
std::vector<std::uint16_t> NearMiss(FuzzedDataProvider &in, const std::string &text) {
    std::vector<std::uint16_t> units = UnitsOf(text);
    switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            units.push_back(RandomUnit(in));
            break;
        case 1:
            if (!units.empty()) {
                const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(0, units.size() - 1);
                units[at] =
                    static_cast<std::uint16_t>(units[at] + 0x100 * in.ConsumeIntegralInRange(1, 0xFF));
            }
            break;
        default:
            units.push_back(0);
            units.push_back(RandomUnit(in));
            break;
    }
    return units;
}

ModelString GenerateString(FuzzedDataProvider &in, const std::string &sought) {
    ModelString s;
    s.present = true;
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
            s.present = false;
            break;
        case 1:
            s.units = UnitsOf(sought);
            break;
        case 2: {
            const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, std::size(SERIAL_POOL) - 1);
            s.units = UnitsOf(SERIAL_POOL[pick]);
            break;
        }
        case 3: {
            const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, 16);
            for (std::size_t i = 0; i < length; ++i) {
                s.units.push_back(RandomUnit(in));
            }
            break;
        }
        case 4:  // fills the caller's whole buffer, with no zero unit after it
            s.units = UnitsOf(sought);
            while (s.units.size() < FULL_BUFFER_UNITS) {
                const std::uint16_t unit = RandomUnit(in);
                s.units.push_back(unit == 0 ? u'z' : unit);
            }
            s.units.resize(FULL_BUFFER_UNITS);
            break;
        default:
            s.units = NearMiss(in, sought);
            break;
    }
    return s;
}

std::uint16_t GenerateId(FuzzedDataProvider &in, std::uint16_t sought) {
    return in.ConsumeIntegralInRange(0, 3) != 0 ? sought : in.ConsumeIntegral<std::uint16_t>();
}

ModelInterface GenerateInterface(FuzzedDataProvider &in) {
    ModelInterface iface;
    iface.vendorId = GenerateId(in, RELAY_VENDOR_ID);
    iface.productId = GenerateId(in, RELAY_PRODUCT_ID);
    iface.manufacturer = GenerateString(in, RELAY_MANUFACTURER);
    iface.product = GenerateString(in, RELAY_PRODUCT);
    const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, std::size(SERIAL_POOL) - 1);
    iface.serial = GenerateString(in, SERIAL_POOL[pick]);
    const std::uint8_t failures = in.ConsumeIntegral<std::uint8_t>();
    // Each failure flag is set for one interface in eight, so that most
    // interfaces get as far as their strings.
    iface.openFails = (failures & 0x07u) == 0x07u;
    iface.detailFails = (failures & 0x38u) == 0x38u;
    iface.attributesFails = (failures & 0xC0u) == 0xC0u && in.ConsumeBool();
    iface.featureFails = in.ConsumeIntegralInRange(0, 3) == 0;
    iface.state = in.ConsumeIntegral<std::uint8_t>();
    return iface;
}

// ---- Writing the host file ----

void AppendEscapedUnit(std::string *out, std::uint16_t unit) {
    char code[8];
    std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(unit));
    *out += code;
}

void AppendUtf8(std::string *out, std::uint32_t cp) {
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | (cp >> 6));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += static_cast<char>(0xE0 | (cp >> 12));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (cp >> 18));
        *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsHighSurrogate(std::uint16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(std::uint16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// A device string as a host-file value: escapes for what the format reserves,
// and either UTF-8 or \uXXXX for everything else.
std::string HostValue(const std::vector<std::uint16_t> &units, bool utf8) {
    std::string value;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint16_t unit = units[i];
        if (unit == u' ') {
            value += "\\s";
        } else if (unit == u'\t') {
            value += "\\t";
        } else if (unit == u'\\') {
            value += "\\\\";
        } else if (unit > 0x20 && unit < 0x7F) {
            value += static_cast<char>(unit);
        } else if (!utf8 || unit < 0x20 || unit == 0x7F || IsLowSurrogate(unit)) {
            AppendEscapedUnit(&value, unit);
        } else if (IsHighSurrogate(unit)) {
            if (i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
                AppendUtf8(&value, 0x10000 + ((unit - 0xD800u) << 10) + (units[i + 1] - 0xDC00u));
                ++i;
            } else {
                AppendEscapedUnit(&value, unit);
            }
        } else {
            AppendUtf8(&value, unit);
        }
    }
    return value;
}

std::string IdText(FuzzedDataProvider &in, std::uint16_t id) {
    char text[16];
    std::snprintf(text, sizeof text, in.ConsumeBool() ? "0x%x" : "%u", static_cast<unsigned>(id));
    return text;
}

std::string InterfaceLine(FuzzedDataProvider &in, const ModelInterface &iface) {
    std::vector<std::string> fields = {"vid=" + IdText(in, iface.vendorId),
                                       "pid=" + IdText(in, iface.productId)};
    const bool utf8 = in.ConsumeBool();
    const struct {
        const char *key;
        const ModelString &value;
    } strings[] = {
        {"manufacturer", iface.manufacturer}, {"product", iface.product}, {"serial", iface.serial}};
    for (const auto &s : strings) {
        if (s.value.present) {
            fields.push_back(std::string(s.key) + "=" + HostValue(s.value.units, utf8));
        }
    }
    const struct {
        const char *key;
        bool fails;
    } flags[] = {{"open", iface.openFails},
                 {"detail", iface.detailFails},
                 {"attributes", iface.attributesFails},
                 {"feature", iface.featureFails}};
    for (const auto &flag : flags) {
        if (flag.fails) {
            fields.push_back(std::string(flag.key) + "=fail");
        }
    }
    if (iface.state != 0 || in.ConsumeBool()) {
        fields.push_back("state=" + std::to_string(iface.state));
    }
    // Any field order is allowed; rotating them moves serial= and state= around.
    const std::size_t rotation = in.ConsumeIntegralInRange<std::size_t>(0, fields.size() - 1);
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        line += (i == 0 ? "" : in.ConsumeBool() ? "\t" : " ") + fields[(i + rotation) % fields.size()];
    }
    return line;
}

std::string HostText(FuzzedDataProvider &in, const std::vector<ModelInterface> &host) {
    std::string text;
    for (const ModelInterface &iface : host) {
        if (in.ConsumeIntegralInRange(0, 7) == 0) {
            text += in.ConsumeBool() ? "# a comment with key=value\n" : " \t\n";
        }
        text += InterfaceLine(in, iface) + (in.ConsumeBool() ? "\r\n" : "\n");
    }
    return text;
}

// ---- Generating the command line ----

// An argument as the runtime hands it over: a C string, so it ends at the first zero byte.
std::string CString(const std::string &bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

std::string Narrow(const ModelString &s) {
    std::string text;
    for (std::size_t i = 0; i < s.units.size() && i < FULL_BUFFER_UNITS && s.units[i] != 0; ++i) {
        text += s.units[i] < 256 ? static_cast<char>(s.units[i]) : '?';
    }
    return text;
}

std::vector<std::string> GenerateArguments(FuzzedDataProvider &in, const std::vector<ModelInterface> &host) {
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    std::vector<std::string> args;
    if (count >= 1) {
        args.push_back(in.ConsumeBool() ? "rxb540"
                                        : CString(in.ConsumeRandomLengthString(MAX_ARGUMENT_BYTES)));
    }
    if (count >= 2) {
        const char *const words[] = {"list", "set", "init"};
        const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, std::size(words));
        args.push_back(pick < std::size(words) ? words[pick]
                                               : CString(in.ConsumeRandomLengthString(MAX_ARGUMENT_BYTES)));
    }
    if (count >= 3) {
        switch (in.ConsumeIntegralInRange(0, 2)) {
            case 0:
                args.push_back("ANY");
                break;
            case 1:
                if (!host.empty()) {
                    const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, host.size() - 1);
                    args.push_back(Narrow(host[pick].serial));
                    break;
                }
                [[fallthrough]];
            default:
                args.push_back(CString(in.ConsumeRandomLengthString(MAX_ARGUMENT_BYTES)));
                break;
        }
    }
    if (count >= 4) {
        args.push_back(in.ConsumeBool() ? std::to_string(in.ConsumeIntegral<std::int64_t>())
                                        : CString(in.ConsumeRandomLengthString(MAX_ARGUMENT_BYTES)));
    }
    return args;
}

// ---- What the run must have done ----

// The interface that discovery must select for a selector, or -1.
int ExpectedSelection(const std::vector<ModelInterface> &host, const std::string &selector) {
    for (std::size_t i = 0; i < host.size(); ++i) {
        const ModelInterface &iface = host[i];
        if (iface.openFails || iface.detailFails || iface.attributesFails ||
            iface.vendorId != RELAY_VENDOR_ID || iface.productId != RELAY_PRODUCT_ID) {
            continue;
        }
        if (!iface.manufacturer.present || Narrow(iface.manufacturer) != RELAY_MANUFACTURER ||
            !iface.product.present || Narrow(iface.product) != RELAY_PRODUCT || !iface.serial.present) {
            continue;
        }
        if (selector == "ANY" || selector == Narrow(iface.serial)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The state byte for an argument: the C library's reading of a decimal
// number, held to the 32-bit range, cut to its low 8 bits.
std::uint8_t ExpectedStateByte(const std::string &argument) {
    long long value = std::strtoll(argument.c_str(), nullptr, 10);
    if (value > INT_MAX) {
        value = INT_MAX;
    } else if (value < INT_MIN) {
        value = INT_MIN;
    }
    return static_cast<std::uint8_t>(static_cast<unsigned long long>(value) & 0xFFu);
}

std::string SerialTextOfTime(std::time_t seconds) {
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds & 0xFFFFFFFF));
    return std::to_string(low);
}

struct Expectation {
    int status;
    int written;  // the interface that gets the report, or -1
};

Expectation Expect(const std::vector<ModelInterface> &host, bool deviceListFails,
                   const std::vector<std::string> &args) {
    const Expectation usage = {1, -1};
    if (args.size() < 2) {
        return usage;
    }
    if (args[1] == "list") {
        return {deviceListFails ? 1 : 0, -1};
    }
    if (args[1] != "set" && args[1] != "init") {
        return usage;
    }
    if (args[1] == "set" && args.size() < 4) {
        return usage;
    }
    const int selected = deviceListFails ? -1 : ExpectedSelection(host, args[1] == "set" ? args[2] : "ANY");
    if (selected < 0) {
        return {1, -1};
    }
    return {host[static_cast<std::size_t>(selected)].featureFails ? 1 : 0, selected};
}

void CheckReport(const std::string &report, const std::vector<std::string> &args, std::time_t before,
                 std::time_t after) {
    Require(report.size() == REPORT_BYTES, "a report is 17 bytes");
    Require(report[0] == 0, "report ID 0");
    std::string expected(REPORT_BYTES, '\0');
    if (args[1] == "set") {
        Require(static_cast<std::uint8_t>(report[1]) == 0x31, "set sends command byte 0x31");
        expected[1] = '\x31';
        expected[2] = static_cast<char>(ExpectedStateByte(args[3]));
        Require(report == expected, "set sends the state byte of its argument and zeros");
        return;
    }
    Require(static_cast<std::uint8_t>(report[1]) == 0x82, "init sends command byte 0x82");
    const std::string text = report.substr(2, report.find('\0', 2) - 2);
    Require(text == SerialTextOfTime(before) || text == SerialTextOfTime(after),
            "init sends the current time as its serial number, got " + text);
    expected[1] = '\x82';
    expected.replace(2, text.size(), text);
    Require(report == expected, "init's serial number is followed by zeros only");
}

void CheckRun(const std::vector<ModelInterface> &host, bool deviceListFails,
              const std::vector<std::string> &args, int status, std::time_t before, std::time_t after) {
    Require(SimHostOpenHandleCount() == 0, "every handle is closed when the run ends");
    Require(SimHostOpenListCount() == 0, "every device list is released when the run ends");
    const Expectation expected = Expect(host, deviceListFails, args);
    const std::vector<SimFeatureCall> &calls = SimHostFeatureCalls();
    Require(calls.size() <= 1, "at most one feature report per run");
    Require(status == expected.status,
            "exit status " + std::to_string(status) + ", expected " + std::to_string(expected.status));
    if (expected.written < 0) {
        Require(calls.empty(), "no report without a selected board and a writing command");
        return;
    }
    Require(calls.size() == 1, "a writing command with a selected board sends one report");
    const SimFeatureCall &call = calls[0];
    Require(call.interfaceIndex == expected.written, "the report goes to the selected board");
    Require(call.openHandles == 1, "while a command holds the board, its handle is the only one open");
    CheckReport(call.report, args, before, after);
    const ModelInterface &board = host[static_cast<std::size_t>(expected.written)];
    if (args[1] == "set" && !board.featureFails) {
        Require(SimHostBoardState(expected.written) == static_cast<std::uint8_t>(call.report[2]),
                "the board keeps the state it took");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<ModelInterface> host(in.ConsumeIntegralInRange<std::size_t>(0, MAX_INTERFACES));
    for (ModelInterface &iface : host) {
        iface = GenerateInterface(in);
    }
    std::string error;
    const std::string text = HostText(in, host);
    Require(SimHostLoadText(text, &error), "the generated host loads: " + error + "\n" + text);

    // A host in trouble can fail to make the device list at all.
    const bool deviceListFails = in.ConsumeIntegralInRange(0, 15) == 0;
    if (deviceListFails) {
        SimHostFailNextDeviceList();
    }
    std::vector<std::string> args = GenerateArguments(in, host);
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    // RunCommandLine takes char *; data() of a string that is not const gives one.
    // cppcheck-suppress constVariableReference
    for (std::string &arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const std::time_t before = std::time(nullptr);
    const int status = RunCommandLine(static_cast<int>(args.size()), argv.data());
    const std::time_t after = std::time(nullptr);
    CheckRun(host, deviceListFails, args, status, before, after);
    return 0;
}
