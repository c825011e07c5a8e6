// Window-chrome arithmetic.
#include <gtest/gtest.h>

#include "app/chrome.h"

namespace {

TEST(Chrome, IconCentredWithTruncatingDivision) {
    EXPECT_EQ(CentredIcon(100, 60, 32, 32).x, 34);  // (100 - 32 + 1) / 2 = 34.5 -> 34
    EXPECT_EQ(CentredIcon(100, 60, 32, 32).y, 14);  // (60 - 32 + 1) / 2 = 14.5 -> 14
    EXPECT_EQ(CentredIcon(101, 61, 32, 32).x, 35);
    EXPECT_EQ(CentredIcon(101, 61, 32, 32).y, 15);
    EXPECT_EQ(CentredIcon(33, 32, 32, 32).x, 1);
    EXPECT_EQ(CentredIcon(32, 32, 32, 32).x, 0);
    // A client area smaller than the icon: toward zero, not toward minus infinity.
    EXPECT_EQ(CentredIcon(0, 0, 32, 32).x, -15);
    EXPECT_EQ(CentredIcon(30, 29, 32, 32).x, 0);
    EXPECT_EQ(CentredIcon(30, 29, 32, 32).y, -1);
}

TEST(Chrome, AboutCommandIgnoresLowFourBits) {
    for (unsigned command : {0x0010u, 0x0013u, 0x001Fu}) EXPECT_TRUE(IsAboutCommand(command)) << command;
    for (unsigned command : {0x0000u, 0x0020u, 0xF060u, 0x0110u}) EXPECT_FALSE(IsAboutCommand(command)) << command;
}

}  // namespace
