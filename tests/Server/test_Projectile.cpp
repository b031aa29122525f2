#include "Server/Projectile.h"
#include "Server/TestCube.h"
#include "ServerTestSupport.h"

using namespace servertest;

class ProjectileTest : public ServerWorldTest {};

TEST_F(ProjectileTest, ANewShotIsASmallUnnetworkedSphereWithTwentySeconds) {
    Projectile shot(1, 9);
    EXPECT_EQ(shot.objectType, 1);
    EXPECT_EQ(shot.id, (std::uint64_t{1} << 32) | 9);
    EXPECT_FALSE(shot.networked);
    EXPECT_EQ(shot.lifetime, 20.0f);
    ASSERT_EQ(shot.shapeKind, kSphereShape);
    ASSERT_NE(shot.sphere, nullptr);
    EXPECT_EQ(shot.sphere->radius, 1.0f);
    EXPECT_EQ(shot.sphere->centre, &shot.position);
}

TEST_F(ProjectileTest, FliesStraightAndExpiresSilentlyAfterItsLifetime) {
    Player* owner = joinPlayer();
    Projectile* shot = addShot(owner, Vec3(0, 0, 0), Vec3(2, 0, -4));
    const std::uint64_t id = shot->id;
    SceneGraph* world = SceneGraph::getInstance();

    // 0.5 s steps are exact: after 40 ticks the lifetime is exactly 0 and the shot still
    // moves; the 41st takes it below 0 and removes it without moving it.
    for (int tick = 1; tick <= 40; ++tick) {
        shot->update(0.5f);
        ASSERT_FALSE(isPending(shot)) << "tick " << tick;
    }
    EXPECT_EQ(shot->lifetime, 0.0f);
    EXPECT_EQ(shot->position.x, 40.0f);
    EXPECT_EQ(shot->position.z, -80.0f);

    shot->update(0.5f);
    EXPECT_TRUE(isPending(shot));
    EXPECT_EQ(shot->position.x, 40.0f);
    world->flushRemovals();
    EXPECT_EQ(world->find(id), nullptr);

    // No ObjectDestroy and never an ObjectUpdate: the clients expire their own copies.
    EXPECT_TRUE(OutgoingQueues::getInstance()->udpBroadcast.empty());
    EXPECT_TRUE(OutgoingQueues::getInstance()->tcpBroadcast.empty());
}

TEST_F(ProjectileTest, HittingAnotherPlayerRemovesTheShotWithOneDestroyOverUdp) {
    Player* red = joinPlayer();
    Player* blue = joinPlayer();
    Projectile* shot = addShot(red, blue->position, Vec3(0, 0, 0));
    const std::uint64_t udpMessages = Statistics::getInstance()->getMessages(udp_sent);
    shot->onCollision(blue);
    EXPECT_TRUE(isPending(shot));
    const auto destroys = udpDestroys();
    ASSERT_EQ(destroys.size(), 1u);
    EXPECT_EQ(destroys[0].id(), shot->id);
    EXPECT_TRUE(OutgoingQueues::getInstance()->tcpBroadcast.empty());
    EXPECT_EQ(Statistics::getInstance()->getMessages(udp_sent), udpMessages + 2);
}

TEST_F(ProjectileTest, ATeamMateStopsTheShotToo) {
    Player* red = joinPlayer();
    joinPlayer();
    Player* otherRed = joinPlayer();
    Projectile* shot = addShot(red, otherRed->position, Vec3(0, 0, 0));
    shot->onCollision(otherRed);
    EXPECT_TRUE(isPending(shot));
    EXPECT_EQ(udpDestroys().size(), 1u);
}

TEST_F(ProjectileTest, PassesItsOwnCarrierAndStopsAtTheOther) {
    joinPlayer();
    Player* blue = joinPlayer();
    TestCube blueCarrier(true);
    TestCube redCarrier(false);
    Projectile* shot = addShot(blue, Vec3(0, 0, 0), Vec3(0, 0, 0));

    shot->onCollision(&blueCarrier);
    EXPECT_FALSE(isPending(shot));
    EXPECT_TRUE(udpDestroys().empty());

    shot->onCollision(&redCarrier);
    EXPECT_TRUE(isPending(shot));
    const auto destroys = udpDestroys();
    ASSERT_EQ(destroys.size(), 1u);
    EXPECT_EQ(destroys[0].id(), shot->id);
}

TEST_F(ProjectileTest, IgnoresItsOwner) {
    Player* owner = joinPlayer();
    Projectile* shot = addShot(owner, owner->position, Vec3(0, 0, 0));
    shot->onCollision(owner);
    EXPECT_FALSE(isPending(shot));
    EXPECT_TRUE(udpDestroys().empty());
}
