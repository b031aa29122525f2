#include "tools/testkit/FrameScanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Common/FrameCodec.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"

namespace {

const std::uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

Morvik::ObjectInfo shotInfo() {
    Morvik::ObjectInfo info;
    info.set_id((1ull << 32) | 77);
    info.set_objecttype(kProjectileType);
    info.set_timestamp(4000000000u);  // needs the full 32 bits
    info.mutable_position()->set_x(1.5f);
    info.mutable_position()->set_y(-2.0f);
    info.mutable_position()->set_z(3.0f);
    info.mutable_orientation()->set_x(0.1f);
    info.mutable_orientation()->set_y(-0.2f);
    info.mutable_orientation()->set_z(0.3f);
    info.mutable_orientation()->set_w(0.9f);
    info.mutable_projectiledata()->mutable_velocity()->set_x(0.0f);
    info.mutable_projectiledata()->mutable_velocity()->set_y(0.0f);
    info.mutable_projectiledata()->mutable_velocity()->set_z(100.0f);
    info.mutable_projectiledata()->set_blueteam(true);
    return info;
}

}  // namespace

TEST(FrameScanner, ReadsTheTimestampOfAnObjectUpdate) {
    Morvik::ObjectUpdate update;
    update.set_id((1ull << 32) | 2);
    update.set_timestamp(123456789u);
    update.mutable_position()->set_x(1);
    update.mutable_position()->set_y(2);
    update.mutable_position()->set_z(3);
    const std::string body = update.SerializeAsString();
    std::uint32_t stamp = 0;
    ASSERT_TRUE(scanObjectUpdate(bytes(body), body.size(), stamp));
    EXPECT_EQ(stamp, 123456789u);
}

TEST(FrameScanner, ObjectUpdateWithoutTimestampOrCutShortIsRejected) {
    Morvik::ObjectUpdate update;
    update.set_id(5);
    const std::string noStamp = update.SerializePartialAsString();
    std::uint32_t stamp = 0;
    EXPECT_FALSE(scanObjectUpdate(bytes(noStamp), noStamp.size(), stamp));

    update.set_timestamp(300000u);  // a three-byte varint
    const std::string body = update.SerializeAsString();
    EXPECT_FALSE(scanObjectUpdate(bytes(body), body.size() - 1, stamp));
}

TEST(FrameScanner, ReadsTheHeadOfAShotObjectInfo) {
    const Morvik::ObjectInfo info = shotInfo();
    const std::string body = info.SerializeAsString();
    ObjectInfoHead head;
    ASSERT_TRUE(scanObjectInfo(bytes(body), body.size(), head));
    EXPECT_EQ(head.id, info.id());
    EXPECT_EQ(head.objectType, 1u);
    EXPECT_EQ(head.timestamp, 4000000000u);
    ASSERT_TRUE(head.hasOrientation);
    EXPECT_EQ(head.orientation[0], 0.1f);
    EXPECT_EQ(head.orientation[1], -0.2f);
    EXPECT_EQ(head.orientation[2], 0.3f);
    EXPECT_EQ(head.orientation[3], 0.9f);
}

TEST(FrameScanner, ObjectInfoWithIncompleteOrientationIsRejected) {
    Morvik::ObjectInfo info = shotInfo();
    info.mutable_orientation()->clear_w();
    const std::string body = info.SerializePartialAsString();
    ObjectInfoHead head;
    EXPECT_FALSE(scanObjectInfo(bytes(body), body.size(), head));
}

TEST(FrameScanner, CutsWholeFramesAndLeavesTheRest) {
    Morvik::ObjectDestroy destroy;
    destroy.set_id(9);
    std::string stream;
    appendFrame(stream, MessageType::ObjectDestroy, destroy);
    appendFrame(stream, MessageType::ObjectInfo, shotInfo());
    const std::size_t whole = stream.size();
    appendFrame(stream, MessageType::ObjectDestroy, destroy);
    stream.resize(whole + 3);  // length and type of a third frame, no body yet

    std::vector<std::uint8_t> types;
    std::vector<std::size_t> sizes;
    bool malformed = true;
    const std::size_t used =
        forEachFrame(bytes(stream), stream.size(), malformed,
                     [&](std::uint8_t type, const std::uint8_t*, std::size_t size) {
                         types.push_back(type);
                         sizes.push_back(size);
                     });
    EXPECT_FALSE(malformed);
    EXPECT_EQ(used, whole);
    EXPECT_EQ(types, (std::vector<std::uint8_t>{3, 1}));
    EXPECT_EQ(sizes[0], destroy.ByteSizeLong());
    EXPECT_EQ(sizes[1], shotInfo().ByteSizeLong());
}

TEST(FrameScanner, ZeroLengthFrameIsMalformed) {
    const std::uint8_t stream[] = {0, 0, 1, 2, 3};
    bool malformed = false;
    int frames = 0;
    forEachFrame(stream, sizeof(stream), malformed,
                 [&](std::uint8_t, const std::uint8_t*, std::size_t) { ++frames; });
    EXPECT_TRUE(malformed);
    EXPECT_EQ(frames, 0);
}
