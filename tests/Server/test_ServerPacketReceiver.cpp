// The server's receiver on real sockets over 127.0.0.1: accepting, the qport prefix of client
// datagrams, closes and stalled clients.

#include "Server/ServerPacketReceiver.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/system/system_error.hpp>
#include <cerrno>

#include "Common/ConsoleLog.h"
#include "Common/Controls.h"
#include "Common/FrameCodec.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/Statistics.h"
#include "tests/Server/ServerProgramTestSupport.h"

namespace {

using boost::asio::ip::tcp;
using boost::asio::ip::udp;
using progtest::pumpUntil;
using progtest::queued;

std::string clientUpdateFrame(std::uint32_t boosters) {
    Morvik::ClientUpdate update;
    Morvik::Orientation* orientation = update.mutable_orientation();
    orientation->set_w(1);
    orientation->set_x(0);
    orientation->set_y(0);
    orientation->set_z(0);
    update.set_boosterson(boosters);
    std::string frame;
    appendFrame(frame, MessageType::ClientUpdate, update);
    return frame;
}

std::string prefix(std::uint16_t qport) {
    return std::string{static_cast<char>(qport & 0xFF), static_cast<char>(qport >> 8)};
}

// Keeps every event that a drain hands on, after the receiver's own handling of it.
class RecordingReceiver : public ServerPacketReceiver {
public:
    using ServerPacketReceiver::ServerPacketReceiver;
    bool dispatchEvent(NetworkEventPtr event) override {
        dispatched.push_back(event);
        return ServerPacketReceiver::dispatchEvent(std::move(event));
    }
    std::vector<NetworkEventPtr> dispatched;
};

class ServerPacketReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        Statistics::getInstance()->resetForTesting();
        receiver = std::make_unique<RecordingReceiver>(io, 0, 0);
        client.open(udp::v4());
        client.bind(udp::endpoint(loopback(), 0));
        serverUdp = udp::endpoint(loopback(), receiver->getUDPSocket().local_endpoint().port());
    }
    void TearDown() override {
        receiver.reset();
        Statistics::getInstance()->resetForTesting();
    }

    void send(const std::string& datagram) {
        client.send_to(boost::asio::buffer(datagram), serverUdp);
    }

    // Drains the list: every event it has handed on so far, in order.
    std::vector<NetworkEventPtr> udpEvents() {
        receiver->drainUDPEvents();
        return take(udpSeen);
    }
    std::vector<NetworkEventPtr> tcpEvents() {
        receiver->drainTCPEvents();
        return take(tcpSeen);
    }
    std::vector<NetworkEventPtr> take(std::vector<NetworkEventPtr>& seen) {
        seen.insert(seen.end(), receiver->dispatched.begin(), receiver->dispatched.end());
        receiver->dispatched.clear();
        return seen;
    }
    tcp::endpoint serverTcp() const { return tcp::endpoint(loopback(), receiver->tcpPort()); }

    boost::asio::io_service io;
    boost::asio::io_service clientIo;
    std::unique_ptr<RecordingReceiver> receiver;
    std::vector<NetworkEventPtr> udpSeen;
    std::vector<NetworkEventPtr> tcpSeen;
    udp::socket client{clientIo};
    udp::endpoint serverUdp;
};

TEST_F(ServerPacketReceiverTest, ClientUpdatesCarryThePrefixQportAndTheSender) {
    send(prefix(0x1234) + clientUpdateFrame(controls::kForward) +
         clientUpdateFrame(controls::kBack));
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(false) == 2; }));
    const auto events = udpEvents();
    for (const NetworkEventPtr& event : events) {
        EXPECT_EQ(event->type, static_cast<int>(MessageType::ClientUpdate));
        EXPECT_EQ(event->qport, 0x1234);
        ASSERT_NE(event->sender, nullptr);
        EXPECT_EQ(*event->sender, client.local_endpoint());
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(static_cast<Morvik::ClientUpdate&>(*events[0]->message).boosterson(),
              controls::kForward);
    EXPECT_EQ(static_cast<Morvik::ClientUpdate&>(*events[1]->message).boosterson(),
              controls::kBack);
}

TEST_F(ServerPacketReceiverTest, OtherMessagesAreQueuedWithoutQportOrSender) {
    Morvik::ObjectDestroy destroy;
    destroy.set_id(7);
    std::string frame;
    appendFrame(frame, MessageType::ObjectDestroy, destroy);
    send(prefix(9) + frame + clientUpdateFrame(0));
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(false) == 2; }));
    // The server has no use for it: the drain goes past it.
    const auto events = udpEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->type, static_cast<int>(MessageType::ObjectDestroy));
    EXPECT_EQ(events[0]->qport, 0);
    EXPECT_EQ(events[0]->sender, nullptr);
    EXPECT_EQ(events[1]->type, static_cast<int>(MessageType::ClientUpdate));
}

TEST_F(ServerPacketReceiverTest, DatagramsWithoutAWholePrefixAreDroppedAndReceivingGoesOn) {
    testing::internal::CaptureStdout();
    send(std::string());
    send(std::string(1, '\x05'));
    send(prefix(3));  // exactly the prefix: no frame, nothing left over
    send(prefix(3) + clientUpdateFrame(0));
    const bool arrived = pumpUntil(io, [&] { return queued(false) == 1; });
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(printed, "");
    // Every datagram counts as received, with its own size.
    EXPECT_EQ(Statistics::getInstance()->getPackets(udp_rcvd), 4u);
    EXPECT_EQ(Statistics::getInstance()->getBytes(udp_rcvd),
              0u + 1u + 2u + 2u + clientUpdateFrame(0).size());
    EXPECT_EQ(Statistics::getInstance()->getMessages(udp_rcvd), 1u);
}

