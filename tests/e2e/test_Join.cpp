// Joining: what a newcomer receives on its TCP stream, in which order, and what the others
// learn of it.

#include <cmath>

#include "Common/ObjectTypes.h"
#include "tests/e2e/E2eSupport.h"

namespace e2e {
namespace {

using Morvik::ObjectInfo;
using Morvik::Welcome;

// Waits until the client has been told of the player with this id as everybody is, by the
// announcement with the scores; returns every TCP message it has by then.
std::vector<ReceivedMessage> tcpUntilAnnounced(const ScriptedClient::Ptr& client,
                                               std::uint64_t id) {
    const long announced = client->waitForMessage(
        [id](const ReceivedMessage& received) {
            return received.transport == Transport::Tcp && received.is(MessageType::ObjectInfo) &&
                   received.as<ObjectInfo>().id() == id &&
                   received.as<ObjectInfo>().playerdata().has_score();
        },
        0, kWait);
    EXPECT_GE(announced, 0) << "no announcement of " << id;
    return onTransport(client->messages(), Transport::Tcp);
}

Vec3 positionOf(const ObjectInfo& info) {
    return Vec3(info.position().x(), info.position().y(), info.position().z());
}

// The spawn position in the newcomer's snapshot entry for itself, which comes after the
// entries of every player that joined before it.
Vec3 ownSpawn(const ScriptedClient::Ptr& client) {
    const std::uint64_t id = client->playerId();
    const long own = client->waitForMessage(
        [id](const ReceivedMessage& received) {
            return received.transport == Transport::Tcp && received.is(MessageType::ObjectInfo) &&
                   received.as<ObjectInfo>().id() == id;
        },
        0, kWait);
    if (own < 0) {
        ADD_FAILURE() << "no ObjectInfo for the own ship";
        return Vec3();
    }
    return positionOf(client->messages()[static_cast<std::size_t>(own)].as<ObjectInfo>());
}

// A coordinate of the "plane" rule lies on the grid of 0.01 steps.
bool onCentiGrid(float value) {
    const double hundredths = static_cast<double>(value) * 100.0;
    return std::fabs(hundredths - std::round(hundredths)) < 0.01;
}

class JoinTest : public ServerTest {};

TEST_F(JoinTest, NewcomerGetsWelcomeThenSnapshotThenItsAnnouncement) {
    startServer({"--spawnType", "2"});
    auto first = joinClient();
    const auto tcp = tcpUntilAnnounced(first, first->playerId());
    ASSERT_EQ(tcp.size(), 3u);

    ASSERT_TRUE(tcp[0].is(MessageType::Welcome));
    const Welcome& welcome = tcp[0].as<Welcome>();
    EXPECT_EQ(welcome.qport(), 2u);
    EXPECT_EQ(welcome.id(), objectId(1, 2));
    EXPECT_FALSE(welcome.playerdata().blueteam());
    EXPECT_FLOAT_EQ(welcome.playerdata().health(), 100.0f);
    EXPECT_EQ(welcome.playerdata().name(), "Player");

    // The snapshot entry names the ship without its score...
    ASSERT_TRUE(tcp[1].is(MessageType::ObjectInfo));
    const ObjectInfo& snapshot = tcp[1].as<ObjectInfo>();
    EXPECT_EQ(snapshot.id(), welcome.id());
    EXPECT_EQ(snapshot.objecttype(), std::uint32_t{kPlayerType});
    EXPECT_FALSE(snapshot.playerdata().has_score());
    EXPECT_EQ(snapshot.playerdata().name(), "Player");
    EXPECT_FLOAT_EQ(snapshot.orientation().w(), 1.0f);

    // ...the announcement, which everybody gets, carries the scores.
    ASSERT_TRUE(tcp[2].is(MessageType::ObjectInfo));
    const ObjectInfo& announcement = tcp[2].as<ObjectInfo>();
    EXPECT_EQ(announcement.id(), welcome.id());
    ASSERT_TRUE(announcement.playerdata().has_score());
    EXPECT_EQ(announcement.playerdata().score(), 0);
    EXPECT_EQ(announcement.playerdata().redteamscore(), 0);
    EXPECT_EQ(announcement.playerdata().blueteamscore(), 0);
    EXPECT_FALSE(announcement.playerdata().blueteam());
}

TEST_F(JoinTest, SecondPlayerGetsNextQportOtherTeamAndEveryShip) {
    startServer({"--spawnType", "2"});
    auto first = joinClient();
    tcpUntilAnnounced(first, first->playerId());
    auto second = joinClient();
    const auto tcp = tcpUntilAnnounced(second, second->playerId());
    ASSERT_EQ(tcp.size(), 4u);

    const Welcome& welcome = tcp[0].as<Welcome>();
    EXPECT_EQ(welcome.qport(), 3u);
    EXPECT_EQ(welcome.id(), objectId(1, 3));
    EXPECT_TRUE(welcome.playerdata().blueteam());

    // Snapshot in group order, then the newcomer's own announcement.
    EXPECT_EQ(tcp[1].as<ObjectInfo>().id(), objectId(1, 2));
    EXPECT_FALSE(tcp[1].as<ObjectInfo>().playerdata().blueteam());
    EXPECT_EQ(tcp[2].as<ObjectInfo>().id(), objectId(1, 3));
    EXPECT_FALSE(tcp[2].as<ObjectInfo>().playerdata().has_score());
    EXPECT_EQ(tcp[3].as<ObjectInfo>().id(), objectId(1, 3));
    EXPECT_TRUE(tcp[3].as<ObjectInfo>().playerdata().has_score());

    // The first player learns of the second from the announcement alone.
    const auto firstTcp = tcpUntilAnnounced(first, second->playerId());
    ASSERT_EQ(firstTcp.size(), 4u);
    const ObjectInfo& announced = firstTcp[3].as<ObjectInfo>();
    EXPECT_EQ(announced.id(), objectId(1, 3));
    EXPECT_TRUE(announced.playerdata().blueteam());
    EXPECT_TRUE(announced.playerdata().has_score());
}

TEST_F(JoinTest, TeamsAlternateByCreationWhoeverLeft) {
    startServer({"--spawnType", "2"});
    auto red = joinClient();
    auto blue = joinClient();
    EXPECT_FALSE(red->welcome().playerdata().blueteam());
    EXPECT_TRUE(blue->welcome().playerdata().blueteam());
    blue->close();
    ASSERT_GE(server_->waitForLine("Player Player left", kWait), 0);

    auto third = joinClient();
    auto fourth = joinClient();
    EXPECT_FALSE(third->welcome().playerdata().blueteam());
    EXPECT_EQ(third->qport(), 4u);
    EXPECT_EQ(third->playerId(), objectId(1, 4));
    EXPECT_TRUE(fourth->welcome().playerdata().blueteam());
    EXPECT_EQ(fourth->qport(), 5u);
}

TEST_F(JoinTest, ServerIdIsTheHighWordOfEveryId) {
    startServer({"--server-id", "7", "--spawnType", "2"});
    auto client = joinClient();
    EXPECT_EQ(client->playerId(), objectId(7, 2));
}

TEST_F(JoinTest, PointSpawnPutsTeamsAtTheirSides) {
    startServer({"--spawnType", "2"});
    auto red = joinClient();
    auto blue = joinClient();
    const Vec3 redSpawn = ownSpawn(red);
    const Vec3 blueSpawn = ownSpawn(blue);
    EXPECT_FLOAT_EQ(redSpawn.x, 500.0f);
    EXPECT_FLOAT_EQ(redSpawn.y, 0.0f);
    EXPECT_FLOAT_EQ(redSpawn.z, 0.0f);
    EXPECT_FLOAT_EQ(blueSpawn.x, -500.0f);
    EXPECT_FLOAT_EQ(blueSpawn.y, 0.0f);
    EXPECT_FLOAT_EQ(blueSpawn.z, 0.0f);
}

TEST_F(JoinTest, PlaneSpawnIsARandomPointOfTheTeamsSpawnPlane) {
    startServer({});  // spawn type 0 by default
    auto red = joinClient();
    auto blue = joinClient();
    const Vec3 redSpawn = ownSpawn(red);
    const Vec3 blueSpawn = ownSpawn(blue);
    // Box (1, 100, 100) about x = +500 (red) and -500 (blue); the upper faces can be reached,
    // the lower ones cannot.
    EXPECT_GE(redSpawn.x, 499.51f - 1e-3f);
    EXPECT_LE(redSpawn.x, 500.5f + 1e-3f);
    EXPECT_GE(blueSpawn.x, -500.49f - 1e-3f);
    EXPECT_LE(blueSpawn.x, -499.5f + 1e-3f);
    for (const Vec3& spawn : {redSpawn, blueSpawn}) {
        EXPECT_GE(spawn.y, -49.99f - 1e-3f);
        EXPECT_LE(spawn.y, 50.0f + 1e-3f);
        EXPECT_GE(spawn.z, -49.99f - 1e-3f);
        EXPECT_LE(spawn.z, 50.0f + 1e-3f);
        EXPECT_TRUE(onCentiGrid(spawn.x) && onCentiGrid(spawn.y) && onCentiGrid(spawn.z))
            << spawn.x << " " << spawn.y << " " << spawn.z;
    }
}

TEST_F(JoinTest, EvenSpawnFillsTheSharedGrid) {
    startServer({"--spawnType", "1"});
    auto first = joinClient();
    const Vec3 firstSpawn = ownSpawn(first);
    auto second = joinClient();
    const Vec3 secondSpawn = ownSpawn(second);
    auto third = joinClient();
    const Vec3 thirdSpawn = ownSpawn(third);

    // Box (500, 200, 200) about the origin. With 0 or 1 player filed the grid has one cell at
    // the lower corner. With 2 players it has 3 cells along x (500/3 apart); the carriers
    // took red cell 3 and blue cell 2, the first two players red 5 and blue 4, so the third
    // player (red) takes cell 7, which is cell 1 of 3.
    const Vec3 corner(-250.0f, -100.0f, -100.0f);
    for (const Vec3& spawn : {firstSpawn, secondSpawn}) {
        EXPECT_FLOAT_EQ(spawn.x, corner.x);
        EXPECT_FLOAT_EQ(spawn.y, corner.y);
        EXPECT_FLOAT_EQ(spawn.z, corner.z);
    }
    EXPECT_NEAR(thirdSpawn.x, 500.0f / 3.0f - 250.0f, 1e-3f);
    EXPECT_FLOAT_EQ(thirdSpawn.y, corner.y);
    EXPECT_FLOAT_EQ(thirdSpawn.z, corner.z);
}

}  // namespace
}  // namespace e2e
