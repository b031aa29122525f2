#include "Server/Collision.h"

#include <limits>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "Common/ObjectTypes.h"
#include "Server/TestCube.h"
#include "Server/World.h"
#include "ServerTestSupport.h"

using namespace servertest;

namespace {

SphereShape sphereAt(Vec3& centre, float radius) {
    return SphereShape{&centre, radius};
}

}  // namespace

class CollisionTest : public ServerWorldTest {};

// ---- contact tests ----

TEST_F(CollisionTest, SpheresTouchUpToTheSumOfTheirRadii) {
    Vec3 a(0, 0, 0);
    Vec3 b(3, 4, 0);  // 5 apart
    EXPECT_TRUE(sphereSphere(sphereAt(a, 4), sphereAt(b, 1)));
    EXPECT_TRUE(sphereSphere(sphereAt(b, 1), sphereAt(a, 4)));
    Vec3 c(3, 4.01f, 0);
    EXPECT_FALSE(sphereSphere(sphereAt(a, 4), sphereAt(c, 1)));
}

TEST_F(CollisionTest, AShotTouchesAShipWithinFiveAndACarrierWithinFortyOne) {
    Player ship(1, 40, false);  // at (500, 0, 0)
    TestCube carrier(false);    // at (0, 0, 0)
    Projectile shot(1, 41);
    shot.position = Vec3(505, 0, 0);
    EXPECT_TRUE(intersects(&ship, &shot));
    shot.position = Vec3(500, 0, 5.01f);
    EXPECT_FALSE(intersects(&ship, &shot));
    shot.position = Vec3(0, 41, 0);
    EXPECT_TRUE(intersects(&shot, &carrier));
    shot.position = Vec3(0, 41.01f, 0);
    EXPECT_FALSE(intersects(&shot, &carrier));
}

TEST_F(CollisionTest, SphereSegmentMeasuresToTheClosestPointOfTheSegment) {
    const Vec3 start(0, 0, 0);
    const Vec3 direction(10, 0, 0);
    // Beside the middle.
    EXPECT_TRUE(sphereSegment(Vec3(5, 3, 0), 3.0f, start, direction));
    EXPECT_FALSE(sphereSegment(Vec3(5, 3, 0), 2.9f, start, direction));
    // Past the far end the end point is closest; a line test would report contact here.
    EXPECT_TRUE(sphereSegment(Vec3(13, 0, 0), 3.0f, start, direction));
    EXPECT_FALSE(sphereSegment(Vec3(13.5f, 0, 0), 3.0f, start, direction));
    EXPECT_FALSE(sphereSegment(Vec3(12, 3, 0), 3.0f, start, direction));
    // Behind the start.
    EXPECT_FALSE(sphereSegment(Vec3(-2, 0, 0), 1.9f, start, direction));
    EXPECT_TRUE(sphereSegment(Vec3(-2, 0, 0), 2.0f, start, direction));
    // A segment of length zero is a point.
    EXPECT_TRUE(sphereSegment(Vec3(0, 1, 0), 1.0f, start, Vec3(0, 0, 0)));
    EXPECT_FALSE(sphereSegment(Vec3(0, 1.5f, 0), 1.0f, start, Vec3(0, 0, 0)));
}

TEST_F(CollisionTest, ASegmentShapeIsTurnedWithItsObjectInEitherOrder) {
    CollisionObject beam(1, 60);
    beam.shapeKind = kSegmentShape;
    beam.segment = new SegmentShape{&beam.position, &beam.localDirection};
    beam.localDirection = Vec3(0, 0, 10);
    beam.orientation = fromAxisAngle(1.5707964f, Vec3(0, 1, 0));  // +z turned to +x

    Projectile shot(1, 61);
    shot.position = Vec3(6, 0.5f, 0);
    EXPECT_TRUE(intersects(&shot, &beam));
    EXPECT_TRUE(intersects(&beam, &shot));
    shot.position = Vec3(0, 0, 6);  // on the unturned segment only
    EXPECT_FALSE(intersects(&shot, &beam));
    EXPECT_FALSE(intersects(&beam, &shot));

    CollisionObject otherBeam(1, 62);
    otherBeam.shapeKind = kSegmentShape;
    otherBeam.segment = new SegmentShape{&otherBeam.position, &otherBeam.localDirection};
    otherBeam.localDirection = Vec3(0, 0, 10);
    EXPECT_FALSE(intersects(&beam, &otherBeam));  // segment pairs never touch

    CollisionObject shapeless(1, 63);
    shot.position = Vec3(0, 0, 0);
    EXPECT_FALSE(intersects(&shot, &shapeless));
    EXPECT_FALSE(intersects(&shapeless, &shot));
}

// ---- the collision pass ----

