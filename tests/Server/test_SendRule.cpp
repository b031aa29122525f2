#include "Server/Distance.h"
#include "Server/TestCube.h"
#include "Server/World.h"
#include "ServerTestSupport.h"

using namespace servertest;

namespace {

void clearQueues() {
    OutgoingQueues::getInstance()->resetForTesting();
}

// One networked object whose clients' prediction already sits on its position.
class Tracked : public CollisionObject {
public:
    Tracked() : CollisionObject(1, 70) {
        sendUpdate();
        clearQueues();
    }
};

}  // namespace

class SendRuleTest : public ServerWorldTest {};

TEST_F(SendRuleTest, IdsCarryTheServerIdInTheHighWord) {
    EXPECT_EQ(Transform().id, 0u);
    EXPECT_EQ(Transform(1, 2).id, (std::uint64_t{1} << 32) | 2);
    EXPECT_EQ(Transform(-1, 0xFFFFFFFFu).id, ~std::uint64_t{0});
    EXPECT_EQ(CollisionObject(7, 9).id, (std::uint64_t{7} << 32) | 9);
    EXPECT_EQ(CollisionObject().id, 0u);
}

TEST_F(SendRuleTest, ANewObjectIsNetworkedAndWaitsForATeleport) {
    CollisionObject object(1, 5);
    EXPECT_TRUE(object.networked);
    EXPECT_TRUE(object.teleport);
    EXPECT_EQ(object.timeSinceSend, 0.0f);
    EXPECT_EQ(object.objectType, -1);
    EXPECT_EQ(object.scale.x, 1.0f);
    EXPECT_EQ(object.parent, nullptr);
    EXPECT_EQ(object.shapeKind, kNoShape);
    EXPECT_EQ(object.sphere, nullptr);
    EXPECT_EQ(object.segment, nullptr);
}

TEST_F(SendRuleTest, DistanceIsEuclidean) {
    EXPECT_EQ(distance(Vec3(1, 2, 3), Vec3(4, 6, 3)), 5.0f);
    EXPECT_EQ(distance(Vec3(-1, -1, -1), Vec3(-1, -1, -1)), 0.0f);
    EXPECT_EQ(distance(Vec3(0, 0, 0), Vec3(0, -2, 0)), 2.0f);
}

TEST_F(SendRuleTest, ExactlyOneUnitOffThePredictionDoesNotSend) {
    Tracked object;
    object.position.x += 1.0f;
    object.update(0.25f);
    EXPECT_TRUE(udpUpdates().empty());

    object.position.x = 1.0001f;
    object.update(0.25f);
    const auto updates = udpUpdates();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].id(), object.id);
    EXPECT_FLOAT_EQ(updates[0].position().x(), 1.0001f);
    EXPECT_EQ(object.timeSinceSend, 0.0f);
}

TEST_F(SendRuleTest, ExactlyOneSecondDoesNotSend) {
    Tracked object;
    for (int i = 0; i < 4; ++i) {
        object.update(0.25f);  // 0.25 steps add up to exactly 1.0
    }
    EXPECT_EQ(object.timeSinceSend, 1.0f);
    EXPECT_TRUE(udpUpdates().empty());
    object.update(0.25f);
    EXPECT_EQ(udpUpdates().size(), 1u);
    EXPECT_EQ(object.timeSinceSend, 0.0f);
}

