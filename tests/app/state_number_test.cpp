#include <gtest/gtest.h>

#include <climits>

#include "app/commands.h"

TEST(ConvertStateNumber, ReadsLikeAtoi) {
    EXPECT_EQ(ConvertStateNumber("3"), 3);
    EXPECT_EQ(ConvertStateNumber("300"), 300);
    EXPECT_EQ(ConvertStateNumber("-1"), -1);
    EXPECT_EQ(ConvertStateNumber(" \t\n+42xyz"), 42);
    EXPECT_EQ(ConvertStateNumber("0007"), 7);
    EXPECT_EQ(ConvertStateNumber("abc"), 0);
    EXPECT_EQ(ConvertStateNumber(""), 0);
    EXPECT_EQ(ConvertStateNumber("- 5"), 0);
    EXPECT_EQ(ConvertStateNumber("+-5"), 0);
    EXPECT_EQ(ConvertStateNumber("5 6"), 5);
}

TEST(ConvertStateNumber, SaturatesBeyondThirtyTwoBits) {
    EXPECT_EQ(ConvertStateNumber("2147483647"), INT_MAX);
    EXPECT_EQ(ConvertStateNumber("2147483648"), INT_MAX);
    EXPECT_EQ(ConvertStateNumber("99999999999"), INT_MAX);
    EXPECT_EQ(ConvertStateNumber("-2147483648"), INT_MIN);
    EXPECT_EQ(ConvertStateNumber("-2147483649"), INT_MIN);
    EXPECT_EQ(ConvertStateNumber("-99999999999"), INT_MIN);
    EXPECT_EQ(ConvertStateNumber("123456789012345678901234567890123456789"), INT_MAX);
}
