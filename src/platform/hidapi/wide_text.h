// hidapi hands device strings over as wchar_t text; the platform operations
// hand them to their caller as UTF-16. On the hosts this backend serves
// (macOS, the BSDs, Linux) a wchar_t holds one whole code point.
#ifndef RXB540_PLATFORM_HIDAPI_WIDE_TEXT_H
#define RXB540_PLATFORM_HIDAPI_WIDE_TEXT_H

#include <cstddef>

// Writes the wide text (at most maxChars characters, fewer when a zero comes
// first) into the caller's buffer as UTF-16: never past lengthBytes, always
// ended with a zero unit, a character that needs two units never cut in half,
// and a value that is no code point written as U+FFFD. False, with nothing
// written, when the buffer has no room even for the zero unit.
bool WriteWideAsUtf16(const wchar_t *text, std::size_t maxChars, void *buffer, std::size_t lengthBytes);

#endif  // RXB540_PLATFORM_HIDAPI_WIDE_TEXT_H
