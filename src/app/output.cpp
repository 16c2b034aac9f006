#include "app/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

#include "rxb540.h"

namespace {

#ifdef _WIN32
// The system's message for an error of the Windows API, without its closing
// period and line end.
const char *WindowsErrorText(DWORD error) {
    static char text[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        error, 0, text, sizeof text, nullptr);
    std::size_t end = length < sizeof text ? length : 0;
    while (end > 0 && std::strchr(" .\r\n", text[end - 1]) != nullptr) {
        --end;
    }
    text[end] = '\0';
    if (end == 0) {
        std::snprintf(text, sizeof text, "system error %lu", static_cast<unsigned long>(error));
    }
    return text;
}
#endif

}  // namespace

void PrintListedSerial(const char *serial) {
    for (const char *p = serial; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        std::putchar(control ? '?' : c);
    }
    std::putchar('\n');
}

const char *ResultReason(int code) {
    if (code != RXB540_ERROR_PLATFORM) {
        return rxb540_strerror(code);
    }
#ifdef _WIN32
    return WindowsErrorText(GetLastError());
#else
    const int error = errno;
    return error != 0 ? std::strerror(error) : "cause unknown";
#endif
}
