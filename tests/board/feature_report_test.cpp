#include "board/feature_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim_host.h"
#include "support/sim_host_text.h"

namespace {

std::string Hex(const FeatureReport &report) {
    std::string hex;
    for (std::uint8_t byte : report.bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

std::string SerialAt(std::int64_t seconds) {
    char text[SERIAL_TEXT_BYTES];
    MakeSerialText(text, seconds);
    return text;
}

}  // namespace

TEST(FeatureReport, SetStateCarriesTheLowEightBitsOfTheState) {
    FeatureReport report;
    std::memset(report.bytes, 0xAA, sizeof report.bytes);
    BuildSetStateReport(&report, 5);
    EXPECT_EQ(Hex(report), "0031050000000000000000000000000000");
    BuildSetStateReport(&report, 256);
    EXPECT_EQ(report.bytes[2], 0x00);
    BuildSetStateReport(&report, 300);
    EXPECT_EQ(report.bytes[2], 0x2C);
    BuildSetStateReport(&report, -1);
    EXPECT_EQ(report.bytes[2], 0xFF);
    BuildSetStateReport(&report, -2147483647 - 1);
    EXPECT_EQ(report.bytes[2], 0x00);
}

TEST(FeatureReport, SetSerialPlacesTheTextAndItsZeroFromOffsetTwo) {
    FeatureReport report;
    std::memset(report.bytes, 0xAA, sizeof report.bytes);
    BuildSetSerialReport(&report, "1700000000");
    // Ten digits at offsets 2..11, the zero at 12, and 13..16 cleared.
    EXPECT_EQ(Hex(report), "0082313730303030303030300000000000");

    // A text longer than the payload is cut so that its zero still fits.
    BuildSetSerialReport(&report, "12345678901234567890");
    EXPECT_EQ(Hex(report), "0082313233343536373839303132333400");
}

TEST(SerialText, IsTheLowThirtyTwoBitsOfTheTimeAsASignedNumber) {
    EXPECT_EQ(SerialAt(1700000000), "1700000000");
    EXPECT_EQ(SerialAt(0), "0");
    EXPECT_EQ(SerialAt(2147483647), "2147483647");
    // The second 2^31 after the epoch (January 2038) turns the sign.
    EXPECT_EQ(SerialAt(2147483648LL), "-2147483648");
    EXPECT_EQ(SerialAt(4294967295LL), "-1");
    EXPECT_EQ(SerialAt(4294967296LL), "0");
    EXPECT_EQ(SerialAt(-1), "-1");
}

TEST(SendFeatureReport, ReportsWhetherTheBoardTookTheReport) {
    std::string error;
    ASSERT_TRUE(SimHostLoadText(BoardLine("x", "1") + BoardLine("x", "2", "feature=fail"), &error)) << error;
    FeatureReport report;
    BuildSetStateReport(&report, 7);

    HANDLE taking = CreateFileA("sim:0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE refusing =
        CreateFileA("sim:1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(SendFeatureReport(taking, report), DEVICE_OK);
    EXPECT_EQ(SendFeatureReport(refusing, report), DEVICE_COMM_ERROR);
    EXPECT_EQ(SimHostBoardState(0), 7);
    EXPECT_EQ(SimHostBoardState(1), 0);
    CloseHandle(taking);
    CloseHandle(refusing);
}