TEST_F(CollisionTest, AMissingListMakesThePassDoNothing) {
    Player* red = joinPlayer();
    Player* blue = joinPlayer();
    addShot(blue, red->position, Vec3(0, 0, 0));
    SceneGraph* world = SceneGraph::getInstance();
    collideGroups(world->getObjectsOfType(kPlayerType), nullptr);
    collideGroups(nullptr, world->getObjectsOfType(kProjectileType));
    collideGroups(world->getObjectsOfType(kCarrierType),
                  world->getObjectsOfType(kProjectileType));  // no carriers
    EXPECT_EQ(red->health, 100.0f);
    EXPECT_TRUE(world->pendingRemovals.empty());
}

TEST_F(CollisionTest, AKillRespawnsTheShipInTheSamePassAndRemovesTheShot) {
    Player* red = joinPlayer();
    Player* blue = joinPlayer();
    blue->health = 15.16f;
    blue->position = Vec3(-300, 20, 0);
    Projectile* shot = addShot(red, Vec3(-302, 21, 1), Vec3(0, 0, 0));
    SceneGraph* world = SceneGraph::getInstance();
    collideGroups(world->getObjectsOfType(kPlayerType), world->getObjectsOfType(kProjectileType));

    EXPECT_EQ(blue->health, 100.0f);
    EXPECT_EQ(blue->position.x, -500.0f);
    EXPECT_EQ(red->score, 1);
    EXPECT_EQ(GameState::getInstance()->redTeamScore, 1);
    EXPECT_TRUE(isPending(shot));
    const auto destroys = udpDestroys();
    ASSERT_EQ(destroys.size(), 1u);
    EXPECT_EQ(destroys[0].id(), shot->id);
}

TEST_F(CollisionTest, AShotTouchingTwoShipsDamagesBothAndIsDestroyedOncePerHit) {
    Player* shooter = joinPlayer();
    Player* first = joinPlayer();
    Player* second = joinPlayer();
    shooter->position = Vec3(0, 200, 0);
    first->position = Vec3(100, 0, 0);
    second->position = Vec3(106, 0, 0);
    Projectile* shot = addShot(shooter, Vec3(103, 0, 0), Vec3(0, 0, 0));
    SceneGraph* world = SceneGraph::getInstance();
    collideGroups(world->getObjectsOfType(kPlayerType), world->getObjectsOfType(kProjectileType));

    EXPECT_NEAR(first->health, 57.58f, 1e-4f);
    EXPECT_NEAR(second->health, 57.58f, 1e-4f);
    EXPECT_EQ(shooter->health, 100.0f);
    const auto destroys = udpDestroys();
    ASSERT_EQ(destroys.size(), 2u);
    EXPECT_EQ(destroys[0].id(), shot->id);
    EXPECT_EQ(destroys[1].id(), shot->id);
    ASSERT_EQ(world->pendingRemovals.size(), 1u);
    world->flushRemovals();
    EXPECT_EQ(world->getObjectsOfType(kProjectileType)->size(), 0u);
}

TEST_F(CollisionTest, LaterPairsOfAPassSeeARespawnedShipWhereItNowIs) {
    Player* red = joinPlayer();
    Player* blue = joinPlayer();
    red->position = Vec3(0, 200, 0);
    blue->position = Vec3(-100, 0, 0);
    blue->health = 10.0f;
    Projectile* killer = addShot(red, Vec3(-100, 0, 0), Vec3(0, 0, 0));
    Projectile* late = addShot(red, Vec3(-100, 2, 0), Vec3(0, 0, 0));
    SceneGraph* world = SceneGraph::getInstance();
    collideGroups(world->getObjectsOfType(kPlayerType), world->getObjectsOfType(kProjectileType));

    // The first shot killed and moved the ship to -500; the second no longer touches it.
    EXPECT_EQ(blue->health, 100.0f);
    EXPECT_TRUE(isPending(killer));
    EXPECT_FALSE(isPending(late));
    EXPECT_EQ(udpDestroys().size(), 1u);
}

TEST_F(CollisionTest, ABlueShotPassesTheBlueCarrierAndStopsAtTheRedOne) {
    TeamCarriers carriers{};
    setupWorld(carriers);  // point spawns: red at +500, blue at -500
    joinPlayer();
    Player* blue = joinPlayer();
    blue->position = Vec3(0, 300, 0);
    // Fired from inside its own carrier toward the other.
    Projectile* shot = addShot(blue, Vec3(-520, 0, 0), Vec3(100, 0, 0));
    const std::uint64_t id = shot->id;
    SceneGraph* world = SceneGraph::getInstance();

    bool insideOwnCarrier = false;
    bool stopped = false;
    for (int tick = 0; tick < 150 && !stopped; ++tick) {
        SCOPED_TRACE(tick);
        const float x = shot->position.x;
        insideOwnCarrier = insideOwnCarrier || intersects(shot, carriers.blue);
        collideGroups(world->getObjectsOfType(kPlayerType),
                      world->getObjectsOfType(kProjectileType));
        collideGroups(world->getObjectsOfType(kCarrierType),
                      world->getObjectsOfType(kProjectileType));
        // The red carrier (radius 40) stops a shot (radius 1) whose centre is within 41.
        const bool touchesRed = x >= 500.0f - 41.0f;
        ASSERT_EQ(isPending(shot), touchesRed) << "x " << x;
        stopped = touchesRed;
        if (!stopped) {
            ASSERT_TRUE(udpDestroys().empty());
        }
        world->updateAll(0.1f);
        world->flushRemovals();
    }
    EXPECT_TRUE(insideOwnCarrier);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(world->find(id), nullptr);
    const auto destroys = udpDestroys();
    ASSERT_EQ(destroys.size(), 1u);
    EXPECT_EQ(destroys[0].id(), id);
    EXPECT_EQ(GameState::getInstance()->redTeamScore, 0);
    EXPECT_EQ(GameState::getInstance()->blueTeamScore, 0);
    EXPECT_EQ(blue->score, 0);
}