TEST_F(ServerPacketReceiverTest, BytesAfterTheLastFrameAreReportedWithTheSizeAfterThePrefix) {
    // A 6-byte frame (ObjectDestroy of id 200: three body bytes) and 2 stray bytes.
    Morvik::ObjectDestroy destroy;
    destroy.set_id(200);
    std::string frame;
    appendFrame(frame, MessageType::ObjectDestroy, destroy);
    ASSERT_EQ(frame.size(), 6u);
    testing::internal::CaptureStdout();
    send(prefix(2) + frame + "ab");
    const bool arrived = pumpUntil(io, [&] { return queued(false) == 1; });
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(printed, "Error has leftovers after UDP 2 of 8 - ab\n");
}

TEST_F(ServerPacketReceiverTest, ConnectionsAreQueuedInAcceptOrderWithTheirPeers) {
    testing::internal::CaptureStdout();
    tcp::socket first(clientIo), second(clientIo);
    first.connect(serverTcp());
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(true) == 1; }));
    second.connect(serverTcp());
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(true) == 2; }));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "New TCP connection from: 127.0.0.1\nNew TCP connection from: 127.0.0.1\n");

    const auto events = tcpEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->kind, NewConnection);
    EXPECT_EQ(events[1]->kind, NewConnection);
    EXPECT_NE(events[0]->connection, events[1]->connection);
    // This thread is the network thread here, so it may look at the sockets.
    EXPECT_EQ(events[0]->connection->socket().remote_endpoint(), first.local_endpoint());
    EXPECT_EQ(events[1]->connection->socket().remote_endpoint(), second.local_endpoint());
    boost::asio::ip::address peer;
    EXPECT_TRUE(receiver->peerAddress(events[0]->connection, peer));
    EXPECT_EQ(peer, loopback());
    EXPECT_EQ(Statistics::getInstance()->getMessages(tcp_rcvd), 2u);
}

TEST_F(ServerPacketReceiverTest, AClientThatLeavesAtOnceIsQueuedThenClosed) {
    testing::internal::CaptureStdout();
    {
        tcp::socket quick(clientIo);
        quick.connect(serverTcp());
    }
    const bool both = pumpUntil(io, [&] { return queued(true) == 2; });
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(both);
    const auto events = tcpEvents();
    EXPECT_EQ(events[0]->kind, NewConnection);
    EXPECT_EQ(events[1]->kind, ConnectionClosed);
    EXPECT_EQ(events[0]->connection, events[1]->connection);
    // Closed: the address is no longer known to anyone who handles the connection later.
    boost::asio::ip::address peer;
    EXPECT_FALSE(receiver->peerAddress(events[0]->connection, peer));
    EXPECT_NE(printed.find("TCP connection CLOSED err:End of file\n"), std::string::npos);
}

TEST_F(ServerPacketReceiverTest, AStalledClientIsClosedOnceThroughTheClosePath) {
    tcp::socket stalled(clientIo);
    stalled.open(tcp::v4());
    stalled.set_option(boost::asio::socket_base::receive_buffer_size(4096));
    stalled.connect(serverTcp());
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(true) == 1; }));
    const TcpConnection::Ptr connection = tcpEvents().front()->connection;

    testing::internal::CaptureStdout();
    connection->setBacklogCap(64 * 1024);
    connection->write(std::make_shared<const std::string>(1 << 20, 'x'), nullptr);
    const bool closed = pumpUntil(io, [&] { return queued(true) == 2; });
    // Whatever completes afterwards on that connection reports nothing new.
    progtest::pump(io);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    progtest::pump(io);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(closed);
    const auto events = tcpEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1]->kind, ConnectionClosed);
    EXPECT_EQ(events[1]->connection, connection);
    EXPECT_EQ(printed, "TCP connection CLOSED err:No buffer space available\n");
    EXPECT_TRUE(connection->isClosed());
}

TEST_F(ServerPacketReceiverTest, ClosingAConnectionFromTheMainSideIsHarmlessTwice) {
    tcp::socket peer(clientIo);
    peer.connect(serverTcp());
    ASSERT_TRUE(pumpUntil(io, [&] { return queued(true) == 1; }));
    const TcpConnection::Ptr connection = tcpEvents().front()->connection;
    EXPECT_TRUE(receiver->onConnectionClosed(connection));
    EXPECT_TRUE(receiver->onConnectionClosed(connection));
    EXPECT_TRUE(receiver->onConnectionClosed(nullptr));
    ASSERT_TRUE(pumpUntil(io, [&] { return connection->isClosed(); }));
}

TEST(ServerPacketReceiverStartTest, FailedUdpBindGivesThePortBack) {
    boost::asio::io_service io;
    // Hold a UDP port; the TCP port of the same number is free.
    udp::socket holder(io, udp::endpoint(udp::v4(), 0));
    const unsigned short port = holder.local_endpoint().port();
    try {
        ServerPacketReceiver receiver(io, port, port);
        FAIL() << "the receiver started on a taken UDP port";
    } catch (const boost::system::system_error& error) {
        EXPECT_EQ(error.code().value(), EADDRINUSE);
    }
    // Nobody listens on the TCP port any more.
    tcp::socket probe(io);
    boost::system::error_code error;
    probe.connect(tcp::endpoint(loopback(), port), error);
    EXPECT_EQ(error, boost::asio::error::connection_refused) << error.message();
}

TEST(ServerPacketReceiverStartTest, TakenTcpPortFailsTheStart) {
    boost::asio::io_service io;
    tcp::acceptor holder(io, tcp::endpoint(tcp::v4(), 0));
    const unsigned short port = holder.local_endpoint().port();
    EXPECT_THROW(ServerPacketReceiver(io, 0, port), boost::system::system_error);
}

}  // namespace
