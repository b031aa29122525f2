// The server tick: its time step and the order of its steps as the console and the wire see
// them.

#include "Server/ServerTick.h"

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "Common/Controls.h"
#include "Common/ObjectTypes.h"
#include "Common/Platform.h"
#include "Server/PacketHandler.h"
#include "Server/ServerConsole.h"
#include "tests/Server/ServerProgramTestSupport.h"
#include "tests/Server/ServerTestSupport.h"

namespace {

using boost::asio::ip::tcp;
using boost::asio::ip::udp;
using progtest::pumpUntil;
using progtest::queued;
using FrameMatch = std::function<bool(const NetworkEvent&)>;

// A frame of this type about the object with this id.
template <class M>
FrameMatch about(MessageType type, std::uint64_t id) {
    return [type, id](const NetworkEvent& event) {
        return event.type == static_cast<int>(type) && event.message != nullptr &&
               static_cast<const M&>(*event.message).id() == id;
    };
}

Morvik::ClientUpdate steeringStraight() {
    Morvik::ClientUpdate update;
    Morvik::Orientation* orientation = update.mutable_orientation();
    orientation->set_w(1.0f);
    orientation->set_x(0.0f);
    orientation->set_y(0.0f);
    orientation->set_z(0.0f);
    update.set_boosterson(0);
    return update;
}

TEST(TickTimeStepTest, IsTheTimeSinceTheLastTick) {
    EXPECT_NEAR(tickTimeStep(100.034, 100.0), 0.034, 1e-9);
    EXPECT_EQ(tickTimeStep(100.0, 100.0), 0.0);
}

TEST(TickTimeStepTest, SpansTheWrapOfTheMillisecondClock) {
    // 16 ms before the 32-bit count wraps to 16 ms after it.
    EXPECT_NEAR(tickTimeStep(0.016, 4294967.280), 0.032, 1e-6);
}

class ServerTickTest : public servertest::ServerWorldTest {
protected:
    void SetUp() override {
        ServerWorldTest::SetUp();
        handler = std::make_unique<PacketHandler>(io, 0, 0);
        handler->world = SceneGraph::getInstance();
        handler->queues = OutgoingQueues::getInstance();
        packetHandler = handler.get();
        OutgoingQueues::getInstance()->openSocket(io);
        std::string line;
        while (popConsoleLine(line)) {
        }
    }
    void TearDown() override {
        packetHandler = nullptr;
        ServerWorldTest::TearDown();  // closes the queues' socket before io goes
        handler.reset();
    }

    // One tick, sinceLast seconds (at least) after the previous one; returns what it printed.
    std::string tick(double sinceLast = 0.0) {
        lastTickSeconds = static_cast<double>(getTickCount()) / 1000.0 - sinceLast;
        testing::internal::CaptureStdout();
        serverTick();
        return testing::internal::GetCapturedStdout();
    }

    // A player whose datagrams go to listener.
    Player* join() {
        Player* player = servertest::joinPlayer();
        player->udpEndpoint = listener.local_endpoint();
        return player;
    }

    // A client connection to the handler, up to its NewConnection waiting in the TCP list.
    bool connect(tcp::socket& client) {
        const std::size_t before = queued(true);
        client.connect(tcp::endpoint(loopback(), handler->tcpPort()));
        return pumpUntil(io, [&] { return queued(true) == before + 1; });
    }

    // Reads what reaches the client's connection until a frame matches.
    bool streamCarries(tcp::socket& client, const FrameMatch& match) {
        client.non_blocking(true);
        std::string leftover;
        return pumpUntil(io, [&] {
            std::array<std::uint8_t, 4096> chunk;
            boost::system::error_code error;
            for (;;) {
                const std::size_t got = client.read_some(boost::asio::buffer(chunk), error);
                if (error) {
                    return false;
                }
                bool malformed = false;
                for (const auto& event : splitFrames(chunk.data(), got, leftover, malformed)) {
                    if (match(*event)) {
                        return true;
                    }
                }
            }
        });
    }

    // Reads the datagrams that reach the socket until a frame matches.
    bool datagramsCarry(udp::socket& socket, const FrameMatch& match) {
        socket.non_blocking(true);
        return pumpUntil(io, [&] {
            std::array<std::uint8_t, 65536> datagram;
            boost::system::error_code error;
            udp::endpoint from;
            for (;;) {
                const std::size_t got =
                    socket.receive_from(boost::asio::buffer(datagram), from, 0, error);
                if (error) {
                    return false;
                }
                std::string leftover;
                bool malformed = false;
                for (const auto& event : splitFrames(datagram.data(), got, leftover, malformed)) {
                    if (match(*event)) {
                        return true;
                    }
                }
            }
        });
    }

    Player* playerAt(std::size_t index) {
        SceneGraph::ObjectList* players = SceneGraph::getInstance()->getObjectsOfType(kPlayerType);
        return players != nullptr && index < players->size()
                   ? static_cast<Player*>((*players)[index])
                   : nullptr;
    }

    boost::asio::io_service io;
    boost::asio::io_service clientIo;
    std::unique_ptr<PacketHandler> handler;
    boost::asio::ip::udp::socket listener{
        io, boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::loopback(), 0)};
};

