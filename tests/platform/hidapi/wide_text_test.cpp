#include "platform/hidapi/wide_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const unsigned char UNTOUCHED = 0xAB;

// Converts into a buffer of `bytes` bytes, filled beforehand so that every
// unit written (and every byte not written) shows.
std::vector<std::uint16_t> Convert(const wchar_t *text, std::size_t maxChars, std::size_t bytes,
                                   bool *ok = nullptr) {
    std::vector<unsigned char> buffer(bytes, UNTOUCHED);
    const bool written = WriteWideAsUtf16(text, maxChars, buffer.data(), bytes);
    if (ok != nullptr) {
        *ok = written;
    }
    std::vector<std::uint16_t> units(bytes / 2);
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::memcpy(&units[i], &buffer[2 * i], 2);
    }
    if (bytes % 2 != 0) {
        EXPECT_EQ(buffer.back(), UNTOUCHED) << "the odd last byte was written";
    }
    return units;
}

const std::uint16_t FREE = UNTOUCHED * 0x101;

TEST(HidapiWideText, WritesCharactersAsUtf16AndEndsThemWithZero) {
    const wchar_t text[] = {L'A',
                            static_cast<wchar_t>(0x1F600),
                            static_cast<wchar_t>(0xD800),
                            static_cast<wchar_t>(0x110000),
                            static_cast<wchar_t>(-1),
                            L'\0'};
    const std::vector<std::uint16_t> expected = {'A', 0xD83D, 0xDE00, 0xFFFD, 0xFFFD, 0xFFFD, 0, FREE};
    EXPECT_EQ(Convert(text, 16, 16), expected);
}

TEST(HidapiWideText, StaysInsideTheBufferAndTheTextItWasGiven) {
    // Room for two units and the zero: the pair does not fit and is not cut.
    EXPECT_EQ(Convert(L"A\U0001F600", 16, 7), (std::vector<std::uint16_t>{'A', 0, FREE}));
    EXPECT_EQ(Convert(L"ABC", 16, 6), (std::vector<std::uint16_t>{'A', 'B', 0}));
    // No zero within maxChars: the text ends after maxChars characters.
    EXPECT_EQ(Convert(L"ABCD", 2, 8), (std::vector<std::uint16_t>{'A', 'B', 0, FREE}));
    bool ok = true;
    EXPECT_EQ(Convert(L"A", 16, 1, &ok), std::vector<std::uint16_t>{});
    EXPECT_FALSE(ok);
    EXPECT_EQ(Convert(L"A", 16, 2, &ok), std::vector<std::uint16_t>{0});
    EXPECT_TRUE(ok);
}

}  // namespace
