// The receiver over real sockets on 127.0.0.1, with its own network thread.

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Common/AbstractPacketReceiver.h"
#include "Common/Controls.h"
#include "Common/FrameCodec.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/Statistics.h"
#include "tests/support/LoopbackSupport.h"

namespace {

using boost::asio::ip::udp;
using nettest::NetworkThread;

std::string destroyFrame(std::uint64_t id) {
    Morvik::ObjectDestroy message;
    message.set_id(id);
    std::string frame;
    appendFrame(frame, MessageType::ObjectDestroy, message);
    return frame;
}

std::string clientUpdateFrame(std::uint32_t boosters) {
    Morvik::ClientUpdate message;
    message.mutable_orientation()->set_x(0.0f);
    message.mutable_orientation()->set_y(0.0f);
    message.mutable_orientation()->set_z(0.0f);
    message.mutable_orientation()->set_w(1.0f);
    message.set_boosterson(boosters);
    std::string frame;
    appendFrame(frame, MessageType::ClientUpdate, message);
    return frame;
}

// Records what reaches the handlers (main thread) and counts the completions that reach the
// overridden receive operations (network thread). A completion is counted once the base has
// handled it, so whatever it queued is on its list by then.
class RecordingReceiver : public AbstractPacketReceiver {
public:
    explicit RecordingReceiver(boost::asio::io_service& io) : AbstractPacketReceiver(io) {
        udpSocket.open(udp::v4());
        udpSocket.bind(udp::endpoint(loopback(), 0));
        armUDPReceive(udpSocket);
    }

    void handleTCPReceive(const boost::system::error_code& error, const std::uint8_t* data,
                          std::size_t count, const TcpConnection::Ptr& connection) override {
        AbstractPacketReceiver::handleTCPReceive(error, data, count, connection);
        tcpBytes += count;
        ++tcpCompletions;
    }
    void handleTCPClose(const boost::system::error_code& error,
                        const TcpConnection::Ptr& connection) override {
        AbstractPacketReceiver::handleTCPClose(error, connection);
        ++closes;
    }
    void handleUDPReceive(const boost::system::error_code& error, const std::uint8_t* data,
                          std::size_t count, udp::socket& socket) override {
        AbstractPacketReceiver::handleUDPReceive(error, data, count, socket);
        ++udpCompletions;
    }

    bool onObjectDestroy(const Morvik::ObjectDestroy& message) override {
        calls.push_back("destroy " + std::to_string(message.id()));
        if (message.id() == failOn) {
            return false;
        }
        if (message.id() == throwOn) {
            throw std::runtime_error("handler failed");
        }
        return true;
    }
    bool onClientUpdate(const Morvik::ClientUpdate& message, std::uint16_t qport,
                        udp::endpoint sender) override {
        calls.push_back("client " + std::to_string(message.boosterson()) + " " +
                        std::to_string(qport) + " " + std::to_string(sender.port()));
        return true;
    }
    bool onNewConnection(const TcpConnection::Ptr& connection) override {
        calls.push_back(connection ? "new" : "new without connection");
        return true;
    }
    bool onConnectionClosed(const TcpConnection::Ptr& connection) override {
        calls.push_back(connection == watched ? "closed" : "closed other");
        return true;
    }

    // Network thread only, like the map itself.
    std::size_t leftoverEntries() const { return leftovers.size(); }

    std::atomic<int> tcpCompletions{0};
    std::atomic<std::size_t> tcpBytes{0};
    std::atomic<int> closes{0};
    std::atomic<int> udpCompletions{0};
    std::vector<std::string> calls;
    std::uint64_t failOn = 0;
    std::uint64_t throwOn = 0;
    TcpConnection::Ptr watched;
};

class AbstractPacketReceiverTest : public testing::Test {
protected:
    void SetUp() override {
        Statistics::getInstance()->resetForTesting();
        receiverEndpoint = receiver.getUDPSocket().local_endpoint();
        peerUdp.open(udp::v4());
        peerUdp.bind(udp::endpoint(loopback(), 0));
        net.start();
    }
    void TearDown() override { net.stop(); }

    // Connects a peer and arms the connection's first receive once bytes are already
    // waiting, so that the first read takes them all.
    void connectWithBytes(const std::string& bytes) {
        pair = nettest::connectPair(net.io, peerIo);
        receiver.watched = pair.connection;
        if (!bytes.empty()) {
            boost::asio::write(*pair.peer, boost::asio::buffer(bytes));
        }
        net.run([&] {
            receiver.startTCPReceive(pair.connection);
            return 0;
        });
    }

