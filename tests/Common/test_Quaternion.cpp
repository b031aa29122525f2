#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Common/Matrix.h"
#include "Common/Quaternion.h"

namespace {

const float kPi = 3.14159265358979f;
const float kTol = 1e-5f;

void expectQuat(const Quaternion& q, float w, float x, float y, float z, float tol = kTol) {
    EXPECT_NEAR(q.w, w, tol);
    EXPECT_NEAR(q.x, x, tol);
    EXPECT_NEAR(q.y, y, tol);
    EXPECT_NEAR(q.z, z, tol);
}

void expectVec(const Vec3& v, float x, float y, float z, float tol = kTol) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

Vec3 unitAxis(float x, float y, float z) {
    Vec3 v(x, y, z);
    v.normalize();
    return v;
}

TEST(QuaternionProduct, HamiltonOrderMatters) {
    const Quaternion i(0, 1, 0, 0), j(0, 0, 1, 0);
    expectQuat(i * j, 0, 0, 0, 1);   // ij = k
    expectQuat(j * i, 0, 0, 0, -1);  // ji = -k

    // Worked by hand from the Hamilton rules.
    const Quaternion p(1, 2, 3, 4), q(5, 6, 7, 8);
    expectQuat(p * q, -60, 12, 30, 24);
    expectQuat(q * p, -60, 20, 14, 32);
}

TEST(QuaternionProduct, ComposesRotationsRightFirst) {
    const Quaternion p = fromAxisAngle(0.7f, unitAxis(1, 2, -1));
    const Quaternion q = fromAxisAngle(-1.3f, unitAxis(0, 1, 3));
    const Vec3 v(0.3f, -2, 1.5f);
    const Vec3 composed = (p * q).rotate(v);
    const Vec3 stepwise = p.rotate(q.rotate(v));
    expectVec(composed, stepwise.x, stepwise.y, stepwise.z);
}

TEST(QuaternionBasics, SumScaleDotConjugate) {
    const Quaternion p(1, 2, 3, 4), q(0.5f, -1, 0, 2);
    expectQuat(p + q, 1.5f, 1, 3, 6);
    expectQuat(2.0f * p, 2, 4, 6, 8);
    EXPECT_FLOAT_EQ(dot(p, q), 0.5f - 2 + 0 + 8);
    expectQuat(p.conjugate(), 1, -2, -3, -4);
    expectQuat(Quaternion(), 1, 0, 0, 0, 0);

    const Quaternion r = fromAxisAngle(1.1f, unitAxis(1, 1, 0));
    expectQuat(r * r.conjugate(), 1, 0, 0, 0);
}

TEST(QuaternionNormalize, ThresholdAndResult) {
    Quaternion q(0, 3, 0, 4);
    EXPECT_FLOAT_EQ(q.normalize(), 5.0f);
    expectQuat(q, 0, 0.6f, 0, 0.8f);

    Quaternion zero(0, 0, 0, 0);
    EXPECT_EQ(zero.normalize(), 0.0f);
    expectQuat(zero, 0, 0, 0, 0, 0);

    Quaternion tiny(1e-8f, 0, 0, 0);
    const float len = tiny.normalize();
    EXPECT_LE(len, 1e-8f);
    EXPECT_EQ(tiny.w, 1e-8f);
}

TEST(QuaternionRotate, QuarterTurns) {
    const float h = std::sqrt(0.5f);
    expectVec(Quaternion(h, 0, h, 0).rotate(Vec3(1, 0, 0)), 0, 0, -1);  // about y
    expectVec(Quaternion(h, 0, 0, h).rotate(Vec3(1, 0, 0)), 0, 1, 0);   // about z
    expectVec(Quaternion(h, h, 0, 0).rotate(Vec3(0, 1, 0)), 0, 0, 1);   // about x
    expectVec(Quaternion().rotate(Vec3(2, -3, 4)), 2, -3, 4, 0);
}

TEST(QuaternionRotate, FromAxisAngleHalvesTheAngle) {
    expectQuat(fromAxisAngle(kPi, Vec3(0, 0, 1)), 0, 0, 0, 1);
    const Quaternion q = fromAxisAngle(kPi / 2, Vec3(0, 1, 0));
    expectQuat(q, std::sqrt(0.5f), 0, std::sqrt(0.5f), 0);
    // The axis is taken as given, not normalised.
    expectQuat(fromAxisAngle(kPi, Vec3(0, 0, 2)), 0, 0, 0, 2);
}

TEST(QuaternionMatrix, IdentityAndAxisImages) {
    const Matrix3 id = Quaternion().toMatrix3();
    const float expected[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i) {
        EXPECT_FLOAT_EQ(id.m[i], expected[i]) << i;
    }

    const Quaternion q = fromAxisAngle(0.9f, unitAxis(1, -2, 0.5f));
    const Matrix3 r = q.toMatrix3();
    const Vec3 axes[3] = {Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1)};
    for (int c = 0; c < 3; ++c) {
        const Vec3 image = q.rotate(axes[c]);
        EXPECT_NEAR(r.m[3 * c + 0], image.x, kTol) << c;
        EXPECT_NEAR(r.m[3 * c + 1], image.y, kTol) << c;
        EXPECT_NEAR(r.m[3 * c + 2], image.z, kTol) << c;
    }
}

