// The schema's messages as the wire sees them: sizes, required fields, presence.

#include <gtest/gtest.h>

#include <string>

#include "Common/Protobuf/Object.pb.h"

namespace {

void fill(Morvik::Orientation* o) {
    o->set_x(0.0f);
    o->set_y(0.0f);
    o->set_z(0.0f);
    o->set_w(1.0f);
}

void fill(Morvik::Position* p) {
    p->set_x(1.0f);
    p->set_y(2.0f);
    p->set_z(3.0f);
}

Morvik::ObjectInfo completeInfo() {
    Morvik::ObjectInfo info;
    info.set_id((std::uint64_t{1} << 32) | 7);
    info.set_objecttype(0);
    info.set_timestamp(1234);
    fill(info.mutable_position());
    fill(info.mutable_orientation());
    info.mutable_playerdata()->set_health(100.0f);
    return info;
}

}  // namespace

// Each float field is one tag byte and 4 value bytes; a varint below 128 is one byte and
// 0x40000000 (31 significant bits) takes five.
TEST(Schema, EncodedSizesFollowTheWireRules) {
    Morvik::Position position;
    fill(&position);
    EXPECT_EQ(position.ByteSizeLong(), 3u * 5u);

    Morvik::Orientation orientation;
    fill(&orientation);
    EXPECT_EQ(orientation.ByteSizeLong(), 4u * 5u);

    Morvik::ClientUpdate update;
    fill(update.mutable_orientation());
    update.set_boosterson(0x1 | 0x10);
    // orientation: tag + length + 20; boostersOn: tag + 1.
    EXPECT_EQ(update.ByteSizeLong(), 1u + 1u + 20u + 1u + 1u);
    EXPECT_EQ(update.SerializeAsString().size(), 24u);

    update.set_boosterson(0x40000000);
    EXPECT_EQ(update.ByteSizeLong(), 1u + 1u + 20u + 1u + 5u);
}

TEST(Schema, EmptyBodyFailsForEveryTravellingMessage) {
    EXPECT_FALSE(Morvik::ObjectInfo().ParseFromArray("", 0));
    EXPECT_FALSE(Morvik::ObjectUpdate().ParseFromArray("", 0));
    EXPECT_FALSE(Morvik::ObjectDestroy().ParseFromArray("", 0));
    EXPECT_FALSE(Morvik::ClientUpdate().ParseFromArray("", 0));
    EXPECT_FALSE(Morvik::Welcome().ParseFromArray("", 0));
}

TEST(Schema, MissingRequiredFieldsAnywhereFailTheWholeMessage) {
    const std::string good = completeInfo().SerializeAsString();
    Morvik::ObjectInfo parsed;
    EXPECT_TRUE(parsed.ParseFromString(good));

    Morvik::ObjectInfo noHealth = completeInfo();
    noHealth.mutable_playerdata()->clear_health();
    EXPECT_FALSE(parsed.ParseFromString(noHealth.SerializePartialAsString()));

    Morvik::ObjectInfo noTimestamp = completeInfo();
    noTimestamp.clear_timestamp();
    EXPECT_FALSE(parsed.ParseFromString(noTimestamp.SerializePartialAsString()));

    Morvik::ObjectInfo noW = completeInfo();
    noW.mutable_orientation()->clear_w();
    EXPECT_FALSE(parsed.ParseFromString(noW.SerializePartialAsString()));
}

TEST(Schema, AbsentOptionalFieldsReadAsZero) {
    Morvik::ObjectUpdate update;
    update.set_id(9);
    update.set_timestamp(10);
    Morvik::ObjectUpdate parsed;
    ASSERT_TRUE(parsed.ParseFromString(update.SerializeAsString()));
    EXPECT_FALSE(parsed.has_position());
    EXPECT_FALSE(parsed.has_orientation());
    // Not the identity rotation: an absent orientation is all zeros.
    EXPECT_EQ(parsed.orientation().w(), 0.0f);
    EXPECT_EQ(parsed.position().x(), 0.0f);

    Morvik::Welcome welcome;
    welcome.set_id(5);
    welcome.set_qport(77);
    EXPECT_FALSE(Morvik::Welcome().ParseFromString(welcome.SerializePartialAsString()));
    welcome.mutable_playerdata()->set_health(100.0f);
    Morvik::Welcome parsedWelcome;
    ASSERT_TRUE(parsedWelcome.ParseFromString(welcome.SerializeAsString()));
    EXPECT_EQ(parsedWelcome.playerdata().name(), "");
    EXPECT_FALSE(parsedWelcome.playerdata().has_blueteam());
    EXPECT_FALSE(parsedWelcome.playerdata().blueteam());
}

TEST(Schema, UnknownFieldIsSkipped) {
    Morvik::ObjectDestroy destroy;
    destroy.set_id(42);
    std::string bytes = destroy.SerializeAsString();
    // Field 15, varint 300: tag (15 << 3 | 0) = 0x78, then 0xAC 0x02.
    bytes += std::string("\x78\xAC\x02", 3);
    Morvik::ObjectDestroy parsed;
    ASSERT_TRUE(parsed.ParseFromString(bytes));
    EXPECT_EQ(parsed.id(), 42u);
}

TEST(Schema, NegativeScoreSurvivesTheRoundTrip) {
    Morvik::PlayerData data;
    data.set_health(50.0f);
    data.set_score(-3);
    // A negative int32 is sign-extended to a 10-byte varint.
    EXPECT_EQ(data.ByteSizeLong(), 5u + 1u + 10u);
    Morvik::PlayerData parsed;
    ASSERT_TRUE(parsed.ParseFromString(data.SerializeAsString()));
    EXPECT_EQ(parsed.score(), -3);
}

TEST(Schema, MutableAccessorMakesAnEmptySubMessagePresent) {
    Morvik::ObjectUpdate update;
    update.set_id(1);
    update.set_timestamp(2);
    const std::size_t without = update.ByteSizeLong();
    update.mutable_position();
    EXPECT_TRUE(update.has_position());
    // Tag and a zero length.
    EXPECT_EQ(update.ByteSizeLong(), without + 2u);
    // Position has required fields, so the receiver rejects the whole update.
    EXPECT_FALSE(Morvik::ObjectUpdate().ParseFromString(update.SerializePartialAsString()));
}
