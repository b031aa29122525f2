// The packet handler with real connections over 127.0.0.1: joining, leaving and steering.

#include "Server/PacketHandler.h"

#include <boost/asio/ip/address_v6.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cmath>
#include <limits>

#include "Common/Controls.h"
#include "Common/ObjectTypes.h"
#include "Server/PlayerKey.h"
#include "tests/Server/ServerProgramTestSupport.h"
#include "tests/Server/ServerTestSupport.h"

namespace {

using boost::asio::ip::tcp;
using boost::asio::ip::udp;
using progtest::pumpUntil;
using progtest::queued;

class PacketHandlerTest : public servertest::ServerWorldTest {
protected:
    void SetUp() override {
        ServerWorldTest::SetUp();
        handler = std::make_unique<PacketHandler>(io, 0, 0);
        handler->world = SceneGraph::getInstance();
        handler->queues = OutgoingQueues::getInstance();
        handler->nextQport = 1;
    }
    void TearDown() override {
        handler.reset();
        ServerWorldTest::TearDown();
    }

    // Connects a client and lets the tick handle its NewConnection.
    Player* join(tcp::socket& client) {
        const std::uint64_t before = queued(true);
        client.connect(tcp::endpoint(loopback(), handler->tcpPort()));
        EXPECT_TRUE(pumpUntil(io, [&] { return queued(true) == before + 1; }));
        handler->drainTCPEvents();
        SceneGraph::ObjectList* players = SceneGraph::getInstance()->getObjectsOfType(kPlayerType);
        return players && !players->empty() ? static_cast<Player*>(players->back()) : nullptr;
    }

    std::size_t playerCount() {
        SceneGraph::ObjectList* players = SceneGraph::getInstance()->getObjectsOfType(kPlayerType);
        return players ? players->size() : 0;
    }

    boost::asio::io_service io;
    boost::asio::io_service clientIo;
    std::unique_ptr<PacketHandler> handler;
};

Morvik::ClientUpdate steering(const Quaternion& q, std::uint32_t boosters) {
    Morvik::ClientUpdate update;
    Morvik::Orientation* orientation = update.mutable_orientation();
    orientation->set_w(q.w);
    orientation->set_x(q.x);
    orientation->set_y(q.y);
    orientation->set_z(q.z);
    update.set_boosterson(boosters);
    return update;
}

TEST_F(PacketHandlerTest, NewConnectionBecomesAWelcomedAndAnnouncedPlayer) {
    tcp::socket client(clientIo);
    Player* player = join(client);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->id, (1ull << 32) | 2u);
    EXPECT_EQ(player->name, "Player");
    EXPECT_EQ(player->qport, 2u);
    EXPECT_EQ(handler->nextQport, 2u);
    // Datagrams go to the TCP peer's address at the placeholder port until it sends one.
    EXPECT_EQ(player->udpEndpoint, udp::endpoint(loopback(), 9001));
    EXPECT_EQ(SceneGraph::getInstance()->findByConnection(player->connection.get()), player);
    EXPECT_EQ(SceneGraph::getInstance()->findByKey(playerKey(loopback(), 2)), player);

    // Its own list: the Welcome, then the snapshot (itself only).
    const auto own = servertest::decodeList(OutgoingQueues::getInstance()->clientQueue(player));
    ASSERT_EQ(own.size(), 2u);
    ASSERT_EQ(own[0]->type, static_cast<int>(MessageType::Welcome));
    const auto& welcome = static_cast<const Morvik::Welcome&>(*own[0]->message);
    EXPECT_EQ(welcome.id(), player->id);
    EXPECT_EQ(welcome.qport(), 2u);
    EXPECT_EQ(welcome.playerdata().name(), "Player");
    EXPECT_FALSE(welcome.playerdata().blueteam());
    EXPECT_FLOAT_EQ(welcome.playerdata().health(), 100.0f);
    ASSERT_EQ(own[1]->type, static_cast<int>(MessageType::ObjectInfo));
    const auto& snapshot = static_cast<const Morvik::ObjectInfo&>(*own[1]->message);
    EXPECT_EQ(snapshot.id(), player->id);
    EXPECT_EQ(snapshot.timestamp(), servertest::fakeNowMs);
    EXPECT_FALSE(snapshot.playerdata().has_score());

