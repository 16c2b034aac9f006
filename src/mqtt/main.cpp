// rxb540-mqtt: the RXB540 boards of this host on an MQTT broker. One thread
// owns everything: the broker's socket, the rescan timer, the signals and
// all board I/O, multiplexed with poll.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "mqtt/bridge.h"
#include "mqtt/log.h"
#include "mqtt/service_notify.h"
#include "rxb540.h"

namespace {

constexpr const char *USAGE =
    "Usage: rxb540-mqtt [--config FILE] [--verbose]\n"
    "       rxb540-mqtt --version | --help\n"
    "Bridges the RXB540 relay boards of this host to an MQTT broker.\n"
    "  --config FILE  the configuration file (default /etc/rxb540/mqtt.conf)\n"
    "  --verbose      log every MQTT message as well\n"
    "See rxb540-mqtt(1).\n";

// The write end of the pipe that turns SIGTERM and SIGINT into an event of
// the poll loop.
int signalPipeWrite = -1;

void OnStopSignal(int) {
    int saved = errno;
    char byte = 1;
    ssize_t written = write(signalPipeWrite, &byte, 1);
    (void)written;
    errno = saved;
}

bool MakeSignalPipe(int *readEnd) {
    int ends[2];
    if (pipe(ends) != 0) {
        return false;
    }
    for (int end : ends) {
        fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
        fcntl(end, F_SETFD, FD_CLOEXEC);
    }
    signalPipeWrite = ends[1];
    *readEnd = ends[0];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return "";
    }
    return name;
}

// The service's status line: the broker and the number of bridged boards.
std::string ServiceStatus(const Bridge &bridge) {
    const std::size_t boards = bridge.registry.bridged.size();
    return std::to_string(boards) + (boards == 1 ? " board" : " boards") + " bridged to " +
           bridge.link.broker + (bridge.link.connected ? "" : " (not connected)");
}

// The status with which the program ends when another bridge took its
// session over: the service is not restarted on it (RestartPreventExitStatus).
constexpr int STATUS_HOST_ID_IN_USE = 3;

// Runs until SIGTERM or SIGINT (status 0), or until another bridge takes
// the session over. The service manager hears from this loop itself, so a
// loop that hangs stops the watchdog's keep-alive.
int RunLoop(Bridge *bridge, int signalRead) {
    ServiceNotifier notifier;
    ServiceNotifierStart(&notifier);
    for (;;) {
        double now = MonotonicSeconds();
        if (now >= bridge->nextScan) {
            BridgeScan(bridge);
            bridge->nextScan = now + bridge->config.rescanSeconds;
        }
        if (now >= bridge->nextHealth) {
            PublishHealth(bridge);
        }
        RunReturns(bridge, now);
        ServiceNotify(&notifier, ServiceStatus(*bridge), now);
        if (!bridge->link.socketOpen) {
            LinkService(&bridge->link, 0, now);
        }
        pollfd fds[2] = {};
        fds[0].fd = signalRead;
        fds[0].events = POLLIN;
        fds[1].fd = LinkPollSocket(&bridge->link, &fds[1].events);
        double wake = std::min({bridge->nextScan, bridge->nextHealth, LinkWakeTime(&bridge->link, now),
                                ServiceWakeTime(&notifier), NextReturn(bridge)});
        int timeout = static_cast<int>(std::clamp((wake - now) * 1000.0, 0.0, 1000.0)) + 1;
        int ready = poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno != EINTR) {
            LogEvent("poll failed: %s", std::strerror(errno));
            return 0;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            return 0;
        }
        if (bridge->link.socketOpen) {
            const short revents = ready > 0 && fds[1].fd >= 0 ? fds[1].revents : short{0};
            LinkService(&bridge->link, revents, MonotonicSeconds());
        }
        if (bridge->link.takenOver) {
            return STATUS_HOST_ID_IN_USE;
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::string configPath = DEFAULT_CONFIG_FILE;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("rxb540-mqtt %s (librxb540 %s)\n", RXB540_MQTT_VERSION, rxb540_version());
            return 0;
        }
        if (argument == "--verbose") {
            verbose = true;
        } else if (argument == "--config" && i + 1 < argc) {
            configPath = argv[++i];
        } else {
            std::fprintf(stderr, "rxb540-mqtt: unknown argument: %s\n%s", argument.c_str(), USAGE);
            return 2;
        }
    }
    SetVerboseLog(verbose);

    BridgeConfig config;
    std::string error;
    if (!LoadConfig(configPath, HostName(), &config, &error)) {
        LogEvent("%s", error.c_str());
        return 1;
    }
    int signalRead = -1;
    if (!MakeSignalPipe(&signalRead)) {
        LogEvent("cannot make the signal pipe: %s", std::strerror(errno));
        return 1;
    }
    Bridge bridge;
    int status = 0;
    if (BridgeStart(&bridge, config, &error)) {
        LogEvent("bridging the boards of host %s to %s as %s", config.hostId.c_str(),
                 bridge.link.broker.c_str(), bridge.names.base.c_str());
        status = RunLoop(&bridge, signalRead);
        ServiceNotifyStopping();
        LogEvent("stopping");
    } else {
        LogEvent("%s", error.c_str());
        status = 1;
    }
    BridgeStop(&bridge);  // also releases what a failed start had made
    close(signalRead);
    close(signalPipeWrite);
    return status;
}
