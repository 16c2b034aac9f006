#include "board/device_result.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace {

char g_listFailureCause[256];

}  // namespace

const char *DeviceResultText(DeviceResult code) {
    switch (code) {
        case DEVICE_ACCESS_DENIED:
            return "Access to device denied";
        case DEVICE_COMM_ERROR:
            return "Communication error with device";
        case DEVICE_NOT_FOUND:
            return "The specified device was not found";
        case DEVICE_LIST_FAILED:
            return "The host's HID devices could not be listed";
        default:
            break;
    }
    static char unknown[40];
    std::snprintf(unknown, sizeof unknown, "Unknown USB error %d", code);
    return unknown;
}

#ifdef _WIN32

// The system's message without its closing period and line end.
void RememberListFailureCause() {
    const DWORD code = GetLastError();
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       g_listFailureCause, static_cast<DWORD>(sizeof g_listFailureCause), nullptr);
    std::size_t end = length < sizeof g_listFailureCause ? length : 0;
    while (end > 0 && std::strchr(" .\r\n", g_listFailureCause[end - 1]) != nullptr) {
        --end;
    }
    g_listFailureCause[end] = '\0';
    if (end == 0) {
        std::snprintf(g_listFailureCause, sizeof g_listFailureCause, "system error %lu",
                      static_cast<unsigned long>(code));
    }
}

#else

// strerror's text may be overwritten by a later call, so it is copied.
void RememberListFailureCause() {
    const int code = errno;
    std::snprintf(g_listFailureCause, sizeof g_listFailureCause, "%s",
                  code != 0 ? std::strerror(code) : "cause unknown");
}

#endif

const char *ListFailureCause() {
    return g_listFailureCause;
}
