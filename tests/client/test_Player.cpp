#include "client/Player.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ClientTestSupport.h"
#include "Common/Protobuf/Object.pb.h"

namespace {

constexpr float kPi = 3.14159265358979f;

// A rotation by the given angle about +y.
Quaternion aboutY(float degrees) {
    const float half = degrees * kPi / 360.0f;
    return Quaternion(std::cos(half), 0, std::sin(half), 0);
}

void expectRotation(const Quaternion& actual, const Quaternion& expected) {
    EXPECT_NEAR(actual.w, expected.w, 1e-5f);
    EXPECT_NEAR(actual.x, expected.x, 1e-5f);
    EXPECT_NEAR(actual.y, expected.y, 1e-5f);
    EXPECT_NEAR(actual.z, expected.z, 1e-5f);
}

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override { clienttest::useNoResources(); }

    Player player{0x100000001ull, true, 100};
};

TEST_F(PlayerTest, StartsWithTheGivenTeamAndHealthAndNoNameOrScore) {
    Player red(7, false, 42);
    EXPECT_EQ(red.objectType, 0);
    EXPECT_EQ(red.id, 7u);
    EXPECT_FALSE(red.blueTeam);
    EXPECT_EQ(red.health, 42.0f);
    EXPECT_EQ(red.name, "");
    EXPECT_EQ(red.score, 0);
    expectRotation(red.catchUpRotation, Quaternion());
}

// ---- orientation smoothing ----

TEST_F(PlayerTest, CatchUpRotationLeadsFromTheShownOrientationToTheNewestSample) {
    player.applyNetworkState(1000, Vec3(), aboutY(10), true);
    player.shownOrientation = aboutY(10);
    player.applyNetworkState(1100, Vec3(), aboutY(30), false);
    expectRotation(player.catchUpRotation, aboutY(20));
}

TEST_F(PlayerTest, AtNormalFrameRatesTheShipTurnsTowardTheNewestSample) {
    // Samples 33 ms apart, frames of 1/60 s: no whole sample period fits into a frame, so the
    // target is the newest sample and a frame covers 15 x dt = a quarter of the way.
    player.applyNetworkState(1000, Vec3(), Quaternion(), true);
    player.applyNetworkState(1033, Vec3(), aboutY(90), false);
    player.update(1.0f / 60.0f);
    expectRotation(player.shownOrientation, aboutY(22.5f));
    expectRotation(player.orientation, aboutY(22.5f));
}

TEST_F(PlayerTest, LongFrameTurnsTheTargetOnByWholeStepsOfCatchUp) {
    // Samples 20 ms apart turning 10 degrees; a 50 ms frame holds 2.5 periods, so the target
    // runs 2 whole steps past the newest sample (30 degrees) and the frame covers 0.75 of it.
    player.applyNetworkState(1000, Vec3(), Quaternion(), true);
    player.applyNetworkState(1020, Vec3(), aboutY(10), false);
    player.update(0.05f);
    expectRotation(player.shownOrientation, aboutY(22.5f));
}

TEST_F(PlayerTest, PartialPeriodsAreDropped) {
    // 39 ms is 1.95 periods of 20 ms: one whole step, target 20 degrees, 0.585 of the way.
    player.applyNetworkState(1000, Vec3(), Quaternion(), true);
    player.applyNetworkState(1020, Vec3(), aboutY(10), false);
    player.update(0.039f);
    expectRotation(player.shownOrientation, aboutY(20.0f * 0.585f));
}

TEST_F(PlayerTest, OnlyOneSampleTurnsTowardItWithoutExtrapolating) {
    // After the first sample all three entries share one timestamp: no period to divide by.
    player.applyNetworkState(1000, Vec3(), aboutY(40), true);
    player.update(0.05f);
    expectRotation(player.shownOrientation, aboutY(30));
}

TEST_F(PlayerTest, EqualTimestampsTurnTowardTheNewestSample) {
    player.applyNetworkState(1000, Vec3(), aboutY(10), true);
    player.applyNetworkState(1000, Vec3(), aboutY(40), false);
    player.shownOrientation = Quaternion();
    player.update(0.05f);
    expectRotation(player.shownOrientation, aboutY(30));
}

// ---- position ----

TEST_F(PlayerTest, IsDrawnWhereThePreviousUpdatePredictedIt) {
    player.applyNetworkState(1000, Vec3(0, 0, 0), Quaternion(), true);
    player.applyNetworkState(1100, Vec3(5, 0, 0), Quaternion(), false);

    player.update(0.1f);
    EXPECT_EQ(player.position.x, 0.0f);  // the shown position before this frame's step
    const Vec3 predicted = player.shownPosition;
    EXPECT_GT(predicted.x, 0.0f);

    player.update(0.1f);
    EXPECT_EQ(player.position.x, predicted.x);
    EXPECT_EQ(player.position.y, predicted.y);
    EXPECT_EQ(player.position.z, predicted.z);
}

// ---- player data ----

TEST_F(PlayerTest, PlayerDataWithOnlyHealthChangesOnlyHealth) {
    player.name = "Ann";
    player.score = 3;
    Morvik::PlayerData data;
    data.set_health(12.5f);
    player.applyPlayerData(data);
    EXPECT_EQ(player.health, 12.5f);
    EXPECT_EQ(player.name, "Ann");
    EXPECT_EQ(player.score, 3);
    EXPECT_TRUE(player.blueTeam);
}

TEST_F(PlayerTest, PlayerDataCopiesEveryFieldItCarries) {
    Morvik::PlayerData data;
    data.set_health(55.0f);
    data.set_blueteam(false);
    data.set_name("Bo");
    data.set_score(-2);
    data.set_redteamscore(9);  // team scores belong to the game state, not to the ship
    player.applyPlayerData(data);
    EXPECT_EQ(player.health, 55.0f);
    EXPECT_FALSE(player.blueTeam);
    EXPECT_EQ(player.name, "Bo");
    EXPECT_EQ(player.score, -2);
}

}  // namespace