// ---- the pass against the plain all-pairs rule ----

namespace {

// Logs every contact it is told of; on its first contact it jumps, as a killed ship respawns.
class Recorder : public CollisionObject {
public:
    Recorder(std::uint32_t counter, std::vector<std::pair<std::uint64_t, std::uint64_t>>& log)
        : CollisionObject(1, counter), log_(log) {}
    void onCollision(CollisionObject* other) override {
        log_.emplace_back(id, other->id);
        // Far enough to change grid cells.
        if (!jumped) {
            jumped = true;
            position = position + Vec3(30.0f, 0.0f, 0.0f);
        }
    }
    bool jumped = false;

private:
    std::vector<std::pair<std::uint64_t, std::uint64_t>>& log_;
};

// The rule as stated: every pair in list order, live positions, a then b.
void allPairs(SceneGraph::ObjectList& a, SceneGraph::ObjectList& b) {
    for (Transform* x : a) {
        for (Transform* y : b) {
            auto* first = dynamic_cast<CollisionObject*>(x);
            auto* second = dynamic_cast<CollisionObject*>(y);
            if (first != nullptr && second != nullptr && intersects(first, second)) {
                first->onCollision(second);
                second->onCollision(first);
            }
        }
    }
}

// Two identical worlds crowded into a box a few grid cells wide: mostly spheres, some
// shapeless, some segments, a few far away or not finite, one as large as a carrier.
struct Crowd {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> log;
    std::vector<std::unique_ptr<Recorder>> owned;
    SceneGraph::ObjectList ships;
    SceneGraph::ObjectList shots;

    Crowd(unsigned seed, int shipCount) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> coordinate(-40.0f, 40.0f);
        std::uniform_int_distribution<int> kind(0, 19);
        std::uint32_t counter = 2;
        for (int list = 0; list < 2; ++list) {
            for (int n = 0; n < (list == 0 ? shipCount : 150); ++n) {
                auto object = std::make_unique<Recorder>(counter++, log);
                object->position = Vec3(coordinate(rng), coordinate(rng), coordinate(rng));
                float radius = list == 0 ? 4.0f : 1.0f;
                switch (kind(rng)) {
                    case 0:  // no shape: never touches anything
                        break;
                    case 1:
                        object->shapeKind = kSegmentShape;
                        object->localDirection = Vec3(0, 0, 6);
                        object->segment =
                            new SegmentShape{&object->position, &object->localDirection};
                        break;
                    case 2:  // far out, where floats are coarse; two of them may still meet
                        object->position = Vec3(3.0e7f, 0.0f, static_cast<float>(n % 2));
                        break;
                    case 3:
                        object->position.y = std::numeric_limits<float>::quiet_NaN();
                        break;
                    case 4:
                        radius = 40.0f;
                        break;
                    default:
                        break;
                }
                if (object->shapeKind == kNoShape && kind(rng) != 0) {
                    object->shapeKind = kSphereShape;
                    object->sphere = new SphereShape{&object->position, radius};
                }
                (list == 0 ? ships : shots).push_back(object.get());
                owned.push_back(std::move(object));
            }
        }
    }
};

}  // namespace

TEST_F(CollisionTest, PassMatchesTheAllPairsRuleContactForContact) {
    // Many ships (filed in the grid) and a few (offered everything, like the carriers).
    for (unsigned seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        const int ships = seed % 2 == 0 ? 150 : 3;
        Crowd fast(seed, ships);
        Crowd plain(seed, ships);
        collideGroups(&fast.ships, &fast.shots);
        allPairs(plain.ships, plain.shots);
        ASSERT_FALSE(plain.log.empty());
        EXPECT_EQ(fast.log, plain.log);
        for (std::size_t i = 0; i < fast.owned.size(); ++i) {
            EXPECT_EQ(fast.owned[i]->position.x, plain.owned[i]->position.x);
        }
    }
}
