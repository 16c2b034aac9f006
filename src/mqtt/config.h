// The bridge's configuration file: one "key value" per line, '#' comments.
#ifndef RXB540_MQTT_CONFIG_H
#define RXB540_MQTT_CONFIG_H

#include <string>
#include <vector>

#include "mqtt/board_settings.h"

constexpr const char *DEFAULT_CONFIG_FILE = "/etc/rxb540/mqtt.conf";
constexpr int MQTT_PORT = 1883;
constexpr int MQTT_TLS_PORT = 8883;

struct BridgeConfig {
    std::string brokerHost = "localhost";
    int brokerPort = 0;  // 0 until loaded: then 1883, or 8883 with TLS
    std::string hostId;  // the reduced host name unless configured
    std::string baseTopic = "rxb540";
    std::string username;
    std::string password;  // the first line of password-file
    bool hasPassword = false;
    bool allowPlaintextPassword = false;  // a password may go to a remote broker without TLS
    std::string cafile;                   // TLS when set
    std::string certfile;
    std::string keyfile;
    std::string discoveryPrefix = "homeassistant";  // empty: no discovery
    int relays = 8;
    int rescanSeconds = 2;
    int healthSeconds = 60;              // between two messages on B/health
    int initialState = INITIAL_RESTORE;  // or INITIAL_UNKNOWN, or 0-255 written to each new board
    long pulseMs = 1000;                 // how long PULSE switches a relay over
    std::vector<BoardOverrides> boards;  // the "board" lines, by serial
};

// Reads the file into config (which holds the defaults). On failure returns
// false with one line in error: "FILE:LINE: reason", or "FILE: reason" for
// the file as a whole. hostName is the host's name, used for host-id when the
// file sets none.
bool LoadConfig(const std::string &path, const std::string &hostName, BridgeConfig *config,
                std::string *error);

// The text after "key" on a configuration line is checked and stored by the
// row of that key; the rows are in config_keys.cpp.
struct ConfigKey {
    const char *name;
    // Returns an empty text when the value is good, else the reason.
    std::string (*store)(const std::string &value, BridgeConfig *config);
};
extern const ConfigKey CONFIG_KEYS[];
extern const int CONFIG_KEY_COUNT;

// Whether a broker host name or address stays on this machine: localhost,
// 127.0.0.0/8 or ::1. Only such a broker may get a password without TLS
// unless the configuration allows it.
bool IsLoopbackBroker(const std::string &host);

// A topic prefix as configured: levels separated by '/', none empty, no
// wildcard, no control character. Returns the reason, or an empty text.
std::string CheckTopicPrefix(const std::string &prefix);

#endif  // RXB540_MQTT_CONFIG_H
