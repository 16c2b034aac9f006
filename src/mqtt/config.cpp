#include "mqtt/config.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>

#include "mqtt/payloads.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

const ConfigKey *FindKey(const std::string &name) {
    for (int i = 0; i < CONFIG_KEY_COUNT; ++i) {
        if (name == CONFIG_KEYS[i].name) {
            return &CONFIG_KEYS[i];
        }
    }
    return nullptr;
}

// Checks that need the whole file: which keys go together. lines holds the
// line number of each key that was set.
std::string CheckCombination(const BridgeConfig &config, const std::map<std::string, int> &lines, int *line) {
    auto lineOf = [&lines](const char *key) {
        auto found = lines.find(key);
        return found == lines.end() ? 0 : found->second;
    };
    if (config.hasPassword && config.username.empty()) {
        *line = lineOf("password-file");
        return "password-file needs username";
    }
    if (config.hasPassword && config.cafile.empty() && !config.allowPlaintextPassword &&
        !IsLoopbackBroker(config.brokerHost)) {
        *line = lineOf("password-file");
        return "password-file without cafile would send the password unencrypted to " +
               JsonString(config.brokerHost) +
               ": set cafile to use TLS, or allow-plaintext-password yes if the network is trusted";
    }
    if (!config.certfile.empty() != !config.keyfile.empty()) {
        *line = lineOf(config.certfile.empty() ? "keyfile" : "certfile");
        return "certfile and keyfile go together";
    }
    if (!config.certfile.empty() && config.cafile.empty()) {
        *line = lineOf("certfile");
        return "certfile needs cafile (TLS)";
    }
    return "";
}

}  // namespace

bool IsLoopbackBroker(const std::string &host) {
    if (host.find('\0') != std::string::npos) {
        return false;
    }
    std::string lower;
    for (char c : host) {
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (lower == "localhost" || lower == "localhost.") {
        return true;
    }
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    in6_addr v6{};
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::string CheckTopicPrefix(const std::string &prefix) {
    if (prefix.empty() || prefix.size() > 200) {
        return "a topic prefix must have 1 to 200 characters";
    }
    if (prefix.front() == '/' || prefix.back() == '/' || prefix.find("//") != std::string::npos) {
        return "a topic prefix has no empty level (no leading, trailing or double '/'): " +
               JsonString(prefix);
    }
    for (char c : prefix) {
        if (c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return "a topic prefix has no wildcard (+ #) and no control character: " + JsonString(prefix);
        }
    }
    return "";
}

bool LoadConfig(const std::string &path, const std::string &hostName, BridgeConfig *config,
                std::string *error) {
    std::ifstream file(path);
    if (!file) {
        const int reason = errno;
        *error = path + ": cannot read: " + std::strerror(reason);
        if (reason == ENOENT) {
            *error +=
                " (the example: packaging/mqtt/mqtt.conf in the source, which the rxb540-mqtt package "
                "installs as /etc/rxb540/mqtt.conf; --config FILE names another)";
        }
        return false;
    }
    std::map<std::string, int> lines;
    std::string text;
    int number = 0;
    auto fail = [&](int line, const std::string &reason) {
        *error = path + ":" + std::to_string(line) + ": " + reason;
        return false;
    };
    while (std::getline(file, text)) {
        ++number;
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        std::size_t start = 0;
        while (start < text.size() && IsBlank(text[start])) {
            ++start;
        }
        if (start == text.size() || text[start] == '#') {
            continue;
        }
        std::size_t keyEnd = start;
        while (keyEnd < text.size() && !IsBlank(text[keyEnd])) {
            ++keyEnd;
        }
        std::string key = text.substr(start, keyEnd - start);
        std::size_t valueStart = keyEnd;
        while (valueStart < text.size() && IsBlank(text[valueStart])) {
            ++valueStart;
        }
        std::size_t valueEnd = text.size();
        while (valueEnd > valueStart && IsBlank(text[valueEnd - 1])) {
            --valueEnd;
        }
        std::string value = text.substr(valueStart, valueEnd - valueStart);
        if (key == "board" && !value.empty()) {
            // One line per board and key; repeated per board, several interlocks.
            std::string reason = StoreBoardLine(value, number, config);
            if (!reason.empty()) {
                return fail(number, reason);
            }
            continue;
        }
        const ConfigKey *row = FindKey(key);
        if (row == nullptr) {
            return fail(number, "unknown key: " + JsonString(key));
        }
        if (lines.count(key) != 0) {
            return fail(number,
                        "repeated key: " + key + " (first on line " + std::to_string(lines[key]) + ")");
        }
        if (value.empty()) {
            return fail(number, key + " needs a value");
        }
        lines[key] = number;
        std::string reason = row->store(value, config);
        if (!reason.empty()) {
            reason.insert(0, key + ": ");
            return fail(number, reason);
        }
    }
    if (file.bad()) {
        *error = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    int line = 0;
    std::string reason = CheckCombination(*config, lines, &line);
    if (reason.empty()) {
        reason = CheckBoardSettings(*config, lines, &line);
    }
    if (!reason.empty()) {
        return fail(line, reason);
    }
    if (config->hostId.empty()) {
        config->hostId = ReduceHostName(hostName);
        if (config->hostId.empty()) {
            *error = path + ": the host name " + JsonString(hostName) +
                     " has no character of A-Z a-z 0-9 _ -: set host-id";
            return false;
        }
    }
    if (config->brokerPort == 0) {
        config->brokerPort = config->cafile.empty() ? MQTT_PORT : MQTT_TLS_PORT;
    }
    return true;
}
