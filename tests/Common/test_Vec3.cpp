#include <gtest/gtest.h>

#include "Common/Vec3.h"

namespace {

void expectVec(const Vec3& v, float x, float y, float z) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

TEST(Vec3Arithmetic, ComponentwiseOperators) {
    Vec3 a(1, 2, 3);
    const Vec3 b(4, -5, 0.5f);
    expectVec(a + b, 5, -3, 3.5f);
    expectVec(a - b, -3, 7, 2.5f);
    expectVec(b - a, 3, -7, -2.5f);
    expectVec(a * 2.0f, 2, 4, 6);
    Vec3& same = (a += b);
    EXPECT_EQ(&same, &a);
    expectVec(a, 5, -3, 3.5f);
    expectVec(Vec3(), 0, 0, 0);
}

TEST(Vec3Cross, RightHandedAndAntisymmetric) {
    const Vec3 x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    expectVec(x.cross(y), 0, 0, 1);
    expectVec(y.cross(z), 1, 0, 0);
    expectVec(z.cross(x), 0, 1, 0);
    expectVec(y.cross(x), 0, 0, -1);
    // (2*6 - 3*5, 3*4 - 1*6, 1*5 - 2*4)
    expectVec(Vec3(1, 2, 3).cross(Vec3(4, 5, 6)), -3, 6, -3);
}

TEST(Vec3Length, NormalizeScalesToUnitAndReturnsOldLength) {
    EXPECT_FLOAT_EQ(Vec3(3, 0, 4).length(), 5.0f);
    Vec3 v(3, 0, 4);
    EXPECT_FLOAT_EQ(v.normalize(), 5.0f);
    expectVec(v, 0.6f, 0.0f, 0.8f);

    Vec3 small(0, -2e-8f, 0);  // just above the threshold: still normalised
    small.normalize();
    expectVec(small, 0, -1, 0);
}

TEST(Vec3Length, NormalizeLeavesTinyVectorsAlone) {
    Vec3 zero;
    EXPECT_EQ(zero.normalize(), 0.0f);
    expectVec(zero, 0, 0, 0);

    Vec3 tiny(1e-8f, 0, 0);
    const float len = tiny.length();
    ASSERT_LE(len, 1e-8f);
    EXPECT_EQ(tiny.normalize(), len);
    EXPECT_EQ(tiny.x, 1e-8f);
    EXPECT_EQ(tiny.y, 0.0f);
}

TEST(Vec3Text, SixDecimalsCommaSeparated) {
    EXPECT_EQ(Vec3(1, 2, 3).toString(), "(1.000000,2.000000,3.000000)");
    EXPECT_EQ(Vec3(1, -2.5f, 0).toString(), "(1.000000,-2.500000,0.000000)");
}

TEST(Vec3Text, LongNumbersAreNotCut) {
    // 1e30f is stored as 1000000015047466219876688855040 exactly.
    const std::string text = Vec3(1e30f, -1e30f, 1e30f).toString();
    EXPECT_EQ(text,
              "(1000000015047466219876688855040.000000,-1000000015047466219876688855040.000000,"
              "1000000015047466219876688855040.000000)");
}

TEST(Vec3Lerp, BlendsFromAToBWithoutClamping) {
    const Vec3 a(1, 2, 3), b(5, -2, 3);
    expectVec(lerp(a, b, 0.0f), 1, 2, 3);
    expectVec(lerp(a, b, 1.0f), 5, -2, 3);
    expectVec(lerp(a, b, 0.25f), 2, 1, 3);
    expectVec(lerp(a, b, 1.5f), 7, -4, 3);
    expectVec(lerp(a, b, -1.0f), -3, 6, 3);
}

}  // namespace
