#include "mqtt/payloads.h"

#include <cstdio>

namespace {

bool IsAsciiAlnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool IsHostIdCharacter(char c) {
    return IsAsciiAlnum(c) || c == '_' || c == '-';
}

}  // namespace

bool ParseDecimalInRange(const std::string &text, long low, long high, long *value) {
    // Seven digits hold every number asked for (3,600,000 ms the largest) and
    // keep the sum far from overflow.
    if (text.empty() || text.size() > 7) {
        return false;
    }
    long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + (c - '0');
    }
    if (number < low || number > high) {
        return false;
    }
    *value = number;
    return true;
}

std::string NumberReason(long low, long high) {
    return "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high);
}

bool ParseStatePayload(const std::string &payload, unsigned char *state) {
    long value = 0;
    if (payload.size() > 3 || !ParseDecimalInRange(payload, 0, 255, &value)) {
        return false;
    }
    *state = static_cast<unsigned char>(value);
    return true;
}

bool ParseRelayCommand(const std::string &payload, RelayCommand *command, long *pulseMs) {
    const std::string pulse = "PULSE";
    *pulseMs = 0;
    if (payload.compare(0, pulse.size(), pulse) == 0) {
        *command = RELAY_PULSE;
        return payload.size() == pulse.size() ||
               (payload[pulse.size()] == ' ' &&
                ParseDecimalInRange(payload.substr(pulse.size() + 1), 1, MAX_PULSE_MILLISECONDS, pulseMs));
    }
    if (payload == "ON") {
        *command = RELAY_ON;
    } else if (payload == "OFF") {
        *command = RELAY_OFF;
    } else if (payload == "TOGGLE") {
        *command = RELAY_TOGGLE;
    } else {
        return false;
    }
    return true;
}

bool IsBridgeableSerial(const std::string &serial) {
    if (serial.empty() || serial.size() > MAX_BRIDGED_SERIAL) {
        return false;
    }
    for (char c : serial) {
        if (!IsAsciiAlnum(c) && c != '.' && c != '_' && c != '-') {
            return false;
        }
    }
    return true;
}

bool IsValidHostId(const std::string &hostId) {
    if (hostId.empty() || hostId.size() > MAX_HOST_ID) {
        return false;
    }
    for (char c : hostId) {
        if (!IsHostIdCharacter(c)) {
            return false;
        }
    }
    return true;
}

std::string ReduceHostName(const std::string &hostName) {
    std::string reduced;
    for (char c : hostName) {
        if (IsHostIdCharacter(c) && reduced.size() < MAX_HOST_ID) {
            reduced += c;
        }
    }
    return reduced;
}

std::string JsonString(const std::string &text) {
    std::string json = "\"";
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            json += escape;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string JsonText(const std::string &text) {
    std::string json = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
        }
        json += c;
    }
    return json + "\"";
}

std::string JsonStringArray(const std::vector<std::string> &texts) {
    std::string json = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        json += (i == 0 ? "" : ", ") + JsonString(texts[i]);
    }
    return json + "]";
}

std::string ShortenedPayload(const std::string &payload, std::size_t limit) {
    if (payload.size() <= limit) {
        return payload;
    }
    return payload.substr(0, limit) + "...";
}
