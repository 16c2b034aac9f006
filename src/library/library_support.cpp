// The version, the texts of the result codes, and what the parts of the
// library share (library_internal.h).
#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "board/discovery.h"
#include "library/library_internal.h"
#include "rxb540.h"

#define RXB540_TEXT(x) #x
#define RXB540_VERSION_TEXT(major, minor, patch) \
    RXB540_TEXT(major) "." RXB540_TEXT(minor) "." RXB540_TEXT(patch)

namespace {

// Every code with its text, in one table: a new code gets its text here.
struct CodeText {
    int code;
    const char *text;
};

const CodeText CODE_TEXTS[] = {
    {RXB540_OK, "Success"},
    {RXB540_ERROR_NOT_FOUND, "The specified device was not found"},
    {RXB540_ERROR_COMMUNICATION, "Communication error with device"},
    {RXB540_ERROR_INVALID_ARGUMENT, "Invalid argument"},
    {RXB540_ERROR_NO_MEMORY, "Out of memory"},
    {RXB540_ERROR_PLATFORM, "The host's HID devices could not be listed"},
};

#ifdef _WIN32
SRWLOCK platformLock = SRWLOCK_INIT;
#else
pthread_mutex_t platformLock = PTHREAD_MUTEX_INITIALIZER;
#endif

}  // namespace

void LockPlatform() {
#ifdef _WIN32
    AcquireSRWLockExclusive(&platformLock);
#else
    pthread_mutex_lock(&platformLock);
#endif
}

void UnlockPlatform() {
#ifdef _WIN32
    ReleaseSRWLockExclusive(&platformLock);
#else
    pthread_mutex_unlock(&platformLock);
#endif
}

SystemReason SaveSystemReason() {
#ifdef _WIN32
    return {GetLastError()};
#else
    return {static_cast<unsigned long>(errno)};
#endif
}

void RestoreSystemReason(SystemReason reason) {
#ifdef _WIN32
    SetLastError(static_cast<DWORD>(reason.value));
#else
    errno = static_cast<int>(reason.value);
#endif
}

int LibraryResult(DeviceResult result) {
    switch (result) {
        case DEVICE_OK:
            return RXB540_OK;
        case DEVICE_NOT_FOUND:
            return RXB540_ERROR_NOT_FOUND;
        case DEVICE_LIST_FAILED:
            return RXB540_ERROR_PLATFORM;
        default:
            return RXB540_ERROR_COMMUNICATION;
    }
}

char *CopyText(const char *text) {
    const std::size_t size = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(size));
    if (copy != nullptr) {
        std::memcpy(copy, text, size);
    }
    return copy;
}

void CopyBounded(char *buffer, std::size_t size, const char *text) {
    std::size_t length = 0;
    for (; length + 1 < size && text[length] != '\0'; ++length) {
        buffer[length] = text[length];
    }
    buffer[length] = '\0';
}

extern "C" {

const char *rxb540_version(void) {
    return RXB540_VERSION_TEXT(RXB540_VERSION_MAJOR, RXB540_VERSION_MINOR, RXB540_VERSION_PATCH);
}

const char *rxb540_strerror(int code) {
    for (const CodeText &entry : CODE_TEXTS) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return "Unknown error";
}

}  // extern "C"
