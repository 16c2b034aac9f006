// Settings of one board: the global keys, overridden by the lines
// "board <serial> <key> <value>" of the configuration file, and the
// interlock groups (relays that are never on together).
#ifndef RXB540_MQTT_BOARD_SETTINGS_H
#define RXB540_MQTT_BOARD_SETTINGS_H

#include <array>
#include <map>
#include <string>
#include <vector>

constexpr int MAX_RELAYS = 8;
constexpr int INITIAL_UNKNOWN = -1;  // nothing is written to a board first seen
constexpr int INITIAL_RESTORE = -2;  // the state last retained on the broker, else 0
constexpr int INITIAL_GLOBAL = -3;   // a board line: the global initial-state holds
constexpr std::size_t MAX_NAME = 64;

// What "board <serial> ..." lines set; 0, INITIAL_GLOBAL or empty where the global value holds.
struct BoardOverrides {
    std::string serial;
    int relays = 0;
    int initialState = INITIAL_GLOBAL;
    long pulseMs = 0;
    std::string name;
    std::array<std::string, MAX_RELAYS> relayNames;
    std::vector<unsigned> interlocks;  // one bit mask per group, relay n is bit n-1
    std::map<std::string, int> lines;  // "relays", "relay 3", "interlock 2", ... to its line
};

struct BridgeConfig;

// The settings that hold for the board with that serial.
struct BoardSettings {
    int relays = MAX_RELAYS;
    int initialState = INITIAL_RESTORE;
    long pulseMs = 1000;
    std::string name;                                // the device's name
    std::array<std::string, MAX_RELAYS> relayNames;  // relay n's name at n-1
    std::vector<unsigned> interlocks;
    const std::string &RelayName(int relay) const {
        return relayNames[static_cast<std::size_t>(relay - 1)];
    }
};
BoardSettings SettingsFor(const BridgeConfig &config, const std::string &serial);

// Stores the value of a "board" line ("<serial> <key> <value>") given on
// line number line. Returns an empty text, or the reason it is refused.
std::string StoreBoardLine(const std::string &value, int line, BridgeConfig *config);

// Checks that need every line: relays named by "relay" or "interlock" lines
// exist, and no initial state puts two relays of a group on. Returns the
// reason with the line at fault, or an empty text.
std::string CheckBoardSettings(const BridgeConfig &config, const std::map<std::string, int> &lines,
                               int *line);

// Whether state puts two relays of one group on.
bool BreaksInterlock(const std::vector<unsigned> &groups, unsigned state);

// The relays that share a group with relay (a bit mask, without relay).
unsigned InterlockPartners(const std::vector<unsigned> &groups, int relay);

// "1,2[,...]": 2 to 8 distinct relays 1 to 8. False when it is not such a list.
bool ParseRelayGroup(const std::string &text, unsigned *mask);

// "unknown", "restore" or 0 to 255, as INITIAL_UNKNOWN, INITIAL_RESTORE or the number.
bool ParseInitialState(const std::string &text, int *state);

// A name as configured: 1 to MAX_NAME bytes of UTF-8 without control characters.
bool IsValidName(const std::string &name);

#endif  // RXB540_MQTT_BOARD_SETTINGS_H