    // The announcement, for everybody, with the scores.
    const auto announced = servertest::messagesIn<Morvik::ObjectInfo>(
        OutgoingQueues::getInstance()->tcpBroadcast, MessageType::ObjectInfo);
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0].id(), player->id);
    EXPECT_TRUE(announced[0].playerdata().has_redteamscore());
    // Welcome and snapshot to one player, the announcement to the one player there is.
    EXPECT_EQ(Statistics::getInstance()->getMessages(tcp_sent), 3u);
}

TEST_F(PacketHandlerTest, AClientGoneBeforeItsTurnGetsNoPlayer) {
    {
        tcp::socket quick(clientIo);
        quick.connect(tcp::endpoint(loopback(), handler->tcpPort()));
    }
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(true) == 2; }));
    testing::internal::CaptureStdout();
    handler->drainTCPEvents();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(playerCount(), 0u);
    // Nothing was used up: the next player is still the first.
    EXPECT_EQ(ObjectFactory::getInstance()->counter, 1u);
    EXPECT_FALSE(ObjectFactory::getInstance()->nextBlueTeam);
    EXPECT_EQ(handler->nextQport, 1u);
    EXPECT_TRUE(OutgoingQueues::getInstance()->tcpBroadcast.empty());

    tcp::socket client(clientIo);
    Player* player = join(client);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->qport, 2u);
}

TEST_F(PacketHandlerTest, ClosedConnectionRemovesItsPlayerAndTellsEverybody) {
    tcp::socket client(clientIo);
    Player* player = join(client);
    ASSERT_NE(player, nullptr);
    const TcpConnection* connection = player->connection.get();
    OutgoingQueues::getInstance()->tcpBroadcast.clear();
    const std::uint64_t sentBefore = Statistics::getInstance()->getMessages(tcp_sent);

    const std::uint64_t before = queued(true);
    client.close();
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(true) == before + 1; }));
    testing::internal::CaptureStdout();
    handler->drainTCPEvents();
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ(printed, "Player Player left\n");
    EXPECT_EQ(player->connection, nullptr);
    EXPECT_EQ(SceneGraph::getInstance()->findByConnection(const_cast<TcpConnection*>(connection)),
              nullptr);
    // Removal waits for the end of the tick.
    EXPECT_TRUE(servertest::isPending(player));
    EXPECT_EQ(playerCount(), 1u);
    const auto destroys = servertest::messagesIn<Morvik::ObjectDestroy>(
        OutgoingQueues::getInstance()->tcpBroadcast, MessageType::ObjectDestroy);
    ASSERT_EQ(destroys.size(), 1u);
    EXPECT_EQ(destroys[0].id(), player->id);
    // Counted for the departing player too, which is still in the group.
    EXPECT_EQ(Statistics::getInstance()->getMessages(tcp_sent), sentBefore + 1);
    SceneGraph::getInstance()->flushRemovals();
    EXPECT_EQ(playerCount(), 0u);
}

TEST_F(PacketHandlerTest, ClientUpdateSteersThePlayerOfItsAddressAndQport) {
    tcp::socket client(clientIo);
    Player* player = join(client);
    ASSERT_NE(player, nullptr);
    const udp::endpoint source(loopback(), 40000);
    // Four different components, squared length 0.99: taken as sent, each in its place.
    const Quaternion turned(0.8f, 0.1f, -0.3f, 0.5f);

    // Another qport from the same address is somebody else.
    EXPECT_TRUE(handler->onClientUpdate(steering(turned, controls::kForward), 3, source));
    EXPECT_EQ(player->udpEndpoint.port(), 9001);
    EXPECT_EQ(player->inputMask, 0u);

    EXPECT_TRUE(handler->onClientUpdate(steering(turned, controls::kAllThrust | controls::kFire), 2,
                                        source));
    EXPECT_EQ(player->udpEndpoint, source);
    EXPECT_FLOAT_EQ(player->orientation.w, 0.8f);
    EXPECT_FLOAT_EQ(player->orientation.x, 0.1f);
    EXPECT_FLOAT_EQ(player->orientation.y, -0.3f);
    EXPECT_FLOAT_EQ(player->orientation.z, 0.5f);
    EXPECT_EQ(player->inputMask, controls::kAllThrust | controls::kFire);
}

// (0.5, 0.5, 0.5, 0.5) scaled to a squared length: every component counts alike, and halving is
// exact in float, so the four floats on the wire have the squared length of the float root,
// within a millionth of the one asked for.
Quaternion ofSquaredLength(float squaredLength) {
    const float half = 0.5f * std::sqrt(squaredLength);
    const double onWire = 4.0 * static_cast<double>(half) * static_cast<double>(half);
    EXPECT_NEAR(onWire, squaredLength, 1e-6);
    return Quaternion(half, half, half, half);
}

