#include <cmath>

#include "Common/Controls.h"
#include "Common/ObjectTypes.h"
#include "Server/Player.h"
#include "Server/TestCube.h"
#include "ServerTestSupport.h"

using namespace servertest;

namespace {

const float kHalfPi = 1.5707964f;

// Turned a quarter about +y: the nose (+z) points along +x.
Quaternion noseAlongX() {
    return fromAxisAngle(kHalfPi, Vec3(0, 1, 0));
}

void expectVec(const Vec3& actual, const Vec3& expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

std::size_t shotCount() {
    SceneGraph::ObjectList* shots = SceneGraph::getInstance()->getObjectsOfType(kProjectileType);
    return shots != nullptr ? shots->size() : 0;
}

}  // namespace

class PlayerTest : public ServerWorldTest {};

// ---- thrust and movement ----

TEST_F(PlayerTest, EachControlBitThrustsOneUnitAlongItsAxis) {
    const struct {
        std::uint32_t bit;
        Vec3 thrust;
    } cases[] = {
        {controls::kForward, Vec3(0, 0, 1)}, {controls::kBack, Vec3(0, 0, -1)},
        {controls::kLeft, Vec3(1, 0, 0)},    {controls::kRight, Vec3(-1, 0, 0)},
        {controls::kUp, Vec3(0, 1, 0)},      {controls::kDown, Vec3(0, -1, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bit);
        Player player(1, 50, false);
        const Vec3 start = player.position;
        player.inputMask = c.bit;
        // A whole unit whatever the time step; the step only scales the movement.
        player.applyInput(0.5f);
        expectVec(player.velocity, c.thrust, 0.0f);
        expectVec(player.position, start + c.thrust * 0.5f, 0.0f);
    }
}

TEST_F(PlayerTest, BothBitsOfAnAxisCancel) {
    for (std::uint32_t mask :
         {controls::kForward | controls::kBack, controls::kRight | controls::kLeft,
          controls::kUp | controls::kDown, controls::kAllThrust}) {
        SCOPED_TRACE(mask);
        Player player(1, 50, false);
        player.inputMask = mask;
        player.applyInput(0.1f);
        expectVec(player.velocity, Vec3(0, 0, 0), 0.0f);
    }
    Player player(1, 51, false);
    player.inputMask =
        controls::kForward | controls::kBack | controls::kLeft;  // z cancels, x stays
    player.applyInput(0.1f);
    expectVec(player.velocity, Vec3(1, 0, 0), 0.0f);
}

TEST_F(PlayerTest, ThrustIsInTheShipsOwnFrame) {
    Player player(1, 50, false);
    player.orientation = noseAlongX();
    player.inputMask = controls::kForward;
    player.applyInput(0.1f);
    expectVec(player.velocity, Vec3(1, 0, 0));
}

TEST_F(PlayerTest, ControlsActInOneTickThenTheShipCoasts) {
    Player player(1, 50, false);
    const Vec3 start = player.position;
    player.inputMask = controls::kForward;
    player.applyInput(0.25f);
    EXPECT_EQ(player.inputMask, 0u);
    player.applyInput(0.25f);
    expectVec(player.velocity, Vec3(0, 0, 1), 0.0f);
    expectVec(player.position, start + Vec3(0, 0, 0.5f), 0.0f);
}

TEST_F(PlayerTest, ASpeedOfExactlyFiftyIsNotClamped) {
    Player player(1, 50, false);
    player.velocity = Vec3(30, 0, 39);
    player.inputMask = controls::kForward;  // (30, 0, 40): length exactly 50
    player.applyInput(0.1f);
    expectVec(player.velocity, Vec3(30, 0, 40), 0.0f);
}

TEST_F(PlayerTest, AboveFiftyTheSpeedIsScaledBackAlongTheSameDirection) {
    Player straight(1, 50, false);
    const Vec3 start = straight.position;
    straight.velocity = Vec3(0, 0, 49.01f);
    straight.inputMask = controls::kForward;  // 50.01
    straight.applyInput(0.5f);
    expectVec(straight.velocity, Vec3(0, 0, 50), 0.0f);
    // The ship moves with the clamped velocity.
    expectVec(straight.position, start + Vec3(0, 0, 25), 0.0f);

    Player slanted(1, 51, false);
    slanted.velocity = Vec3(30, 0, 40);
    slanted.inputMask = controls::kLeft;  // (31, 0, 40)
    slanted.applyInput(0.1f);
    EXPECT_NEAR(slanted.velocity.length(), 50.0f, 1e-4f);
    const float scale = 50.0f / std::sqrt(31.0f * 31.0f + 40.0f * 40.0f);
    expectVec(slanted.velocity, Vec3(31 * scale, 0, 40 * scale), 1e-4f);
}

// ---- firing ----

TEST_F(PlayerTest, FiringNeedsMoreThanHalfASecondSinceTheLastShot) {
    Player* player = joinPlayer();
    std::size_t shotsAfter[6];
    for (int tick = 0; tick < 6; ++tick) {
        player->inputMask = controls::kFire;
        player->applyInput(0.25f);
        shotsAfter[tick] = shotCount();
        EXPECT_EQ(player->inputMask, 0u);
    }
    // 0.25, 0.5 (not more than 0.5), 0.75 fires; the timer restarts: 0.25, 0.5, 0.75 fires.
    EXPECT_EQ(shotsAfter[0], 0u);
    EXPECT_EQ(shotsAfter[1], 0u);
    EXPECT_EQ(shotsAfter[2], 1u);
    EXPECT_EQ(shotsAfter[3], 1u);
    EXPECT_EQ(shotsAfter[4], 1u);
    EXPECT_EQ(shotsAfter[5], 2u);
    EXPECT_FLOAT_EQ(player->fireTimer, 0.0f);
}

TEST_F(PlayerTest, AFireBitThatComesTooEarlyIsDropped) {
    Player* player = joinPlayer();
    player->inputMask = controls::kFire;
    player->applyInput(0.25f);
    player->applyInput(0.25f);
    player->applyInput(0.25f);  // the timer is past 0.5 now, but the fire bit is gone
    EXPECT_EQ(shotCount(), 0u);
    EXPECT_FLOAT_EQ(player->fireTimer, 0.75f);
}

TEST_F(PlayerTest, AShotFliesAlongTheNoseWithTheShipsVelocityAdded) {
    joinPlayer();
    Player* player = joinPlayer();  // blue
    ASSERT_TRUE(player->blueTeam);
    player->orientation = noseAlongX();
    player->velocity = Vec3(0, 0, 10);
    player->fireTimer = 0.6f;
    player->inputMask = controls::kFire;
    const std::uint64_t tcpMessages = Statistics::getInstance()->getMessages(tcp_sent);
    player->applyInput(0.1f);

    SceneGraph::ObjectList* shots = SceneGraph::getInstance()->getObjectsOfType(kProjectileType);
    ASSERT_NE(shots, nullptr);
    ASSERT_EQ(shots->size(), 1u);
    auto* shot = dynamic_cast<Projectile*>(shots->front());
    ASSERT_NE(shot, nullptr);
    expectVec(shot->velocity, Vec3(100, 0, 10), 1e-4f);
    expectVec(shot->position, player->position, 0.0f);  // where the ship is after this tick
    expectVec(shot->position, Vec3(-500, 0, 1), 1e-5f);
    EXPECT_EQ(shot->orientation.w, player->orientation.w);
    EXPECT_EQ(shot->orientation.y, player->orientation.y);
    EXPECT_EQ(shot->ownerId, player->id);
    EXPECT_TRUE(shot->blueTeam);
    // Players and shots draw from one counter: two players (2, 3), then the shot (4).
    EXPECT_EQ(shot->id, (std::uint64_t{1} << 32) | 4);
    EXPECT_FLOAT_EQ(player->fireTimer, 0.0f);

    // Announced to everybody over TCP.
    const auto infos = messagesIn<Morvik::ObjectInfo>(OutgoingQueues::getInstance()->tcpBroadcast,
                                                      MessageType::ObjectInfo);
    ASSERT_EQ(infos.size(), 1u);
    const Morvik::ObjectInfo& info = infos[0];
    EXPECT_EQ(info.id(), shot->id);
    EXPECT_EQ(info.objecttype(), std::uint32_t{kProjectileType});
    EXPECT_EQ(info.timestamp(), static_cast<std::uint32_t>(fakeNowMs));
    EXPECT_FLOAT_EQ(info.position().z(), shot->position.z);
    EXPECT_FLOAT_EQ(info.orientation().w(), shot->orientation.w);
    EXPECT_FLOAT_EQ(info.orientation().y(), shot->orientation.y);
    ASSERT_TRUE(info.has_projectiledata());
    EXPECT_FLOAT_EQ(info.projectiledata().velocity().x(), shot->velocity.x);
    EXPECT_FLOAT_EQ(info.projectiledata().velocity().z(), shot->velocity.z);
    EXPECT_TRUE(info.projectiledata().blueteam());
    EXPECT_FALSE(info.has_playerdata());
    EXPECT_EQ(Statistics::getInstance()->getMessages(tcp_sent), tcpMessages + 2);
}

// ---- status and respawn ----

TEST_F(PlayerTest, StatusGoesToTheOwnClientOnly) {
    Player* player = joinPlayer();
    joinPlayer();
    player->score = 4;
    player->health = 57.5f;
    GameState::getInstance()->redTeamScore = 7;
    GameState::getInstance()->blueTeamScore = 2;
    player->sendObjectInfo();

    const auto infos = ownInfos(player);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].id(), player->id);
    EXPECT_EQ(infos[0].objecttype(), std::uint32_t{kPlayerType});
    EXPECT_EQ(infos[0].timestamp(), static_cast<std::uint32_t>(fakeNowMs));
    EXPECT_FLOAT_EQ(infos[0].position().x(), player->position.x);
    EXPECT_FLOAT_EQ(infos[0].orientation().w(), 1.0f);
    const Morvik::PlayerData& data = infos[0].playerdata();
    EXPECT_FLOAT_EQ(data.health(), 57.5f);
    EXPECT_EQ(data.score(), 4);
    EXPECT_EQ(data.redteamscore(), 7);
    EXPECT_EQ(data.blueteamscore(), 2);
    EXPECT_FALSE(data.has_name());
    EXPECT_FALSE(data.has_blueteam());
    EXPECT_EQ(OutgoingQueues::getInstance()->tcpQueues.size(), 1u);
    EXPECT_TRUE(OutgoingQueues::getInstance()->tcpBroadcast.empty());
    EXPECT_EQ(Statistics::getInstance()->getMessages(tcp_sent), 1u);
}

