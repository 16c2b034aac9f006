#include "board/device_result.h"

#include <gtest/gtest.h>

TEST(DeviceResultText, FixedTextsForKnownFailures) {
    EXPECT_STREQ(DeviceResultText(DEVICE_ACCESS_DENIED), "Access to device denied");
    EXPECT_STREQ(DeviceResultText(DEVICE_COMM_ERROR), "Communication error with device");
    EXPECT_STREQ(DeviceResultText(DEVICE_NOT_FOUND), "The specified device was not found");
    EXPECT_STREQ(DeviceResultText(DEVICE_LIST_FAILED), "The host's HID devices could not be listed");
}

TEST(DeviceResultText, OtherCodesAreFormattedIntoOneReusedBuffer) {
    const char *four = DeviceResultText(4);
    EXPECT_STREQ(four, "Unknown USB error 4");
    EXPECT_EQ(DeviceResultText(DEVICE_OK), four);
    EXPECT_STREQ(four, "Unknown USB error 0");
    EXPECT_EQ(DeviceResultText(-2147483647 - 1), four);
    EXPECT_STREQ(four, "Unknown USB error -2147483648");
}