TEST_F(PacketHandlerTest, SteeringIsTakenOnlyWithinTwentyPercentOfUnitLength) {
    tcp::socket client(clientIo);
    Player* player = join(client);
    ASSERT_NE(player, nullptr);
    const udp::endpoint source(loopback(), 40000);
    // Whether an update with an orientation of this squared length steers the player.
    const auto steers = [&](float squaredLength) {
        player->orientation = Quaternion();
        player->inputMask = 0;
        player->udpEndpoint = udp::endpoint(loopback(), 9001);
        const Quaternion sent = ofSquaredLength(squaredLength);
        EXPECT_TRUE(handler->onClientUpdate(steering(sent, controls::kForward), 2, source));
        const bool taken = player->inputMask == controls::kForward;
        // Whole or not at all; taken as sent, not normalised.
        const Quaternion expected = taken ? sent : Quaternion();
        EXPECT_EQ(player->orientation.w, expected.w) << squaredLength;
        EXPECT_EQ(player->orientation.x, expected.x) << squaredLength;
        EXPECT_EQ(player->orientation.y, expected.y) << squaredLength;
        EXPECT_EQ(player->orientation.z, expected.z) << squaredLength;
        EXPECT_EQ(player->udpEndpoint.port(), taken ? source.port() : 9001) << squaredLength;
        return taken;
    };
    EXPECT_FALSE(steers(0.79f));
    EXPECT_TRUE(steers(0.81f));
    EXPECT_TRUE(steers(1.19f));
    EXPECT_FALSE(steers(1.21f));
}

TEST_F(PacketHandlerTest, NonFiniteSteeringIsIgnoredWhole) {
    tcp::socket client(clientIo);
    Player* player = join(client);
    ASSERT_NE(player, nullptr);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const Quaternion& bad : {Quaternion(nan, 0, 0, 0), Quaternion(1, -inf, 0, 0),
                                  Quaternion(1, 0, inf, 0), Quaternion(1, 0, 0, nan)}) {
        EXPECT_TRUE(handler->onClientUpdate(steering(bad, controls::kForward | controls::kFire), 2,
                                            udp::endpoint(loopback(), 40000)));
        EXPECT_FLOAT_EQ(player->orientation.w, 1.0f);
        EXPECT_FLOAT_EQ(player->orientation.x, 0.0f);
        EXPECT_EQ(player->inputMask, 0u);
        EXPECT_EQ(player->udpEndpoint.port(), 9001);
    }
}

TEST_F(PacketHandlerTest, DatagramFromTheClientReachesItsPlayer) {
    tcp::socket client(clientIo);
    Player* player = join(client);
    ASSERT_NE(player, nullptr);
    udp::socket udpClient(clientIo, udp::endpoint(loopback(), 0));
    std::string datagram{'\x02', '\x00'};
    appendFrame(datagram, MessageType::ClientUpdate, steering(Quaternion(), controls::kUp));
    udpClient.send_to(boost::asio::buffer(datagram),
                      udp::endpoint(loopback(), handler->getUDPSocket().local_endpoint().port()));
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(false) == 1; }));
    handler->drainUDPEvents();
    EXPECT_EQ(player->udpEndpoint, udpClient.local_endpoint());
    EXPECT_EQ(player->inputMask, controls::kUp);
}

TEST_F(PacketHandlerTest, QportsWrapAfter65535) {
    handler->nextQport = 65534;
    tcp::socket first(clientIo), second(clientIo);
    Player* a = join(first);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->qport, 65535u);
    Player* b = join(second);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->qport, 0u);
    const auto own = servertest::messagesIn<Morvik::Welcome>(
        OutgoingQueues::getInstance()->clientQueue(b), MessageType::Welcome);
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0].qport(), 0u);
}

TEST(PacketHandlerEndpointTest, PlaceholderKeepsTheAddressFamily) {
    const auto v4 = PacketHandler::clientEndpoint(boost::asio::ip::make_address("10.1.2.3"));
    EXPECT_TRUE(v4.address().is_v4());
    EXPECT_EQ(v4.address().to_string(), "10.1.2.3");
    EXPECT_EQ(v4.port(), 9001);
    const auto v6 = PacketHandler::clientEndpoint(boost::asio::ip::make_address("fe80::1%1"));
    EXPECT_TRUE(v6.address().is_v6());
    EXPECT_EQ(v6.address().to_v6().scope_id(), 1u);
    EXPECT_EQ(v6.port(), 9001);
}

}  // namespace
