// How rxb540-sim starts: before main, it loads the host file named by
// RXB540_SIM_HOST and opens the log named by RXB540_SIM_LOG, so that a missing
// or broken host file ends it with status 2 before any command is looked at.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim_host.h"

namespace {

void LogProcessEndAtExit() {
    SimHostLogProcessEnd();
}

// Returns 0, or the exit status 2 after writing one line to standard error.
int StartFromEnvironment() {
    const char *hostPath = std::getenv("RXB540_SIM_HOST");
    if (hostPath == nullptr) {
        std::fprintf(stderr, "rxb540-sim: RXB540_SIM_HOST is not set; it must name a host file\n");
        return 2;
    }
    std::string error;
    if (!SimHostLoadFile(hostPath, &error)) {
        std::fprintf(stderr, "rxb540-sim: %s\n", error.c_str());
        return 2;
    }
    const char *logPath = std::getenv("RXB540_SIM_LOG");
    if (logPath != nullptr && logPath[0] != '\0') {
        std::FILE *log = std::fopen(logPath, "a");
        if (log == nullptr) {
            std::fprintf(stderr, "rxb540-sim: cannot open log file %s: %s\n", logPath, std::strerror(errno));
            return 2;
        }
        std::fclose(log);
        SimHostSetLog(logPath);
        std::atexit(LogProcessEndAtExit);
    }
    return 0;
}

bool StartOrExit() {
    // The process ends only after StartFromEnvironment has returned, so that
    // no string of it is left behind unreleased.
    const int status = StartFromEnvironment();
    if (status != 0) {
        std::exit(status);
    }
    return true;
}

const bool simulatedHostReady = StartOrExit();

}  // namespace
