// One scripted player against a stand-in server on 127.0.0.1: what it sends, and what it
// makes of what it receives.
#include "tools/bench/Swarm.h"

#include <gtest/gtest.h>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/write.hpp>
#include <thread>

#include "Common/FrameCodec.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "tools/testkit/Loopback.h"

namespace asio = boost::asio;
using Clock = Swarm::Clock;

namespace {

constexpr std::uint16_t kQport = 0x1234;

struct StandInServer {
    asio::io_service io;
    asio::ip::tcp::acceptor acceptor{io};
    asio::ip::tcp::socket connection{io};
    asio::ip::udp::socket udp{io};
    std::array<std::uint8_t, 2048> buffer{};
    asio::ip::udp::endpoint from;
    std::vector<std::string> datagrams;
    std::string sentUpdate;  // the datagram the stand-in answered with an ObjectUpdate
    std::string sentInfo;    // the shot frame sent over TCP
    bool answered = false;

    // The game uses one port number for TCP and UDP.
    std::uint16_t open() {
        return openGamePort(acceptor, udp) ? acceptor.local_endpoint().port() : 0;
    }
};

}  // namespace

TEST(Swarm, PlayerJoinsSendsClientUpdatesAndMeasuresWhatItReceives) {
    StandInServer server;
    const std::uint16_t port = server.open();
    ASSERT_NE(port, 0);

    Swarm::Options options;
    options.port = port;
    options.players = 1;
    options.scenario = ScenarioKind::Dogfight;
    options.joinStart = Clock::now();
    options.windowStart = options.joinStart + std::chrono::milliseconds(300);
    options.windowEnd = options.windowStart + std::chrono::milliseconds(700);
    SwarmResult result;
    std::thread swarmThread([&]() {
        Swarm swarm(options);
        result = swarm.run();
    });

    server.acceptor.async_accept(server.connection, [&](const boost::system::error_code& e) {
        ASSERT_FALSE(e);
        Morvik::Welcome welcome;
        welcome.set_id((1ull << 32) | 2);
        welcome.set_qport(kQport);
        welcome.mutable_playerdata()->set_health(100.0f);
        auto frame = std::make_shared<std::string>();
        appendFrame(*frame, MessageType::Welcome, welcome);
        asio::async_write(server.connection, asio::buffer(*frame),
                          [frame](const boost::system::error_code&, std::size_t) {});
    });

    std::function<void()> receive = [&]() {
        server.udp.async_receive_from(
            asio::buffer(server.buffer), server.from,
            [&](const boost::system::error_code& e, std::size_t n) {
                if (e) {
                    return;
                }
                server.datagrams.emplace_back(reinterpret_cast<char*>(server.buffer.data()), n);
                const auto now = Clock::now();
                if (!server.answered &&
                    now > options.windowStart + std::chrono::milliseconds(100) &&
                    now < options.windowEnd - std::chrono::milliseconds(200)) {
                    server.answered = true;
                    // A datagram with two updates of one tick, then the shot over TCP with
                    // the orientation of the ClientUpdate just received.
                    Morvik::ClientUpdate update;
                    ASSERT_TRUE(
                        update.ParseFromArray(server.buffer.data() + 5, static_cast<int>(n - 5)));
                    Morvik::ObjectUpdate objectUpdate;
                    objectUpdate.set_id(7);
                    objectUpdate.set_timestamp(555000);
                    appendFrame(server.sentUpdate, MessageType::ObjectUpdate, objectUpdate);
                    objectUpdate.set_timestamp(555001);
                    appendFrame(server.sentUpdate, MessageType::ObjectUpdate, objectUpdate);
                    server.udp.send_to(asio::buffer(server.sentUpdate), server.from);

                    Morvik::ObjectInfo shot;
                    shot.set_id(8);
                    shot.set_objecttype(kProjectileType);
                    shot.set_timestamp(555040);
                    shot.mutable_position()->set_x(0);
                    shot.mutable_position()->set_y(0);
                    shot.mutable_position()->set_z(0);
                    *shot.mutable_orientation() = update.orientation();
                    shot.mutable_projectiledata()->mutable_velocity()->CopyFrom(shot.position());
                    shot.mutable_projectiledata()->set_blueteam(false);
                    appendFrame(server.sentInfo, MessageType::ObjectInfo, shot);
                    asio::write(server.connection, asio::buffer(server.sentInfo));
                }
                receive();
            });
    };
    receive();
    server.io.run_for(std::chrono::milliseconds(1300));
    swarmThread.join();

    ASSERT_GE(server.datagrams.size(), 5u);
    for (const std::string& datagram : server.datagrams) {
        ASSERT_GE(datagram.size(), 5u);
        // qport little-endian, then one frame: length = body + 1, type 4.
        EXPECT_EQ(static_cast<std::uint8_t>(datagram[0]), 0x34);
        EXPECT_EQ(static_cast<std::uint8_t>(datagram[1]), 0x12);
        const std::size_t length =
            static_cast<std::uint8_t>(datagram[2]) | (static_cast<std::uint8_t>(datagram[3]) << 8);
        EXPECT_EQ(length, datagram.size() - 4);
        EXPECT_EQ(datagram[4], 4);
        Morvik::ClientUpdate update;
        ASSERT_TRUE(
            update.ParseFromArray(datagram.data() + 5, static_cast<int>(datagram.size() - 5)));
        EXPECT_EQ(update.boosterson(), 0x40000001u);
    }

    ASSERT_TRUE(server.answered);
    EXPECT_EQ(result.players, 1u);
    EXPECT_EQ(result.joined, 1u);
    EXPECT_EQ(result.udpActive, 1u);
    EXPECT_EQ(result.badFrames, 0u);
    EXPECT_EQ(result.udpDownDatagrams, 1u);
    EXPECT_EQ(result.udpDownBytes, server.sentUpdate.size());
    EXPECT_EQ(result.datagramSizes.at(static_cast<std::uint32_t>(server.sentUpdate.size())), 1u);
    EXPECT_EQ(result.tcpDownBytes, server.sentInfo.size());
    EXPECT_EQ(result.shotsSeen, 1u);
    EXPECT_EQ(result.fireLatenciesMs.size(), 1u);
    // The shot's stamp counts too; 555000 and 555001 are one tick, 555040 another.
    EXPECT_EQ(result.stamps, (std::vector<std::uint32_t>{555000, 555001, 555040}));
    EXPECT_GT(result.udpUpDatagrams, 0u);
    ASSERT_EQ(result.ports.size(), 1u);
    EXPECT_EQ(result.ports[0], server.from.port());
    EXPECT_EQ(result.udpUpBytes, result.udpUpDatagrams * server.datagrams.front().size());
}