TEST_F(SendRuleTest, TheFirstSendIsATeleportSampleAndLaterOnesAreOrdinary) {
    CollisionObject object(1, 71);
    object.position = Vec3(5, 0, 0);
    object.orientation = Quaternion(0, 1, 0, 0);
    fakeNowMs = 5000;
    object.sendUpdate();
    EXPECT_FALSE(object.teleport);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(object.sampleTimes[i], 5000u);
        EXPECT_EQ(object.samplePositions[i].x, 5.0f);
        EXPECT_EQ(object.sampleOrientations[i].x, 1.0f);
    }
    EXPECT_EQ(object.shownPosition.x, 5.0f);

    fakeNowMs = 5100;
    object.position = Vec3(10, 0, 0);
    object.sendUpdate();
    EXPECT_EQ(object.sampleTimes[0], 5100u);
    EXPECT_EQ(object.sampleTimes[1], 5000u);
    EXPECT_EQ(object.samplePositions[1].x, 5.0f);
    EXPECT_FLOAT_EQ(object.sampleVelocity.x, 50.0f);  // 5 units in 100 ms

    const auto updates = udpUpdates();
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(updates[0].timestamp(), 5000u);
    EXPECT_EQ(updates[1].timestamp(), 5100u);
    EXPECT_EQ(updates[1].id(), object.id);
    EXPECT_FLOAT_EQ(updates[1].position().x(), 10.0f);
    EXPECT_FLOAT_EQ(updates[1].orientation().x(), 1.0f);
    EXPECT_FLOAT_EQ(updates[1].orientation().w(), 0.0f);
}

TEST_F(SendRuleTest, AStillPlayerSendsAboutOnceASecond) {
    Player* player = joinPlayer();
    const float dt = 1.0f / 30.0f;
    std::vector<int> sendTicks;
    for (int tick = 0; tick < 300; ++tick) {
        fakeNowMs += 33;
        player->update(dt);
        const std::size_t sent = udpUpdates().size();
        ASSERT_LE(sent, 1u);
        if (sent == 1) {
            sendTicks.push_back(tick);
            EXPECT_EQ(player->timeSinceSend, 0.0f);
        }
        clearQueues();
    }
    // The first tick sends at once: the clients' prediction still stands at the origin.
    ASSERT_FALSE(sendTicks.empty());
    EXPECT_EQ(sendTicks.front(), 0);
    ASSERT_GE(sendTicks.size(), 9u);
    for (std::size_t i = 1; i < sendTicks.size(); ++i) {
        const int gap = sendTicks[i] - sendTicks[i - 1];
        EXPECT_TRUE(gap == 30 || gap == 31) << "gap " << gap;
    }
}

TEST_F(SendRuleTest, AShipAtSteadySpeedIsSentRarelyOnceThePredictionHasItsSpeed) {
    Player* player = joinPlayer();
    player->velocity = Vec3(0, 0, 20);
    const float dt = 1.0f / 30.0f;
    int sends = 0;
    // Five seconds on a clock that agrees with the steps.
    for (int tick = 0; tick < 150; ++tick) {
        fakeNowMs = 1000 + static_cast<std::uint64_t>((tick + 1) * 1000 / 30);
        player->update(dt);
        sends += static_cast<int>(udpUpdates().size());
        clearQueues();
    }
    // Without the server's copy of the prediction the ship would drift past 1 unit every
    // few ticks; with it only the first samples and the once-a-second refresh go out.
    EXPECT_GE(sends, 5);
    EXPECT_LE(sends, 12);
}

TEST_F(SendRuleTest, ProjectilesAndCarriersNeverSend) {
    TeamCarriers carriers{};
    setupWorld(carriers);
    Player owner(1, 90, false);
    addShot(&owner, Vec3(0, 100, 0), Vec3(0, 0, 100));
    for (int tick = 0; tick < 90; ++tick) {
        fakeNowMs += 33;
        SceneGraph::getInstance()->updateAll(1.0f / 30.0f);
    }
    EXPECT_TRUE(OutgoingQueues::getInstance()->udpBroadcast.empty());
}

TEST_F(SendRuleTest, EveryUpdateIsCountedOncePerPlayer) {
    joinPlayer();
    joinPlayer();
    joinPlayer();
    CollisionObject object(1, 80);
    object.sendUpdate();
    EXPECT_EQ(Statistics::getInstance()->getMessages(udp_sent), 3u);
}
