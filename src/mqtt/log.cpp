#include "mqtt/log.h"

#include <cstdarg>
#include <cstdio>

namespace {

bool verboseLog = false;

// arguments was started by the caller (va_start), which the analyzer does not
// follow across the call.
__attribute__((format(printf, 1, 0))) void WriteLine(const char *format, va_list arguments) {
    char line[1024];
    std::vsnprintf(line, sizeof line, format, arguments);  // NOLINT(clang-analyzer-valist.Uninitialized)
    MakeLogLineSafe(line);
    // One write per line, so that lines never mix with another writer's.
    std::fprintf(stderr, "rxb540-mqtt: %s\n", line);
}

}  // namespace

void MakeLogLineSafe(char *line) {
    for (char *c = line; *c != '\0'; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == 0x7F) {
            *c = '?';
        }
    }
}

void SetVerboseLog(bool verbose) {
    verboseLog = verbose;
}

bool VerboseLog() {
    return verboseLog;
}

// printf-style on purpose: the format attribute in log.h has the compiler
// check every call's arguments against its format.
// NOLINTNEXTLINE(cert-dcl50-cpp)
void LogEvent(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteLine(format, arguments);
    va_end(arguments);
}

// NOLINTNEXTLINE(cert-dcl50-cpp)
void LogDetail(const char *format, ...) {
    if (!verboseLog) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    WriteLine(format, arguments);
    va_end(arguments);
}