TEST_F(PlayerTest, RespawnRestoresTheShipButKeepsScoreAndControls) {
    joinPlayer();
    Player* player = joinPlayer();  // blue: the -500 side
    player->position = Vec3(3, 4, 5);
    player->velocity = Vec3(10, 0, 0);
    player->orientation = noseAlongX();
    player->fireTimer = 0.3f;
    player->health = 12.0f;
    player->score = 3;
    player->inputMask = controls::kForward;

    player->respawn(false);
    expectVec(player->position, Vec3(-500, 0, 0), 0.0f);
    expectVec(player->velocity, Vec3(0, 0, 0), 0.0f);
    EXPECT_EQ(player->orientation.w, 1.0f);
    EXPECT_EQ(player->orientation.y, 0.0f);
    EXPECT_EQ(player->fireTimer, 0.0f);
    EXPECT_EQ(player->health, 100.0f);
    EXPECT_EQ(player->score, 3);
    EXPECT_EQ(player->inputMask, controls::kForward);
    EXPECT_TRUE(ownInfos(player).empty());

    player->respawn(true);
    EXPECT_EQ(ownInfos(player).size(), 1u);
}

// ---- hits ----

class PlayerHitTest : public ServerWorldTest {
protected:
    // A shot of shooter touching victim.
    Projectile* shotAt(Player* shooter, Player* victim) {
        return addShot(shooter, victim->position, Vec3(0, 0, 0));
    }
};

