// The schema's messages as the wire sees them: sizes, required fields, presence.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <google/protobuf/stubs/logging.h>

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

// The wire format pinned apart from the generated code: both programs share the generated
// classes, so a renumbered field, a changed type or a changed label would pass every round
// trip. Each field below is written out by hand as tag byte(s) and value.
namespace wire {

struct Field {
    std::string bytes;
    bool required;
};

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int value : values) {
        out.push_back(static_cast<char>(value));
    }
    return out;
}

std::string join(const std::vector<Field>& fields) {
    std::string out;
    for (const Field& field : fields) {
        out += field.bytes;
    }
    return out;
}

// Little-endian floats: 0.5, 1, 2, 3 and 100.
const std::string kHalf = bytes({0x00, 0x00, 0x00, 0x3F});
const std::string kOne = bytes({0x00, 0x00, 0x80, 0x3F});
const std::string kTwo = bytes({0x00, 0x00, 0x00, 0x40});
const std::string kThree = bytes({0x00, 0x00, 0x40, 0x40});
const std::string kHundred = bytes({0x00, 0x00, 0xC8, 0x42});
// (1 << 32) | 7 as a varint: the server id in the high half needs all 64 bits.
const std::string kIdVarint = bytes({0x87, 0x80, 0x80, 0x80, 0x10});
constexpr std::uint64_t kId = (std::uint64_t{1} << 32) | 7;

// Tag byte = field number << 3 | wire type (0 varint, 2 length-delimited, 5 fixed32).
const std::vector<Field> kPosition = {{"\x0D" + kOne, true},  //
                                      {"\x15" + kTwo, true},
                                      {"\x1D" + kThree, true}};
const std::vector<Field> kOrientation = {{"\x0D" + kOne, true},  // x
                                         {"\x15" + kTwo, true},  // y
                                         {"\x1D" + kThree, true},
                                         {"\x25" + kHalf, true}};  // w
const std::string kPositionBody = join(kPosition);
const std::string kOrientationBody = join(kOrientation);
const std::vector<Field> kPlayerData = {
    {"\x0D" + kHundred, true},                                                           // health
    {bytes({0x10, 0x01}), false},                                                        // blueTeam
    {bytes({0x1A, 0x01, 'P'}), false},                                                   // name
    {bytes({0x20, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}), false},  // -3
    {bytes({0x28, 0x05}), false},   // redTeamScore
    {bytes({0x30, 0x06}), false}};  // blueTeamScore
const std::vector<Field> kProjectileData = {
    {bytes({0x0A, 0x0F}) + kPositionBody, true},  // velocity
    {bytes({0x10, 0x01}), true}};                 // blueTeam
const std::vector<Field> kObjectInfo = {{"\x08" + kIdVarint, true},
                                        {bytes({0x10, 0x01}), true},        // objectType
                                        {bytes({0x18, 0xD2, 0x09}), true},  // timestamp 1234
                                        {bytes({0x22, 0x0F}) + kPositionBody, true},
                                        {bytes({0x2A, 0x14}) + kOrientationBody, true},
                                        {bytes({0x32, 0x19}) + join(kPlayerData), false},
                                        {bytes({0x3A, 0x13}) + join(kProjectileData), false}};
const std::vector<Field> kObjectUpdate = {{"\x08" + kIdVarint, true},
                                          {bytes({0x10, 0xD2, 0x09}), true},
                                          {bytes({0x1A, 0x0F}) + kPositionBody, false},
                                          {bytes({0x22, 0x14}) + kOrientationBody, false}};
const std::vector<Field> kObjectDestroy = {{"\x08" + kIdVarint, true}};
const std::vector<Field> kWelcome = {{"\x08" + kIdVarint, true},
                                     {bytes({0x10, 0xAC, 0x02}), true},  // qport 300
                                     {bytes({0x1A, 0x05, 0x0D}) + kHundred, true}};
const std::vector<Field> kClientUpdate = {
    {bytes({0x0A, 0x14}) + kOrientationBody, true},
    {bytes({0x10, 0x91, 0x80, 0x80, 0x80, 0x04}), true}};  // 0x40000011

