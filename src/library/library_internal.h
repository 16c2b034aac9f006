// What the parts of librxb540 share: the lock around the host's HID
// services, the system's reason for a failed device list, the mapping of
// board results to the library's codes, and text copies.
#ifndef RXB540_LIBRARY_LIBRARY_INTERNAL_H
#define RXB540_LIBRARY_LIBRARY_INTERNAL_H

#include <cstddef>

#include "board/device_result.h"

// The lock around the host's HID services. Backends keep tables of their
// lists and handles and expect one call at a time, so every pass, report and
// close is made under it. Taken and released by explicit calls: a guard
// object would give every caller an exception landing pad, and with it a
// dependency on the C++ runtime that the library does not otherwise have.
void LockPlatform();
void UnlockPlatform();

// The system's reason for a failure (errno, or GetLastError() on Windows),
// taken right after the platform call that failed, kept while the library
// releases what it held, and put back for the caller.
struct SystemReason {
    unsigned long value;
};
SystemReason SaveSystemReason();
void RestoreSystemReason(SystemReason reason);

// The library's code for a result of board access.
int LibraryResult(DeviceResult result);

// A heap copy of text, or null when no memory could be had.
char *CopyText(const char *text);

// Copies text into a buffer of size bytes, cut to fit and always terminated.
void CopyBounded(char *buffer, std::size_t size, const char *text);

#endif  // RXB540_LIBRARY_LIBRARY_INTERNAL_H