TEST_F(ServerTickTest, ConsoleSeesTheListsAsTheTickFoundThem) {
    Player* shooter = join();
    shooter->fireTimer = 1.0f;
    shooter->inputMask = controls::kFire;

    // The first shot of the run is fired during this tick's update, after the lists were
    // looked up: "shots" still answers 0. "players" is answered first, being newer.
    pushConsoleLine("shots");
    pushConsoleLine("players");
    EXPECT_EQ(tick(), "1\n0\n");
    ASSERT_NE(SceneGraph::getInstance()->getObjectsOfType(kProjectileType), nullptr);

    pushConsoleLine("sh");
    EXPECT_EQ(tick(), "1\n");
}

TEST_F(ServerTickTest, RemovalsAreCarriedOutBeforeTheConsoleCounts) {
    join();
    Player* leaves = join();
    SceneGraph::getInstance()->remove(leaves);
    pushConsoleLine("pl");
    EXPECT_EQ(tick(), "1\n");
}

TEST_F(ServerTickTest, AClientUpdateFindsThePlayerThatJoinsInTheSameTick) {
    tcp::socket client(clientIo);
    ASSERT_TRUE(connect(client));
    // A client that steers at once: the first connection of a run always gets qport 2.
    udp::socket clientUdp(clientIo, udp::endpoint(loopback(), 0));
    std::string datagram{'\x02', '\x00'};
    appendFrame(datagram, MessageType::ClientUpdate, steeringStraight());
    clientUdp.send_to(boost::asio::buffer(datagram),
                      udp::endpoint(loopback(), handler->getUDPSocket().local_endpoint().port()));
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(false) == 1; }));

    // Long enough after the last tick for the new ship's first update to be due.
    tick(2.0);
    Player* player = playerAt(0);
    ASSERT_NE(player, nullptr);
    // The update took the client's real address, so that tick's datagrams went there.
    EXPECT_TRUE(datagramsCarry(clientUdp,
                               about<Morvik::ObjectUpdate>(MessageType::ObjectUpdate, player->id)));
}

TEST_F(ServerTickTest, AShotHitsWhereItIsBeforeTheTickMovesIt) {
    Player* shooter = join();
    Player* target = join();
    ASSERT_NE(shooter->blueTeam, target->blueTeam);
    // On the target now, far past it after one step.
    const std::uint64_t shotId =
        servertest::addShot(shooter, target->position, Vec3(0, 0, 100))->id;

    tick(2.0);
    EXPECT_TRUE(
        datagramsCarry(listener, about<Morvik::ObjectDestroy>(MessageType::ObjectDestroy, shotId)));
}

TEST_F(ServerTickTest, APlayerWhoLeavesStillGetsThatTicksDatagrams) {
    tcp::socket client(clientIo);
    ASSERT_TRUE(connect(client));
    handler->drainTCPEvents();
    Player* leaver = playerAt(0);
    ASSERT_NE(leaver, nullptr);
    udp::socket lastEndpoint(clientIo, udp::endpoint(loopback(), 0));
    leaver->udpEndpoint = lastEndpoint.local_endpoint();
    const std::uint64_t leaverId = leaver->id;

    const std::uint64_t before = queued(true);
    client.close();
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(true) == before + 1; }));
    // Its own update falls due in the tick that handles its leaving.
    tick(2.0);
    EXPECT_EQ(playerAt(0), nullptr);
    EXPECT_TRUE(datagramsCarry(lastEndpoint,
                               about<Morvik::ObjectUpdate>(MessageType::ObjectUpdate, leaverId)));
}

TEST_F(ServerTickTest, EveryStayingPlayerGetsItsOwnDataWhoeverLeftBeforeIt) {
    constexpr std::size_t kClients = 4;
    std::vector<std::unique_ptr<tcp::socket>> clients;
    for (std::size_t i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<tcp::socket>(clientIo));
        ASSERT_TRUE(connect(*clients.back()));
    }
    // The joins are handled, each Welcome waiting in its player's own list.
    handler->drainTCPEvents();
    std::map<Player*, tcp::socket*> clientOf;
    for (std::size_t i = 0; i < kClients; ++i) {
        clientOf[playerAt(i)] = clients[i].get();
        playerAt(i)->udpEndpoint = listener.local_endpoint();
    }
    std::vector<Player*> walk;
    for (const auto& entry : OutgoingQueues::getInstance()->tcpQueues) {
        walk.push_back(entry.first);
    }
    ASSERT_EQ(walk.size(), kClients);

    // Whatever order the flush walks the lists in, its first and third players leave before
    // their data goes out, and the second and fourth stay.
    const std::uint64_t before = queued(true);
    clientOf.at(walk[0])->close();
    clientOf.at(walk[2])->close();
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(true) == before + 2; }));
    tick();
    for (Player* stays : {walk[1], walk[3]}) {
        EXPECT_TRUE(streamCarries(*clientOf.at(stays),
                                  about<Morvik::Welcome>(MessageType::Welcome, stays->id)));
    }
}

}  // namespace