    void sendDatagram(const std::string& bytes) {
        peerUdp.send_to(boost::asio::buffer(bytes), receiverEndpoint);
    }

    std::uint64_t packets(int channel) { return Statistics::getInstance()->getPackets(channel); }
    std::uint64_t messages(int channel) { return Statistics::getInstance()->getMessages(channel); }
    std::uint64_t bytes(int channel) { return Statistics::getInstance()->getBytes(channel); }

    NetworkThread net;
    RecordingReceiver receiver{net.io};
    boost::asio::io_service peerIo;
    udp::socket peerUdp{peerIo};
    udp::endpoint receiverEndpoint;
    nettest::TcpPair pair;
};

using Calls = std::vector<std::string>;

}  // namespace

TEST_F(AbstractPacketReceiverTest, EachTransportFillsItsOwnListAndTcpIsDrainedFirst) {
    // UDP first, so arrival order alone would put it in front.
    sendDatagram(destroyFrame(11));
    sendDatagram(destroyFrame(12) + destroyFrame(13));
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 2; }, nettest::kWaitLimit));

    const std::string third = destroyFrame(3);
    const std::string head = destroyFrame(1) + destroyFrame(2) + third.substr(0, 4);
    connectWithBytes(head);
    ASSERT_TRUE(waitUntil([&] { return receiver.tcpBytes == head.size(); }, nettest::kWaitLimit));
    boost::asio::write(*pair.peer, boost::asio::buffer(third.substr(4)));
    ASSERT_TRUE(waitUntil([&] { return receiver.tcpBytes == head.size() + third.size() - 4; },
                          nettest::kWaitLimit));

    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 1", "destroy 2", "destroy 3", "destroy 11",
                                     "destroy 12", "destroy 13"}));

    receiver.calls.clear();
    receiver.processEvents();
    EXPECT_TRUE(receiver.calls.empty());
}

TEST_F(AbstractPacketReceiverTest, HandlerReturningFalseDropsTheRestOfItsListOnly) {
    receiver.failOn = 2;
    for (std::uint64_t id = 1; id <= 5; ++id) {
        sendDatagram(destroyFrame(id));
    }
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 5; }, nettest::kWaitLimit));
    const std::string stream = destroyFrame(2) + destroyFrame(7);
    connectWithBytes(stream);
    ASSERT_TRUE(waitUntil([&] { return receiver.tcpBytes == stream.size(); }, nettest::kWaitLimit));

    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 2", "destroy 1", "destroy 2"}));

    // What was dropped does not come back with the next drain.
    receiver.calls.clear();
    sendDatagram(destroyFrame(6));
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 6; }, nettest::kWaitLimit));
    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 6"}));
}

TEST_F(AbstractPacketReceiverTest, ThrowingHandlerReleasesTheLockAndClearsTheList) {
    receiver.throwOn = 1;
    sendDatagram(destroyFrame(1));
    sendDatagram(destroyFrame(2));
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 2; }, nettest::kWaitLimit));
    EXPECT_THROW(receiver.processEvents(), std::runtime_error);

    // The network thread can still queue: a lock left held would stop it before the count.
    sendDatagram(destroyFrame(3));
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 3; }, nettest::kWaitLimit));
    receiver.calls.clear();
    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 3"}));
}

TEST_F(AbstractPacketReceiverTest, UdpCountersCountCompletionsEventsAndBytes) {
    const std::string two = destroyFrame(1) + destroyFrame(2);
    sendDatagram(two);
    sendDatagram("");
    sendDatagram(destroyFrame(3));
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 3; }, nettest::kWaitLimit));

    // The empty datagram is a packet of 0 bytes without an event.
    EXPECT_EQ(packets(udp_rcvd), 3u);
    EXPECT_EQ(messages(udp_rcvd), 3u);
    EXPECT_EQ(bytes(udp_rcvd), two.size() + destroyFrame(3).size());
    EXPECT_EQ(receiver.udpCompletions, 3);
    EXPECT_EQ(packets(tcp_rcvd) + packets(tcp_sent) + packets(udp_sent), 0u);
}

