// The configuration keys, each with the check and the store of its value.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

#include "mqtt/config.h"
#include "mqtt/payloads.h"

namespace {

bool ParseBoundedNumber(const std::string &text, long low, long high, int *value) {
    long number = 0;
    if (!ParseDecimalInRange(text, low, high, &number)) {
        return false;
    }
    *value = static_cast<int>(number);
    return true;
}

// A credential file may be read by its owner alone: any read right of the
// group or of others makes it refused, since whoever can read it can act as
// this host on the broker.
std::string CheckOwnerOnly(const std::string &path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        return "cannot read " + path + ": " + std::strerror(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return path + " is not a regular file";
    }
    if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        return path + " can be read by others than its owner (mode " + mode + "); make it 0600";
    }
    return "";
}

std::string CheckReadable(const std::string &path) {
    std::ifstream file(path);
    if (!file) {
        return "cannot read " + path + ": " + std::strerror(errno);
    }
    return "";
}

std::string StoreBrokerHost(const std::string &value, BridgeConfig *config) {
    config->brokerHost = value;
    return "";
}

std::string StoreBrokerPort(const std::string &value, BridgeConfig *config) {
    return ParseBoundedNumber(value, 1, 65535, &config->brokerPort) ? "" : NumberReason(1, 65535);
}

std::string StoreHostId(const std::string &value, BridgeConfig *config) {
    if (!IsValidHostId(value)) {
        return "must be 1 to " + std::to_string(MAX_HOST_ID) +
               " characters of A-Z a-z 0-9 _ -: " + JsonString(value);
    }
    config->hostId = value;
    return "";
}

std::string StoreBaseTopic(const std::string &value, BridgeConfig *config) {
    config->baseTopic = value;
    return CheckTopicPrefix(value);
}

std::string StoreUsername(const std::string &value, BridgeConfig *config) {
    config->username = value;
    return "";
}

// The password is the file's first line, without its line end.
std::string StorePasswordFile(const std::string &value, BridgeConfig *config) {
    std::string reason = CheckOwnerOnly(value);
    if (!reason.empty()) {
        return reason;
    }
    std::ifstream file(value);
    if (!file) {
        return "cannot read " + value + ": " + std::strerror(errno);
    }
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.empty()) {
        return value + " holds no password on its first line";
    }
    config->password = line;
    config->hasPassword = true;
    return "";
}

std::string StoreCafile(const std::string &value, BridgeConfig *config) {
    config->cafile = value;
    return CheckReadable(value);
}

std::string StoreCertfile(const std::string &value, BridgeConfig *config) {
    config->certfile = value;
    return CheckReadable(value);
}

std::string StoreKeyfile(const std::string &value, BridgeConfig *config) {
    config->keyfile = value;
    std::string reason = CheckOwnerOnly(value);
    return reason.empty() ? CheckReadable(value) : reason;
}

std::string StoreAllowPlaintextPassword(const std::string &value, BridgeConfig *config) {
    if (value != "yes" && value != "no") {
        return "must be yes or no";
    }
    config->allowPlaintextPassword = value == "yes";
    return "";
}

std::string StoreDiscoveryPrefix(const std::string &value, BridgeConfig *config) {
    if (value == "none") {
        config->discoveryPrefix.clear();
        return "";
    }
    config->discoveryPrefix = value;
    return CheckTopicPrefix(value);
}

std::string StoreRelays(const std::string &value, BridgeConfig *config) {
    return ParseBoundedNumber(value, 1, 8, &config->relays) ? "" : NumberReason(1, 8);
}

std::string StoreRescanInterval(const std::string &value, BridgeConfig *config) {
    return ParseBoundedNumber(value, 1, 3600, &config->rescanSeconds) ? "" : NumberReason(1, 3600);
}

std::string StoreHealthInterval(const std::string &value, BridgeConfig *config) {
    return ParseBoundedNumber(value, 1, 3600, &config->healthSeconds) ? "" : NumberReason(1, 3600);
}

std::string StoreInitialState(const std::string &value, BridgeConfig *config) {
    return ParseInitialState(value, &config->initialState)
               ? ""
               : "must be restore, unknown or a whole number from 0 to 255";
}

std::string StorePulseMs(const std::string &value, BridgeConfig *config) {
    return ParseDecimalInRange(value, 1, MAX_PULSE_MILLISECONDS, &config->pulseMs)
               ? ""
               : NumberReason(1, MAX_PULSE_MILLISECONDS);
}

}  // namespace

const ConfigKey CONFIG_KEYS[] = {
    {"broker-host", StoreBrokerHost},
    {"broker-port", StoreBrokerPort},
    {"host-id", StoreHostId},
    {"base-topic", StoreBaseTopic},
    {"username", StoreUsername},
    {"password-file", StorePasswordFile},
    {"allow-plaintext-password", StoreAllowPlaintextPassword},
    {"cafile", StoreCafile},
    {"certfile", StoreCertfile},
    {"keyfile", StoreKeyfile},
    {"discovery-prefix", StoreDiscoveryPrefix},
    {"relays", StoreRelays},
    {"rescan-interval", StoreRescanInterval},
    {"initial-state", StoreInitialState},
    {"health-interval", StoreHealthInterval},
    {"pulse-ms", StorePulseMs},
};
const int CONFIG_KEY_COUNT = static_cast<int>(sizeof CONFIG_KEYS / sizeof CONFIG_KEYS[0]);
