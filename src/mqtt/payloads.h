// The texts that cross the broker: command payloads in, JSON out, and the
// names that may stand in a topic level.
#ifndef RXB540_MQTT_PAYLOADS_H
#define RXB540_MQTT_PAYLOADS_H

#include <cstddef>
#include <string>
#include <vector>

// The longest serial number that is bridged; longer ones are refused like
// serials with characters that do not belong in a topic.
constexpr std::size_t MAX_BRIDGED_SERIAL = 64;
// The longest host-id, from the configuration or the host name.
constexpr std::size_t MAX_HOST_ID = 64;

enum RelayCommand { RELAY_ON, RELAY_OFF, RELAY_TOGGLE, RELAY_PULSE };

// The longest pulse that "PULSE <ms>" asks for.
constexpr long MAX_PULSE_MILLISECONDS = 3600000;

// 1 to 7 decimal digits and nothing else, within [low, high]: the numbers of
// the configuration file and of command payloads.
bool ParseDecimalInRange(const std::string &text, long low, long high, long *value);

// Why a number was refused: "must be a whole number from low to high".
std::string NumberReason(long low, long high);

// A whole state: 1 to 3 decimal digits, 0 to 255, nothing else (no sign, no
// white space, no line end).
bool ParseStatePayload(const std::string &payload, unsigned char *state);

// "ON", "OFF", "TOGGLE", "PULSE" or "PULSE <ms>" (1 to 3600000), exactly.
// pulseMs is the milliseconds asked for, 0 for those configured.
bool ParseRelayCommand(const std::string &payload, RelayCommand *command, long *pulseMs);

// A serial that can be a topic level and a Home Assistant id: 1 to
// MAX_BRIDGED_SERIAL characters of A-Z a-z 0-9 . _ -.
bool IsBridgeableSerial(const std::string &serial);

// A host-id as configured: 1 to MAX_HOST_ID characters of A-Z a-z 0-9 _ -.
bool IsValidHostId(const std::string &hostId);

// The host name with every character outside A-Z a-z 0-9 _ - left out, cut
// to MAX_HOST_ID characters (possibly empty).
std::string ReduceHostName(const std::string &hostName);

// Text as a JSON string with its quotes. The bytes are taken as Latin-1 (a
// board's serial and a payload are bytes, not necessarily UTF-8), so any
// input gives valid JSON: control characters and bytes from 0x7F on are
// written as \u00XX.
std::string JsonString(const std::string &text);

// Text that is valid UTF-8 without control characters (a configured name)
// as a JSON string: only quotes and backslashes are escaped.
std::string JsonText(const std::string &text);

// A JSON array of strings.
std::string JsonStringArray(const std::vector<std::string> &texts);

// A payload for a log line or an error report: at most limit bytes, with
// "..." where it was cut.
std::string ShortenedPayload(const std::string &payload, std::size_t limit);

#endif  // RXB540_MQTT_PAYLOADS_H