void set(Morvik::Position* p) {
    p->set_x(1.0f);
    p->set_y(2.0f);
    p->set_z(3.0f);
}

void set(Morvik::Orientation* o) {
    o->set_x(1.0f);
    o->set_y(2.0f);
    o->set_z(3.0f);
    o->set_w(0.5f);
}

void set(Morvik::PlayerData* data) {
    data->set_health(100.0f);
    data->set_blueteam(true);
    data->set_name("P");
    data->set_score(-3);
    data->set_redteamscore(5);
    data->set_blueteamscore(6);
}

void set(Morvik::ProjectileData* data) {
    set(data->mutable_velocity());
    data->set_blueteam(true);
}

// The hand-written bytes parse, and each field is required exactly where marked: leaving a
// required field out fails the parse, leaving an optional one out does not.
template <typename Message>
void expectLabels(const std::vector<Field>& fields) {
    const google::protobuf::LogSilencer quiet;  // each missing field is logged by the library
    Message parsed;
    ASSERT_TRUE(parsed.ParseFromString(join(fields))) << Message::descriptor()->name();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::vector<Field> without = fields;
        without.erase(without.begin() + static_cast<long>(i));
        EXPECT_EQ(Message().ParseFromString(join(without)), !fields[i].required)
            << Message::descriptor()->name() << " without field " << i + 1;
    }
}

}  // namespace wire

TEST(Schema, EveryMessageEncodesToTheBytesWrittenOutByHand) {
    using namespace wire;
    Morvik::Position position;
    set(&position);
    EXPECT_EQ(position.SerializeAsString(), join(kPosition));

    Morvik::Orientation orientation;
    set(&orientation);
    EXPECT_EQ(orientation.SerializeAsString(), join(kOrientation));

    Morvik::PlayerData playerData;
    set(&playerData);
    EXPECT_EQ(playerData.SerializeAsString(), join(kPlayerData));

    Morvik::ProjectileData projectileData;
    set(&projectileData);
    EXPECT_EQ(projectileData.SerializeAsString(), join(kProjectileData));

    Morvik::ObjectInfo info;
    info.set_id(kId);
    info.set_objecttype(1);
    info.set_timestamp(1234);
    set(info.mutable_position());
    set(info.mutable_orientation());
    set(info.mutable_playerdata());
    set(info.mutable_projectiledata());
    EXPECT_EQ(info.SerializeAsString(), join(kObjectInfo));

    Morvik::ObjectUpdate update;
    update.set_id(kId);
    update.set_timestamp(1234);
    set(update.mutable_position());
    set(update.mutable_orientation());
    EXPECT_EQ(update.SerializeAsString(), join(kObjectUpdate));

    Morvik::ObjectDestroy destroy;
    destroy.set_id(kId);
    EXPECT_EQ(destroy.SerializeAsString(), join(kObjectDestroy));

    Morvik::Welcome welcome;
    welcome.set_id(kId);
    welcome.set_qport(300);
    welcome.mutable_playerdata()->set_health(100.0f);
    EXPECT_EQ(welcome.SerializeAsString(), join(kWelcome));

    Morvik::ClientUpdate clientUpdate;
    set(clientUpdate.mutable_orientation());
    clientUpdate.set_boosterson(0x40000011);
    EXPECT_EQ(clientUpdate.SerializeAsString(), join(kClientUpdate));
}

TEST(Schema, RequiredAndOptionalFieldsAreAsWrittenOutByHand) {
    using namespace wire;
    expectLabels<Morvik::Position>(kPosition);
    expectLabels<Morvik::Orientation>(kOrientation);
    expectLabels<Morvik::PlayerData>(kPlayerData);
    expectLabels<Morvik::ProjectileData>(kProjectileData);
    expectLabels<Morvik::ObjectInfo>(kObjectInfo);
    expectLabels<Morvik::ObjectUpdate>(kObjectUpdate);
    expectLabels<Morvik::ObjectDestroy>(kObjectDestroy);
    expectLabels<Morvik::Welcome>(kWelcome);
    expectLabels<Morvik::ClientUpdate>(kClientUpdate);
}
