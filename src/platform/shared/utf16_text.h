// Text conversion that more than one backend needs: device strings arrive as
// UTF-8 (sysfs, host files) or as wide characters (hidapi) and are handed to
// the caller as UTF-16 in a buffer of the caller's size. Uses no C++ library
// beyond the language itself, so a backend that avoids libstdc++ can use it.
#ifndef RXB540_PLATFORM_SHARED_UTF16_TEXT_H
#define RXB540_PLATFORM_SHARED_UTF16_TEXT_H

#include <cstddef>

constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Decodes the UTF-8 sequence at text[*pos] (*pos < length) and moves past it.
// Returns true with the code point of a well-formed sequence. An ill-formed
// or cut sequence (overlong, a surrogate, beyond U+10FFFF) gives false and
// U+FFFD, and moves past its longest valid beginning, at least one byte, so
// that the next sequence is decoded on its own.
bool DecodeUtf8(const char *text, std::size_t length, std::size_t *pos, char32_t *codePoint);

// Writes the code point as one or two UTF-16 units; returns how many. A
// surrogate or a value beyond U+10FFFF is written as U+FFFD.
std::size_t EncodeUtf16(char32_t codePoint, char16_t units[2]);

// A caller's buffer being filled with UTF-16 units: never written past its
// length in bytes, always ended with a zero unit, and a character that needs
// two units is never cut in half.
struct Utf16Output {
    unsigned char *bytes;
    std::size_t capacityUnits;  // room for the text, the terminator excluded
    std::size_t usedUnits;
};

// Starts the output; false when the buffer is null or has no room even for
// the zero unit (nothing is written then).
bool BeginUtf16(Utf16Output *out, void *buffer, std::size_t lengthBytes);

// Appends one character; false, with nothing written, when it does not fit.
bool AppendUtf16(Utf16Output *out, char32_t codePoint);

// Writes the zero unit after the text appended so far.
void EndUtf16(Utf16Output *out);

#endif  // RXB540_PLATFORM_SHARED_UTF16_TEXT_H