TEST(QuaternionMatrix, Matrix4ColumnLayout) {
    const Matrix4 id;
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(id.m[i], (i % 5 == 0) ? 1.0f : 0.0f) << i;
    }
    const Matrix4 m(Matrix3(1, 2, 3, 4, 5, 6, 7, 8, 9));
    const float expected[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(m.m[i], expected[i]) << i;
    }
    const Matrix4 direct(1, 2, 3, 4, 5, 6, 7, 8, 9);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(direct.m[i], expected[i]) << i;
    }
}

TEST(QuaternionPow, NearIdentityAndZeroPowerGiveIdentity) {
    const float s = std::sqrt(1.0f - 0.9999f * 0.9999f);
    expectQuat(Quaternion(0.9999f, s, 0, 0).pow(3), 1, 0, 0, 0, 0);
    expectQuat(Quaternion(-0.99995f, 0, 0.01f, 0).pow(2), 1, 0, 0, 0, 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    expectQuat(Quaternion(nan, 0, 0, 0).pow(2), 1, 0, 0, 0, 0);
    expectQuat(fromAxisAngle(kPi / 2, Vec3(0, 0, 1)).pow(0), 1, 0, 0, 0);

    // Just inside the threshold the power is taken.
    const float w = 0.9998f;
    const Quaternion p = Quaternion(w, std::sqrt(1.0f - w * w), 0, 0).pow(2);
    EXPECT_LT(p.w, 0.9997f);
}

TEST(QuaternionPow, PowersMultiplyTheAngle) {
    const Vec3 axis = unitAxis(1, 2, 2);
    const float alpha = 40.0f * kPi / 180.0f;
    const Quaternion q = fromAxisAngle(alpha, axis);
    const Quaternion twice = fromAxisAngle(2 * alpha, axis);
    const Quaternion p2 = q.pow(2);
    expectQuat(p2, twice.w, twice.x, twice.y, twice.z);
    const Quaternion p3 = q.pow(3);
    const Quaternion thrice = fromAxisAngle(3 * alpha, axis);
    expectQuat(p3, thrice.w, thrice.x, thrice.y, thrice.z);
    // A power of -1 is the inverse rotation.
    const Quaternion inv = q.pow(-1);
    expectQuat(inv, q.w, -q.x, -q.y, -q.z);
}

TEST(QuaternionSlerp, SameSideFollowsTheArc) {
    const Quaternion a;
    const Quaternion b = fromAxisAngle(kPi / 2, Vec3(0, 0, 1));
    const Quaternion half = fromAxisAngle(kPi / 4, Vec3(0, 0, 1));
    const Quaternion mid = slerp(a, b, 0.5f);
    expectQuat(mid, half.w, half.x, half.y, half.z);
    expectQuat(slerp(a, b, 0.0f), 1, 0, 0, 0);
    expectQuat(slerp(a, b, 1.0f), b.w, b.x, b.y, b.z);
    // Not clamped: t = 2 runs on to a 180-degree turn.
    expectQuat(slerp(a, b, 2.0f), 0, 0, 0, 1);
}

TEST(QuaternionSlerp, NearlyEqualFallsBackToLinearWeights) {
    const Quaternion a = fromAxisAngle(0.4f, unitAxis(0, 1, 1));
    const Quaternion same = slerp(a, a, 0.3f);
    expectQuat(same, a.w, a.x, a.y, a.z);

    // Dot 4: the arc formula has no angle here, the linear weights do.
    const Quaternion big(2, 0, 0, 0);
    expectQuat(slerp(big, big, 0.75f), 2, 0, 0, 0);
}

TEST(QuaternionSlerp, OppositeSideTakesThePathThroughMinusA) {
    const Quaternion a;
    const Quaternion turn = fromAxisAngle(kPi / 2, Vec3(0, 0, 1));
    const Quaternion b(-turn.w, -turn.x, -turn.y, -turn.z);  // same rotation, other sign
    expectQuat(slerp(a, b, 0.0f), -1, 0, 0, 0);
    expectQuat(slerp(a, b, 1.0f), b.w, b.x, b.y, b.z);
    const Quaternion half = fromAxisAngle(kPi / 4, Vec3(0, 0, 1));
    expectQuat(slerp(a, b, 0.5f), -half.w, -half.x, -half.y, -half.z);

    // Dot 0 lies below the threshold, so it counts as opposite too.
    const Quaternion flip(0, 0, 0, 1);
    expectQuat(slerp(a, flip, 0.0f), -1, 0, 0, 0);
    expectQuat(slerp(a, flip, 1.0f), 0, 0, 0, 1);
}

TEST(QuaternionSlerp, NearlyOppositeFallsBackToLinearWeights) {
    const Quaternion a;
    const Quaternion minusA(-1, 0, 0, 0);
    for (float t : {0.0f, 0.4f, 1.0f}) {
        // (t - 1) * a + t * (-a) = -a for every t.
        expectQuat(slerp(a, minusA, t), -1, 0, 0, 0);
    }
}

}  // namespace
