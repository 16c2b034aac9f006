#include "mqtt/log.h"

#include <cstdarg>
#include <cstdio>

namespace {

bool verboseLog = false;

void WriteLine(const char *format, va_list arguments) {
    char line[1024];
    std::vsnprintf(line, sizeof line, format, arguments);
    // One write per line, so that lines never mix with another writer's.
    std::fprintf(stderr, "rxb540-mqtt: %s\n", line);
}

}  // namespace

void SetVerboseLog(bool verbose) {
    verboseLog = verbose;
}

bool VerboseLog() {
    return verboseLog;
}

void LogEvent(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteLine(format, arguments);
    va_end(arguments);
}

void LogDetail(const char *format, ...) {
    if (!verboseLog) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    WriteLine(format, arguments);
    va_end(arguments);
}
