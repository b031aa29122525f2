// The type numbers as both programs and the wire know them, written out here rather than taken
// from the header, so that a changed number fails in this one place.

#include "Common/ObjectTypes.h"

#include <gtest/gtest.h>

TEST(ObjectTypes, TypeNumbersAreTheWireNumbers) {
    EXPECT_EQ(kPlayerType, 0);
    EXPECT_EQ(kProjectileType, 1);
    EXPECT_EQ(kExplosionType, 2);
    EXPECT_EQ(kCarrierType, 3);
    EXPECT_EQ(kNoType, -1);
}
