// NarrowHidString on arbitrary 512-byte buffers, held on the heap at exactly
// their size so that a read or write past the end is caught. The result must
// be the units up to the first zero unit or the buffer's end, each as one
// byte ('?' from 256 upward), then a zero byte, and nothing after that zero
// byte may change.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "board/discovery.h"
#include "require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Inputs shorter than the buffer are repeated to fill it, so that short
    // inputs also reach strings without a zero unit.
    unsigned char original[HID_STRING_BYTES] = {};
    for (std::size_t i = 0; size > 0 && i < HID_STRING_BYTES; ++i) {
        original[i] = data[i % size];
    }
    std::string expected;
    for (std::size_t i = 0; i < HID_STRING_BYTES / 2; ++i) {
        std::uint16_t unit;
        std::memcpy(&unit, original + 2 * i, sizeof unit);
        if (unit == 0) {
            break;
        }
        expected += unit < 256 ? static_cast<char>(unit) : '?';
    }

    auto *buffer = new char[1][HID_STRING_BYTES];
    std::memcpy(*buffer, original, HID_STRING_BYTES);
    NarrowHidString(*buffer);
    Require(std::memcmp(*buffer, expected.data(), expected.size()) == 0, "each unit becomes its byte or '?'");
    Require((*buffer)[expected.size()] == '\0', "the text ends after the last unit");
    Require(std::memcmp(*buffer + expected.size() + 1, original + expected.size() + 1,
                        HID_STRING_BYTES - expected.size() - 1) == 0,
            "nothing after the text's end changes");
    delete[] buffer;
    return 0;
}
