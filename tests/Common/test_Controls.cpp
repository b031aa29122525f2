// The boostersOn bits as the client sets them and the server reads them, written out here
// rather than taken from the header, so that a changed bit fails in this one place.

#include "Common/Controls.h"

#include <gtest/gtest.h>

TEST(Controls, BitsAreTheWireBits) {
    EXPECT_EQ(controls::kForward, 0x1u);
    EXPECT_EQ(controls::kBack, 0x2u);
    EXPECT_EQ(controls::kRight, 0x4u);
    EXPECT_EQ(controls::kLeft, 0x8u);
    EXPECT_EQ(controls::kUp, 0x10u);
    EXPECT_EQ(controls::kDown, 0x20u);
    EXPECT_EQ(controls::kFire, 0x40000000u);
    EXPECT_EQ(controls::kAllThrust, 0x3Fu);
}