TEST_F(AbstractPacketReceiverTest, TcpCountersIncludeTheCloseAndConnectionEvents) {
    const std::string frames = destroyFrame(1) + destroyFrame(2);
    connectWithBytes(frames);
    ASSERT_TRUE(waitUntil([&] { return receiver.tcpBytes == frames.size(); }, nettest::kWaitLimit));
    EXPECT_EQ(packets(tcp_rcvd), 1u);
    EXPECT_EQ(bytes(tcp_rcvd), frames.size());
    EXPECT_EQ(messages(tcp_rcvd), 2u);

    pair.peer->close();
    ASSERT_TRUE(waitUntil([&] { return receiver.tcpCompletions == 2; }, nettest::kWaitLimit));
    // The end of the stream is one more packet of 0 bytes and one more message.
    EXPECT_EQ(packets(tcp_rcvd), 2u);
    EXPECT_EQ(bytes(tcp_rcvd), frames.size());
    EXPECT_EQ(messages(tcp_rcvd), 3u);
    EXPECT_EQ(receiver.tcpCompletions, 2);

    auto event = std::make_shared<NetworkEvent>();
    event->kind = NewConnection;
    event->connection = pair.connection;
    receiver.pushTCPEvent(event);
    EXPECT_EQ(messages(tcp_rcvd), 4u);

    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 1", "destroy 2", "closed", "new"}));
}

TEST_F(AbstractPacketReceiverTest, PeerCloseInsideAFrameGivesOneCloseAndNoLeftover) {
    connectWithBytes(destroyFrame(1) + destroyFrame(2).substr(0, 3));
    ASSERT_TRUE(waitUntil([&] { return receiver.tcpBytes == destroyFrame(1).size() + 3; },
                          nettest::kWaitLimit));
    EXPECT_EQ(net.run([&] { return receiver.leftoverEntries(); }), 1u);

    nettest::StdoutCapture capture;
    pair.peer->close();
    ASSERT_TRUE(waitUntil([&] { return receiver.closes == 1; }, nettest::kWaitLimit));
    // A second report of the same end, as when an owner's close and a failed read meet.
    net.run([&] {
        receiver.handleTCPClose(boost::asio::error::operation_aborted, pair.connection);
        return 0;
    });
    const std::string out = capture.take();

    EXPECT_EQ(net.run([&] { return receiver.leftoverEntries(); }), 0u);
    EXPECT_TRUE(net.run([&] { return pair.connection->isClosed(); }));
    EXPECT_EQ(out, "TCP connection CLOSED err:" +
                       boost::system::error_code(boost::asio::error::eof).message() + "\n");
    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 1", "closed"}));
}

TEST_F(AbstractPacketReceiverTest, OwnerCloseWithAReadOutstandingGivesOneClose) {
    connectWithBytes("");
    nettest::StdoutCapture capture;
    net.run([&] {
        receiver.handleTCPClose(boost::asio::error::operation_aborted, pair.connection);
        return 0;
    });
    // The cancelled read completes after the close; once this marker has run, it has too.
    ASSERT_TRUE(waitUntil([&] { return receiver.tcpCompletions == 1; }, nettest::kWaitLimit));
    net.run([] { return 0; });
    capture.take();
    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"closed"}));

    char byte = 0;
    boost::system::error_code error;
    pair.peer->read_some(boost::asio::buffer(&byte, 1), error);
    EXPECT_EQ(error, boost::asio::error::eof);
}

TEST_F(AbstractPacketReceiverTest, ZeroLengthFrameClosesTheTcpConnection) {
    nettest::StdoutCapture capture;
    connectWithBytes(destroyFrame(1) + std::string("\x00\x00", 2) + destroyFrame(2));
    ASSERT_TRUE(waitUntil([&] { return receiver.closes == 1; }, nettest::kWaitLimit));
    const std::string out = capture.take();
    EXPECT_EQ(out,
              "Error in deserializing of message\nTCP connection CLOSED err:" +
                  boost::system::errc::make_error_code(boost::system::errc::bad_message).message() +
                  "\n");

    // The peer is disconnected rather than left waiting.
    char byte = 0;
    boost::system::error_code error;
    pair.peer->read_some(boost::asio::buffer(&byte, 1), error);
    EXPECT_EQ(error, boost::asio::error::eof);

    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 1", "closed"}));
    EXPECT_EQ(net.run([&] { return receiver.leftoverEntries(); }), 0u);
}

TEST_F(AbstractPacketReceiverTest, ZeroLengthFrameDropsTheRestOfTheDatagramOnly) {
    nettest::StdoutCapture capture;
    sendDatagram(destroyFrame(1) + std::string("\x00\x00", 2) + destroyFrame(2));
    sendDatagram(destroyFrame(3));
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 2; }, nettest::kWaitLimit));
    net.run([] { return 0; });
    EXPECT_EQ(capture.take(), "Error in deserializing of message\n");
    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 1", "destroy 3"}));
}

