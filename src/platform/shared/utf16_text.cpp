#include "platform/shared/utf16_text.h"

#include <cstring>

bool DecodeUtf8(const char *text, std::size_t length, std::size_t *pos, char32_t *codePoint) {
    const unsigned char lead = static_cast<unsigned char>(text[*pos]);
    ++*pos;
    *codePoint = REPLACEMENT_CHARACTER;
    if (lead < 0x80) {
        *codePoint = lead;
        return true;
    }
    int sequenceLength = 0;
    char32_t value = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        sequenceLength = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        sequenceLength = 3;
        value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        sequenceLength = 4;
        value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong forms
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return false;
    }
    for (int i = 1; i < sequenceLength; ++i) {
        if (*pos >= length) {
            return false;
        }
        const unsigned char next = static_cast<unsigned char>(text[*pos]);
        if (next < low || next > high) {
            return false;
        }
        low = 0x80;
        high = 0xBF;
        value = (value << 6) | (next & 0x3F);
        ++*pos;
    }
    *codePoint = value;
    return true;
}

std::size_t EncodeUtf16(char32_t codePoint, char16_t units[2]) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        codePoint = REPLACEMENT_CHARACTER;
    }
    if (codePoint < 0x10000) {
        units[0] = static_cast<char16_t>(codePoint);
        return 1;
    }
    codePoint -= 0x10000;
    units[0] = static_cast<char16_t>(0xD800 + (codePoint >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    return 2;
}

bool BeginUtf16(Utf16Output *out, void *buffer, std::size_t lengthBytes) {
    const std::size_t units = lengthBytes / sizeof(char16_t);
    if (buffer == nullptr || units == 0) {
        return false;
    }
    out->bytes = static_cast<unsigned char *>(buffer);
    out->capacityUnits = units - 1;
    out->usedUnits = 0;
    return true;
}

bool AppendUtf16(Utf16Output *out, char32_t codePoint) {
    char16_t units[2];
    const std::size_t count = EncodeUtf16(codePoint, units);
    if (count > out->capacityUnits - out->usedUnits) {
        return false;
    }
    std::memcpy(out->bytes + out->usedUnits * sizeof(char16_t), units, count * sizeof(char16_t));
    out->usedUnits += count;
    return true;
}

void EndUtf16(Utf16Output *out) {
    const char16_t terminator = 0;
    std::memcpy(out->bytes + out->usedUnits * sizeof(char16_t), &terminator, sizeof(terminator));
}
