#include "Common/MessageConversions.h"

#include <gtest/gtest.h>

#include "Common/Protobuf/Object.pb.h"

namespace {

TEST(MessageConversionsTest, OrientationBecomesAQuaternionScalarFirst) {
    Morvik::Orientation message;
    message.set_x(0.2f);
    message.set_y(0.3f);
    message.set_z(0.4f);
    message.set_w(0.1f);
    const Quaternion q = toQuaternion(message);
    EXPECT_EQ(q.w, 0.1f);
    EXPECT_EQ(q.x, 0.2f);
    EXPECT_EQ(q.y, 0.3f);
    EXPECT_EQ(q.z, 0.4f);
}

TEST(MessageConversionsTest, PositionBecomesAVector) {
    Morvik::Position message;
    message.set_x(-1.5f);
    message.set_y(2.0f);
    message.set_z(1e6f);
    const Vec3 v = toVec3(message);
    EXPECT_EQ(v.x, -1.5f);
    EXPECT_EQ(v.y, 2.0f);
    EXPECT_EQ(v.z, 1e6f);
}

TEST(MessageConversionsTest, QuaternionBecomesAnOrientationByComponentName) {
    Morvik::Orientation message;
    setOrientation(&message, Quaternion(0.1f, 0.2f, 0.3f, 0.4f));
    EXPECT_EQ(message.w(), 0.1f);
    EXPECT_EQ(message.x(), 0.2f);
    EXPECT_EQ(message.y(), 0.3f);
    EXPECT_EQ(message.z(), 0.4f);
}

TEST(MessageConversionsTest, VectorBecomesAPosition) {
    Morvik::Position message;
    setPosition(&message, Vec3(-1.5f, 2.0f, 1e6f));
    EXPECT_EQ(message.x(), -1.5f);
    EXPECT_EQ(message.y(), 2.0f);
    EXPECT_EQ(message.z(), 1e6f);
}

}  // namespace
