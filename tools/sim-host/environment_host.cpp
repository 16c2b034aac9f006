#include "environment_host.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "sim_host.h"

namespace {

void LogProcessEndAtExit() {
    SimHostLogProcessEnd();
}

// Logs to the file the environment names, when it can be opened for appending.
bool FollowLog() {
    const char *logPath = std::getenv("RXB540_SIM_LOG");
    if (logPath == nullptr || logPath[0] == '\0') {
        SimHostSetLog(nullptr);
        return true;
    }
    std::FILE *log = std::fopen(logPath, "a");
    if (log == nullptr) {
        SimHostSetLog(nullptr);
        return false;
    }
    std::fclose(log);
    SimHostSetLog(logPath);
    // The process end goes to the log named last.
    static const bool endLogged = std::atexit(LogProcessEndAtExit) == 0;
    static_cast<void>(endLogged);
    return true;
}

bool FollowHostFile() {
    const char *hostPath = std::getenv("RXB540_SIM_HOST");
    if (hostPath == nullptr || hostPath[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    std::string error;
    errno = 0;
    if (!SimHostReloadFile(hostPath, &error)) {
        // A file that was read but did not parse leaves errno as it was.
        if (errno == 0) {
            errno = EINVAL;
        }
        return false;
    }
    return true;
}

}  // namespace

bool SimHostFollowEnvironment() {
    // The host's own allocations could throw; the platform's callers are C.
    try {
        return FollowLog() && FollowHostFile();
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
}
