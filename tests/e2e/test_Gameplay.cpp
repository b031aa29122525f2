// Playing: the server learns a client's UDP port from its ClientUpdates, steering and firing
// act on the ship, and hits, kills, scores and departures reach the right clients by the
// right transport.

#include <cmath>

#include "Common/ObjectTypes.h"
#include "tests/e2e/E2eSupport.h"

namespace e2e {
namespace {

using Morvik::ObjectDestroy;
using Morvik::ObjectInfo;
using Morvik::ObjectUpdate;

constexpr Milliseconds kSendRulePeriod{1200};  // an idle ship is updated once a second

bool isUpdateOf(const ReceivedMessage& received, std::uint64_t id) {
    return received.transport == Transport::Udp && received.is(MessageType::ObjectUpdate) &&
           received.as<ObjectUpdate>().id() == id;
}

// Own-status ObjectInfos (TCP, about the client's ship, without a name).
std::vector<ObjectInfo> ownStatus(const ScriptedClient::Ptr& client) {
    std::vector<ObjectInfo> out;
    for (const ReceivedMessage& received :
         select(client->messages(), Transport::Tcp, MessageType::ObjectInfo)) {
        const ObjectInfo& info = received.as<ObjectInfo>();
        if (info.id() == client->playerId() && !info.playerdata().has_name()) {
            out.push_back(info);
        }
    }
    return out;
}

std::vector<ObjectInfo> shotsSeenBy(const ScriptedClient::Ptr& client) {
    std::vector<ObjectInfo> out;
    for (const ReceivedMessage& received : client->messages()) {
        if (received.is(MessageType::ObjectInfo) &&
            received.as<ObjectInfo>().objecttype() == kProjectileType) {
            EXPECT_EQ(received.transport, Transport::Tcp);
            out.push_back(received.as<ObjectInfo>());
        }
    }
    return out;
}

class GameplayTest : public ServerTest {};

TEST_F(GameplayTest, UdpGoesToThePortOfTheFirstClientUpdate) {
    startServer({"--spawnType", "2"});
    auto client = joinClient();
    // Until the client has sent anything, its datagrams go to a placeholder port.
    std::this_thread::sleep_for(kSendRulePeriod);
    EXPECT_TRUE(onTransport(client->messages(), Transport::Udp).empty());

    client->sendClientUpdate(Quaternion(), 0);
    const long update = client->waitForMessage(
        [&](const ReceivedMessage& m) { return isUpdateOf(m, client->playerId()); }, 0, kWait);
    ASSERT_GE(update, 0);
    const ObjectUpdate& first =
        client->messages()[static_cast<std::size_t>(update)].as<ObjectUpdate>();
    EXPECT_FLOAT_EQ(first.position().x(), 500.0f);
    EXPECT_FLOAT_EQ(first.orientation().w(), 1.0f);
}

TEST_F(GameplayTest, DatagramsLeaveFromOneSocketThatIsNotTheGamePort) {
    startServer({"--spawnType", "2"});
    auto client = joinClient();
    client->steer({Quaternion(), kForward});  // a moving ship is updated every tick
    ASSERT_TRUE(client->waitFor(
        [](const std::vector<ReceivedMessage>& all) {
            return onTransport(all, Transport::Udp).size() >= 5;
        },
        kWait));
    const auto datagrams = onTransport(client->messages(), Transport::Udp);
    const std::uint16_t source = datagrams.front().sourcePort;
    EXPECT_NE(source, 0);
    EXPECT_NE(source, port_);
    for (const ReceivedMessage& m : datagrams) {
        EXPECT_EQ(m.sourcePort, source);
    }
}

TEST_F(GameplayTest, SteeringTurnsAndMovesTheShip) {
    startServer({"--spawnType", "2"});
    auto client = joinClient();
    // A quarter turn about y: the nose (+z) then points along +x.
    const float half = std::sqrt(0.5f);
    const Quaternion turned(half, 0.0f, half, 0.0f);
    client->steer({turned, kForward});

    const std::uint64_t id = client->playerId();
    ASSERT_TRUE(client->waitFor(
        [&](const std::vector<ReceivedMessage>& all) {
            for (const ReceivedMessage& m : all) {
                if (isUpdateOf(m, id) && m.as<ObjectUpdate>().position().x() > 505.0f) {
                    return true;
                }
            }
            return false;
        },
        kWait));
    client->steer({turned, 0});

    const auto updates = select(client->messages(), Transport::Udp, MessageType::ObjectUpdate);
    const ObjectUpdate& last = updates.back().as<ObjectUpdate>();
    EXPECT_NEAR(last.orientation().w(), half, 1e-6f);
    EXPECT_NEAR(last.orientation().y(), half, 1e-6f);
    // Thrust along the nose only: y and z stay at the spawn point's.
    EXPECT_NEAR(last.position().y(), 0.0f, 1e-3f);
    EXPECT_NEAR(last.position().z(), 0.0f, 1e-3f);
}

TEST_F(GameplayTest, ShotIsAnnouncedToEveryPlayerOverTcp) {
    startServer({"--spawnType", "2"});
    auto shooter = joinClient();
    auto watcher = joinClient();
    shooter->steer({Quaternion(), kFire});
    ASSERT_TRUE(shooter->waitFor(
        [](const std::vector<ReceivedMessage>& all) {
            for (const ReceivedMessage& m : all) {
                if (m.is(MessageType::ObjectInfo) &&
                    m.as<ObjectInfo>().objecttype() == kProjectileType) {
                    return true;
                }
            }
            return false;
        },
        kWait));
    shooter->steer({Quaternion(), 0});
    ASSERT_TRUE(watcher->waitFor(
        [](const std::vector<ReceivedMessage>& all) {
            for (const ReceivedMessage& m : all) {
                if (m.is(MessageType::ObjectInfo) &&
                    m.as<ObjectInfo>().objecttype() == kProjectileType) {
                    return true;
                }
            }
            return false;
        },
        kWait));

    const ObjectInfo shot = shotsSeenBy(shooter).front();
    EXPECT_EQ(shotsSeenBy(watcher).front().id(), shot.id());
    // The shooter was at rest at the red point, nose along +z.
    // Shots draw from the players' counter: the two ships took 2 and 3.
    EXPECT_EQ(shot.id(), objectId(1, 4));
    EXPECT_FALSE(shot.projectiledata().blueteam());
    EXPECT_FLOAT_EQ(shot.position().x(), 500.0f);
    EXPECT_FLOAT_EQ(shot.projectiledata().velocity().x(), 0.0f);
    EXPECT_FLOAT_EQ(shot.projectiledata().velocity().y(), 0.0f);
    EXPECT_FLOAT_EQ(shot.projectiledata().velocity().z(), 100.0f);
}

TEST_F(GameplayTest, HitsKillScoreAndRespawnReachTheRightClients) {
    // "even" puts the first two players (red, then blue) on the same spot, so every shot of
    // the first one touches the second.
    startServer({"--spawnType", "1"});
    auto red = joinClient();
    auto blue = joinClient();
    blue->steer({Quaternion(), 0});  // the victim's UDP port becomes known
    red->steer({Quaternion(), kFire});

    // Two hits (100 - 42.42 - 42.42 = 15.16 left), then the third kills: the victim is told
    // of the red team's point.
    ASSERT_TRUE(blue->waitFor(
        [&](const std::vector<ReceivedMessage>&) {
            for (const ObjectInfo& status : ownStatus(blue)) {
                if (status.playerdata().redteamscore() == 1) {
                    return true;
                }
            }
            return false;
        },
        Milliseconds(15000)))
        << "hits seen: " << ownStatus(blue).size();
    red->steer({Quaternion(), 0});

    const float afterOne = 100.0f - 42.42f;
    const float afterTwo = afterOne - 42.42f;
    const std::vector<ObjectInfo> victim = ownStatus(blue);
    ASSERT_GE(victim.size(), 4u);
    EXPECT_FLOAT_EQ(victim[0].playerdata().health(), afterOne);
    EXPECT_FLOAT_EQ(victim[1].playerdata().health(), afterTwo);
    // The kill: first the respawn's own status, then the status after the score changed.
    EXPECT_FLOAT_EQ(victim[2].playerdata().health(), 100.0f);
    EXPECT_EQ(victim[2].playerdata().redteamscore(), 0);
    EXPECT_FLOAT_EQ(victim[3].playerdata().health(), 100.0f);
    EXPECT_EQ(victim[3].playerdata().redteamscore(), 1);
    EXPECT_EQ(victim[3].playerdata().blueteamscore(), 0);
    EXPECT_EQ(victim[3].playerdata().score(), 0);

    // The shooter learns its score, and nothing of the victim's health.
    ASSERT_TRUE(red->waitFor(
        [&](const std::vector<ReceivedMessage>&) { return !ownStatus(red).empty(); }, kWait));
    const ObjectInfo shooter = ownStatus(red).front();
    EXPECT_EQ(shooter.playerdata().score(), 1);
    EXPECT_EQ(shooter.playerdata().redteamscore(), 1);
    EXPECT_EQ(shooter.playerdata().blueteamscore(), 0);
    for (const ReceivedMessage& m : red->messages()) {
        if (m.is(MessageType::ObjectInfo) && m.as<ObjectInfo>().id() == blue->playerId()) {
            EXPECT_TRUE(m.as<ObjectInfo>().playerdata().has_name()) << "victim status leaked";
        }
    }

    // A shot that hits is destroyed by UDP for both players.
    const std::uint64_t firstShot = shotsSeenBy(blue).front().id();
    for (const auto& client : {red, blue}) {
        EXPECT_TRUE(client->waitFor(
            [&](const std::vector<ReceivedMessage>& all) {
                for (const ReceivedMessage& m : all) {
                    if (m.is(MessageType::ObjectDestroy) &&
                        m.as<ObjectDestroy>().id() == firstShot) {
                        EXPECT_EQ(m.transport, Transport::Udp);
                        return true;
                    }
                }
                return false;
            },
            kWait));
    }
    EXPECT_EQ(ask("score"), "1 - 0");
}

TEST_F(GameplayTest, DepartureIsPrintedAndAnnouncedOverTcp) {
    startServer({"--spawnType", "2"});
    auto stays = joinClient();
    auto leaves = joinClient();
    const std::uint64_t leaverId = leaves->playerId();
    leaves->close();

    ASSERT_GE(server_->waitForLine("Player Player left", kWait), 0);
    const long destroy = stays->waitForMessage(
        [&](const ReceivedMessage& m) {
            return m.is(MessageType::ObjectDestroy) && m.as<ObjectDestroy>().id() == leaverId;
        },
        0, kWait);
    ASSERT_GE(destroy, 0);
    EXPECT_EQ(stays->messages()[static_cast<std::size_t>(destroy)].transport, Transport::Tcp);
    EXPECT_EQ(ask("players"), "1");
}

}  // namespace
}  // namespace e2e
