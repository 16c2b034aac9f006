#include "mqtt/board_settings.h"

#include "mqtt/config.h"
#include "mqtt/payloads.h"

namespace {

const char *const BOARD_KEYS = "relays, initial-state, name, relay, interlock or pulse-ms";

struct Words {
    std::string first;
    std::string rest;  // without the blanks after the first word
};

Words SplitWord(const std::string &text) {
    const std::size_t end = text.find_first_of(" \t");
    const std::size_t next =
        end == std::string::npos ? std::string::npos : text.find_first_not_of(" \t", end);
    return Words{text.substr(0, end), next == std::string::npos ? "" : text.substr(next)};
}

BoardOverrides *OverridesOf(BridgeConfig *config, const std::string &serial) {
    for (BoardOverrides &board : config->boards) {
        if (board.serial == serial) {
            return &board;
        }
    }
    config->boards.push_back(BoardOverrides{});
    config->boards.back().serial = serial;
    return &config->boards.back();
}

std::string NameReason() {
    return "must be 1 to " + std::to_string(MAX_NAME) + " bytes of UTF-8 without control characters";
}

// The value of one board key; the line is recorded under what.
std::string StoreBoardKey(BoardOverrides *board, const std::string &key, const std::string &value,
                          std::string *what) {
    long number = 0;
    *what = key;
    if (key == "relays") {
        if (!ParseDecimalInRange(value, 1, MAX_RELAYS, &number)) {
            return NumberReason(1, MAX_RELAYS);
        }
        board->relays = static_cast<int>(number);
        return "";
    }
    if (key == "initial-state") {
        return ParseInitialState(value, &board->initialState) ? "" : "must be restore, unknown or 0 to 255";
    }
    if (key == "pulse-ms") {
        return ParseDecimalInRange(value, 1, MAX_PULSE_MILLISECONDS, &board->pulseMs)
                   ? ""
                   : NumberReason(1, MAX_PULSE_MILLISECONDS);
    }
    if (key == "name") {
        board->name = value;
        return IsValidName(value) ? "" : NameReason();
    }
    if (key == "relay") {
        const Words words = SplitWord(value);
        const std::string &relay = words.first;
        const std::string &text = words.rest;
        if (!ParseDecimalInRange(relay, 1, MAX_RELAYS, &number) || relay.size() != 1) {
            return "must be a relay 1 to 8 and its name";
        }
        *what = "relay " + relay;
        board->relayNames[static_cast<std::size_t>(number - 1)] = text;
        return IsValidName(text) ? "" : "the name of relay " + relay + " " + NameReason();
    }
    if (key == "interlock") {
        unsigned mask = 0;
        if (!ParseRelayGroup(value, &mask)) {
            return "must be 2 to 8 different relays 1 to 8 separated by commas, such as 1,2";
        }
        board->interlocks.push_back(mask);
        *what = "interlock " + std::to_string(board->interlocks.size());
        return "";
    }
    return "unknown key " + JsonString(key) + ": a board line sets " + BOARD_KEYS;
}

// The first line that names a relay beyond relays (a relay's name, an
// interlock group), or 0.
int LineBeyond(const BoardOverrides &board, int relays) {
    int first = 0;
    const auto note = [&board, &first](const std::string &what) {
        const auto entry = board.lines.find(what);
        if (entry != board.lines.end() && (first == 0 || entry->second < first)) {
            first = entry->second;
        }
    };
    for (int relay = relays + 1; relay <= MAX_RELAYS; ++relay) {
        if (!board.relayNames[static_cast<std::size_t>(relay - 1)].empty()) {
            note("relay " + std::to_string(relay));
        }
    }
    for (std::size_t group = 0; group < board.interlocks.size(); ++group) {
        if ((board.interlocks[group] >> relays) != 0) {
            note("interlock " + std::to_string(group + 1));
        }
    }
    return first;
}

}  // namespace

bool ParseInitialState(const std::string &text, int *state) {
    long number = 0;
    if (text == "unknown" || text == "restore") {
        *state = text == "unknown" ? INITIAL_UNKNOWN : INITIAL_RESTORE;
    } else if (text.size() <= 3 && ParseDecimalInRange(text, 0, 255, &number)) {
        *state = static_cast<int>(number);
    } else {
        return false;
    }
    return true;
}

bool ParseRelayGroup(const std::string &text, unsigned *mask) {
    unsigned bits = 0;
    int count = 0;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long relay = 0;
        if (item.size() != 1 || !ParseDecimalInRange(item, 1, MAX_RELAYS, &relay) ||
            (bits & (1u << (relay - 1))) != 0) {
            return false;
        }
        bits |= 1u << (relay - 1);
        ++count;
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (count < 2) {
        return false;
    }
    *mask = bits;
    return true;
}

