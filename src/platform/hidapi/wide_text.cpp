#include "platform/hidapi/wide_text.h"

#include <cstdint>

#include "platform/shared/utf16_text.h"

static_assert(sizeof(wchar_t) == 4, "a wchar_t must hold a whole code point (UTF-32), as on Unix hosts");

bool WriteWideAsUtf16(const wchar_t *text, std::size_t maxChars, void *buffer, std::size_t lengthBytes) {
    Utf16Output out;
    if (!BeginUtf16(&out, buffer, lengthBytes)) {
        return false;
    }
    // A negative wchar_t becomes a value beyond U+10FFFF, which the encoder
    // writes as U+FFFD.
    for (std::size_t i = 0; i < maxChars && text[i] != L'\0'; ++i) {
        const char32_t codePoint = static_cast<char32_t>(static_cast<std::uint32_t>(text[i]));
        if (!AppendUtf16(&out, codePoint)) {
            break;
        }
    }
    EndUtf16(&out);
    return true;
}