TEST_F(PlayerHitTest, TwoHitsAreSurvivedAndTheThirdKillsAndRespawnsAtOnce) {
    Player* red = joinPlayer();
    Player* blue = joinPlayer();
    Projectile* shot = shotAt(blue, red);
    red->position = Vec3(420, 30, -8);
    red->velocity = Vec3(5, 5, 5);

    red->onCollision(shot);
    EXPECT_NEAR(red->health, 57.58f, 1e-4f);
    red->onCollision(shot);
    EXPECT_NEAR(red->health, 15.16f, 1e-4f);
    EXPECT_EQ(blue->score, 0);
    red->onCollision(shot);  // 15.16 - 42.42 = -27.26: destroyed, back at once
    EXPECT_EQ(red->health, 100.0f);
    expectVec(red->position, Vec3(500, 0, 0), 0.0f);
    expectVec(red->velocity, Vec3(0, 0, 0), 0.0f);

    // Two hit reports, then on the kill the respawn's and the hit's.
    const auto infos = ownInfos(red);
    ASSERT_EQ(infos.size(), 4u);
    EXPECT_NEAR(infos[0].playerdata().health(), 57.58f, 1e-4f);
    EXPECT_NEAR(infos[1].playerdata().health(), 15.16f, 1e-4f);
    EXPECT_EQ(infos[2].playerdata().health(), 100.0f);
    EXPECT_EQ(infos[3].playerdata().health(), 100.0f);
    EXPECT_EQ(infos[3].playerdata().blueteamscore(), 1);
}