TEST_F(AbstractPacketReceiverTest, DatagramLeftoverIsPrintedEscapedUpToTheFirstZero) {
    const std::string frame = destroyFrame(1);
    // 'A', 0x01 read as length 0x0141: more than what follows, so it is left over.
    const std::string rest("A\x01\x1b\n\0Z", 6);
    nettest::StdoutCapture capture;
    sendDatagram(frame + rest);
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 1; }, nettest::kWaitLimit));
    net.run([] { return 0; });
    const std::string out = capture.take();
    EXPECT_EQ(out, "Error has leftovers after UDP 6 of " + std::to_string(frame.size() + 6) +
                       " - A\\x01\\x1b\\x0a\n");
}

TEST_F(AbstractPacketReceiverTest, UdpErrorDoesNotEndReception) {
    // A port nobody listens on: sending there from a connected socket brings the refusal back
    // to the outstanding receive.
    udp::endpoint deadEnd;
    {
        udp::socket probe(peerIo, udp::endpoint(loopback(), 0));
        deadEnd = probe.local_endpoint();
    }
    nettest::StdoutCapture capture;
    net.run([&] {
        receiver.getUDPSocket().connect(deadEnd);
        receiver.getUDPSocket().send(boost::asio::buffer("x", 1));
        return 0;
    });
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 1; }, nettest::kWaitLimit));
    net.run([] { return 0; });
    const std::string out = capture.take();
    const boost::system::error_code refused = boost::asio::error::connection_refused;
    EXPECT_EQ(out, "Error in handleUDPReceive: " + refused.message() + " (" +
                       std::to_string(refused.value()) + ")\n");
    EXPECT_EQ(packets(udp_rcvd), 1u);

    // The connected socket only takes datagrams from that port, so send from there.
    udp::socket revived(peerIo);
    revived.open(udp::v4());
    revived.set_option(boost::asio::socket_base::reuse_address(true));
    revived.bind(deadEnd);
    const std::string frame = destroyFrame(5);
    revived.send_to(boost::asio::buffer(frame), receiverEndpoint);
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 2; }, nettest::kWaitLimit));
    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 5"}));
}

TEST_F(AbstractPacketReceiverTest, ClosingTheUdpSocketEndsReceptionQuietly) {
    nettest::StdoutCapture capture;
    net.run([&] {
        receiver.getUDPSocket().close();
        return 0;
    });
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions >= 1; }, nettest::kWaitLimit));
    // Had the receive been armed again, its failure would follow the cancel.
    net.run([] { return 0; });
    net.run([] { return 0; });
    const std::string out = capture.take();
    const boost::system::error_code aborted = boost::asio::error::operation_aborted;
    EXPECT_EQ(out, "Error in handleUDPReceive: " + aborted.message() + " (" +
                       std::to_string(aborted.value()) + ")\n");
    EXPECT_EQ(receiver.udpCompletions, 1);
}

TEST_F(AbstractPacketReceiverTest, ClientUpdateWithoutSenderIsDropped) {
    sendDatagram(clientUpdateFrame(1) + destroyFrame(1));
    const std::string stream = clientUpdateFrame(2) + destroyFrame(2);
    connectWithBytes(stream);
    ASSERT_TRUE(waitUntil(
        [&] { return receiver.udpCompletions == 1 && receiver.tcpBytes == stream.size(); },
        nettest::kWaitLimit));

    // As the server's receive delivers one: with the prefix's qport and the sender.
    Morvik::ClientUpdate message;
    ASSERT_TRUE(message.ParseFromString(clientUpdateFrame(controls::kFire).substr(3)));
    auto event = std::make_shared<NetworkEvent>();
    event->type = static_cast<int>(MessageType::ClientUpdate);
    event->message = std::make_unique<Morvik::ClientUpdate>(message);
    event->qport = 513;
    event->sender = std::make_unique<udp::endpoint>(loopback(), 4321);
    receiver.pushUDPEvent(event);

    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 2", "destroy 1",
                                     "client " + std::to_string(controls::kFire) + " 513 4321"}));
}

TEST_F(AbstractPacketReceiverTest, EventOfUnknownKindOrTypeEndsTheDrain) {
    auto unknownKind = std::make_shared<NetworkEvent>();
    unknownKind->kind = 7;
    auto unknownType = std::make_shared<NetworkEvent>();
    unknownType->type = 9;
    sendDatagram(destroyFrame(1));
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 1; }, nettest::kWaitLimit));
    receiver.pushUDPEvent(unknownKind);
    receiver.pushTCPEvent(unknownType);
    sendDatagram(destroyFrame(2));
    ASSERT_TRUE(waitUntil([&] { return receiver.udpCompletions == 2; }, nettest::kWaitLimit));
    receiver.processEvents();
    EXPECT_EQ(receiver.calls, (Calls{"destroy 1"}));
}
