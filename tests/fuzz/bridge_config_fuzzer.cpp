// The bridge's configuration parser on arbitrary file contents. A file that
// is refused gives one line naming the file and, where a line is at fault, a
// line that the file has; a file that is taken gives a configuration whose
// every value is in its range and whose keys go together, a password never
// going in clear to a broker on another machine unless allowed.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mqtt/config.h"
#include "mqtt/payloads.h"
#include "require.h"

namespace {

// The contents go to an anonymous in-memory file, read by its /proc path.
std::string WriteContents(const std::uint8_t *data, std::size_t size) {
    static const int fd = memfd_create("mqtt.conf", 0);
    Require(fd >= 0 && ftruncate(fd, 0) == 0, "the in-memory file");
    std::size_t written = 0;
    while (written < size) {
        const ssize_t chunk = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
        Require(chunk > 0, "writing the in-memory file");
        written += static_cast<std::size_t>(chunk);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

void CheckRefusal(const std::string &path, const std::string &error, const std::string &contents) {
    Require(error.rfind(path + ":", 0) == 0 && error.find('\n') == std::string::npos,
            "a refusal is one line naming the file: " + error);
    const std::size_t at = path.size() + 1;
    if (at < error.size() && error[at] >= '0' && error[at] <= '9') {
        const long line = std::strtol(error.c_str() + at, nullptr, 10);
        long lines = 1;
        for (char c : contents) {
            lines += c == '\n' ? 1 : 0;
        }
        Require(line >= 1 && line <= lines, "the line at fault is one the file has: " + error);
    }
}

void CheckTaken(const BridgeConfig &config) {
    Require(!config.brokerHost.empty() && config.brokerPort >= 1 && config.brokerPort <= 65535, "the broker");
    Require(IsValidHostId(config.hostId), "the host-id can be a topic level");
    Require(CheckTopicPrefix(config.baseTopic).empty(), "the base topic");
    Require(config.discoveryPrefix.empty() || CheckTopicPrefix(config.discoveryPrefix).empty(),
            "the discovery prefix");
    Require(config.relays >= 1 && config.relays <= 8 && config.rescanSeconds >= 1 &&
                config.rescanSeconds <= 3600 && config.initialState >= INITIAL_RESTORE &&
                config.initialState <= 255 && config.pulseMs >= 1 && config.pulseMs <= MAX_PULSE_MILLISECONDS,
            "the numbers in their ranges");
    Require(!config.hasPassword || (!config.username.empty() && !config.password.empty()),
            "a password comes with a username");
    Require(!config.hasPassword || !config.cafile.empty() || config.allowPlaintextPassword ||
                IsLoopbackBroker(config.brokerHost),
            "no password in clear to another machine unless allowed");
    Require(config.certfile.empty() == config.keyfile.empty() &&
                (config.certfile.empty() || !config.cafile.empty()),
            "a client certificate comes with its key and TLS");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string path = WriteContents(data, size);
    BridgeConfig config;
    std::string error;
    if (LoadConfig(path, "fuzz-host", &config, &error)) {
        CheckTaken(config);
    } else {
        CheckRefusal(path, error, std::string(reinterpret_cast<const char *>(data), size));
    }
    return 0;
}