TEST_F(PlayerHitTest, KillingAnOpponentScoresForThePlayerAndItsTeam) {
    Player* red = joinPlayer();
    Player* blue = joinPlayer();
    Projectile* shot = shotAt(red, blue);
    for (int i = 0; i < 3; ++i) {
        blue->onCollision(shot);
    }
    EXPECT_EQ(red->score, 1);
    EXPECT_EQ(GameState::getInstance()->redTeamScore, 1);
    EXPECT_EQ(GameState::getInstance()->blueTeamScore, 0);
    const auto shooterInfos = ownInfos(red);
    ASSERT_EQ(shooterInfos.size(), 1u);
    EXPECT_EQ(shooterInfos[0].playerdata().score(), 1);
    EXPECT_EQ(shooterInfos[0].playerdata().redteamscore(), 1);
}

TEST_F(PlayerHitTest, KillingATeamMateCostsAPointAndNoTeamScore) {
    Player* red = joinPlayer();
    joinPlayer();
    Player* otherRed = joinPlayer();
    ASSERT_FALSE(otherRed->blueTeam);
    Projectile* shot = shotAt(otherRed, red);
    for (int i = 0; i < 3; ++i) {
        red->onCollision(shot);
    }
    EXPECT_EQ(red->health, 100.0f);
    EXPECT_EQ(otherRed->score, -1);
    EXPECT_EQ(GameState::getInstance()->redTeamScore, 0);
    EXPECT_EQ(GameState::getInstance()->blueTeamScore, 0);
    const auto shooterInfos = ownInfos(otherRed);
    ASSERT_EQ(shooterInfos.size(), 1u);
    EXPECT_EQ(shooterInfos[0].playerdata().score(), -1);
}

TEST_F(PlayerHitTest, AShooterWhoLeftScoresNothing) {
    Player* red = joinPlayer();
    Player* blue = joinPlayer();
    Projectile* shot = shotAt(blue, red);
    SceneGraph::getInstance()->remove(blue);
    SceneGraph::getInstance()->flushRemovals();
    ASSERT_EQ(SceneGraph::getInstance()->find(shot->ownerId), nullptr);

    for (int i = 0; i < 3; ++i) {
        red->onCollision(shot);
    }
    EXPECT_EQ(red->health, 100.0f);
    expectVec(red->position, Vec3(500, 0, 0), 0.0f);
    EXPECT_EQ(GameState::getInstance()->redTeamScore, 0);
    EXPECT_EQ(GameState::getInstance()->blueTeamScore, 0);
    EXPECT_EQ(OutgoingQueues::getInstance()->tcpQueues.size(), 1u);  // the victim's only
}

TEST_F(PlayerHitTest, OwnShotsNeitherHurtNorStop) {
    Player* player = joinPlayer();
    Projectile* own = shotAt(player, player);
    player->onCollision(own);
    own->onCollision(player);
    EXPECT_EQ(player->health, 100.0f);
    EXPECT_FALSE(isPending(own));
    EXPECT_TRUE(ownInfos(player).empty());
    EXPECT_TRUE(OutgoingQueues::getInstance()->udpBroadcast.empty());
}

TEST_F(PlayerHitTest, OnlyProjectilesDoDamage) {
    Player* red = joinPlayer();
    Player* blue = joinPlayer();
    TestCube carrier(true);
    red->onCollision(blue);
    red->onCollision(&carrier);
    EXPECT_EQ(red->health, 100.0f);
    EXPECT_TRUE(ownInfos(red).empty());
}