bool IsValidName(const std::string &name) {
    if (name.empty() || name.size() > MAX_NAME) {
        return false;
    }
    std::size_t i = 0;
    while (i < name.size()) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const std::size_t follow = byte < 0x80                    ? 0
                                   : byte >= 0xC2 && byte <= 0xDF ? 1
                                   : byte >= 0xE0 && byte <= 0xEF ? 2
                                   : byte >= 0xF0 && byte <= 0xF4 ? 3
                                                                  : 4;
        if (follow == 4 || byte < 0x20 || byte == 0x7F || i + follow >= name.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= follow; ++k) {
            if ((static_cast<unsigned char>(name[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += follow + 1;
    }
    return true;
}

bool BreaksInterlock(const std::vector<unsigned> &groups, unsigned state) {
    for (unsigned group : groups) {
        unsigned on = state & group;
        if ((on & (on - 1)) != 0) {
            return true;
        }
    }
    return false;
}

unsigned InterlockPartners(const std::vector<unsigned> &groups, int relay) {
    const unsigned bit = 1u << (relay - 1);
    unsigned partners = 0;
    for (unsigned group : groups) {
        if ((group & bit) != 0) {
            partners |= group;
        }
    }
    return partners & ~bit;
}

std::string StoreBoardLine(const std::string &value, int line, BridgeConfig *config) {
    const Words parts = SplitWord(value);
    const std::string &serial = parts.first;
    if (!IsBridgeableSerial(serial)) {
        return "board: the serial " + JsonString(serial) + " is not 1 to " +
               std::to_string(MAX_BRIDGED_SERIAL) + " characters of A-Z a-z 0-9 . _ -";
    }
    const Words keyAndValue = SplitWord(parts.rest);
    const std::string &key = keyAndValue.first;
    const std::string &argument = keyAndValue.rest;
    const std::string prefix = "board " + serial + " " + key;
    if (argument.empty()) {
        return key.empty() ? "board " + serial + " needs a key: " + BOARD_KEYS : prefix + " needs a value";
    }
    BoardOverrides *board = OverridesOf(config, serial);
    std::string what;
    std::string reason = StoreBoardKey(board, key, argument, &what);
    if (!reason.empty()) {
        return prefix + ": " + reason;
    }
    if (!board->lines.emplace(what, line).second) {
        return "repeated key: board " + serial + " " + what + " (first on line " +
               std::to_string(board->lines[what]) + ")";
    }
    return "";
}

BoardSettings SettingsFor(const BridgeConfig &config, const std::string &serial) {
    BoardSettings settings;
    settings.relays = config.relays;
    settings.initialState = config.initialState;
    settings.pulseMs = config.pulseMs;
    settings.name = "RXB540 " + serial + " on " + config.hostId;
    for (std::size_t index = 0; index < settings.relayNames.size(); ++index) {
        settings.relayNames[index] = "Relay " + std::to_string(index + 1);
    }
    for (const BoardOverrides &board : config.boards) {
        if (board.serial != serial) {
            continue;
        }
        settings.relays = board.relays != 0 ? board.relays : settings.relays;
        settings.initialState =
            board.initialState != INITIAL_GLOBAL ? board.initialState : settings.initialState;
        settings.pulseMs = board.pulseMs != 0 ? board.pulseMs : settings.pulseMs;
        settings.name = board.name.empty() ? settings.name : board.name;
        for (std::size_t index = 0; index < settings.relayNames.size(); ++index) {
            if (!board.relayNames[index].empty()) {
                settings.relayNames[index] = board.relayNames[index];
            }
        }
        settings.interlocks = board.interlocks;
    }
    return settings;
}

std::string CheckBoardSettings(const BridgeConfig &config, const std::map<std::string, int> &lines,
                               int *line) {
    for (const BoardOverrides &board : config.boards) {
        const BoardSettings settings = SettingsFor(config, board.serial);
        *line = LineBeyond(board, settings.relays);
        if (*line != 0) {
            return "board " + board.serial + ": a relay beyond its " + std::to_string(settings.relays) +
                   (settings.relays == 1 ? " relay" : " relays");
        }
        if (settings.initialState >= 0 &&
            BreaksInterlock(settings.interlocks, static_cast<unsigned>(settings.initialState))) {
            auto own = board.lines.find("initial-state");
            auto global = lines.find("initial-state");
            *line = own != board.lines.end() ? own->second
                    : global != lines.end()  ? global->second
                                             : board.lines.at("interlock 1");
            return "board " + board.serial + ": initial-state " + std::to_string(settings.initialState) +
                   " puts relays of one interlock group on together";
        }
    }
    return "";
}
