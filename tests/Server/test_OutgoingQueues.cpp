#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/asio/socket_base.hpp>
#include <cerrno>
#include <deque>

#include "Common/MessageConversions.h"
#include "Common/ObjectTypes.h"
#include "ServerTestSupport.h"
#include "tests/support/LoopbackSupport.h"

using namespace servertest;
using boost::asio::ip::address_v4;
using boost::asio::ip::tcp;
using boost::asio::ip::udp;

namespace {

Morvik::ObjectInfo infoWithId(std::uint64_t id, std::size_t padding = 0) {
    Morvik::ObjectInfo info;
    info.set_id(id);
    info.set_objecttype(kPlayerType);
    info.set_timestamp(0);
    setPosition(info.mutable_position(), Vec3(1, 2, 3));
    setOrientation(info.mutable_orientation(), Quaternion());
    info.mutable_playerdata()->set_health(100.0f);
    if (padding > 0) {
        info.mutable_playerdata()->set_name(std::string(padding, 'p'));
    }
    return info;
}

Morvik::ObjectUpdate updateWithId(std::uint64_t id) {
    Morvik::ObjectUpdate update;
    update.set_id(id);
    update.set_timestamp(0);
    setPosition(update.mutable_position(), Vec3(4, 5, 6));
    return update;
}

// A valid ObjectInfo whose encoding is exactly size bytes (size >= 200), padded by its name.
Morvik::ObjectInfo messageOfSize(std::size_t size) {
    Morvik::ObjectInfo info = infoWithId(1);
    std::size_t nameLength = size;
    do {
        --nameLength;
        info.mutable_playerdata()->set_name(std::string(nameLength, 'n'));
    } while (info.ByteSizeLong() > size);
    EXPECT_EQ(info.ByteSizeLong(), size);
    return info;
}

std::vector<NetworkEventPtr> decodeStream(const std::string& bytes) {
    std::string leftover;
    bool malformed = false;
    auto events = splitFrames(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                              leftover, malformed);
    EXPECT_FALSE(malformed);
    EXPECT_TRUE(leftover.empty());
    return events;
}

std::uint64_t idOf(const NetworkEventPtr& event) {
    if (auto* info = dynamic_cast<const Morvik::ObjectInfo*>(event->message.get())) {
        return info->id();
    }
    if (auto* update = dynamic_cast<const Morvik::ObjectUpdate*>(event->message.get())) {
        return update->id();
    }
    if (auto* welcome = dynamic_cast<const Morvik::Welcome*>(event->message.get())) {
        return welcome->id();
    }
    return 0;
}

std::size_t totalSize(const OutgoingQueues::BufferList& list) {
    std::size_t size = 0;
    for (const auto& buffer : list) {
        size += buffer->size();
    }
    return size;
}

}  // namespace

// ---- framing, batching and counting, without sockets ----

class OutgoingQueuesTest : public ServerWorldTest {
protected:
    OutgoingQueues* queues = OutgoingQueues::getInstance();
};

TEST_F(OutgoingQueuesTest, AFrameIsLengthThenTypeThenBody) {
    Morvik::ObjectDestroy destroy;
    destroy.set_id(300);  // field 1 varint: 0x08, then 300 = 0xAC 0x02
    std::string buffer = "x";
    OutgoingQueues::appendFrame(destroy, buffer, MessageType::ObjectDestroy);
    EXPECT_EQ(buffer, std::string("x\x04\x00\x03\x08\xAC\x02", 7));

    const Morvik::ObjectInfo big = messageOfSize(300);  // N = 301 = 0x012D
    buffer.clear();
    OutgoingQueues::appendFrame(big, buffer, MessageType::ObjectInfo);
    ASSERT_EQ(buffer.size(), 303u);
    EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0x2D);
    EXPECT_EQ(static_cast<unsigned char>(buffer[1]), 0x01);
    EXPECT_EQ(buffer[2], 1);
    EXPECT_EQ(buffer.substr(3), big.SerializeAsString());
}

TEST_F(OutgoingQueuesTest, AFrameJoinsTheBufferWhileLengthPlusNStaysWithinOneThousand) {
    OutgoingQueues::BufferList fits;
    queues->enqueueMessage(messageOfSize(497), fits, MessageType::ObjectInfo);  // 500 bytes
    queues->enqueueMessage(messageOfSize(499), fits, MessageType::ObjectInfo);  // N = 500
    ASSERT_EQ(fits.size(), 1u);
    EXPECT_EQ(fits[0]->size(), 1002u);

    OutgoingQueues::BufferList overflows;
    queues->enqueueMessage(messageOfSize(498), overflows, MessageType::ObjectInfo);  // 501 bytes
    queues->enqueueMessage(messageOfSize(499), overflows, MessageType::ObjectInfo);
    ASSERT_EQ(overflows.size(), 2u);
    EXPECT_EQ(overflows[0]->size(), 501u);
    EXPECT_EQ(overflows[1]->size(), 502u);
}

TEST_F(OutgoingQueuesTest, AnOversizedFrameGetsABufferOfItsOwnAndNoEmptyOne) {
    OutgoingQueues::BufferList list;
    queues->enqueueMessage(messageOfSize(1500), list, MessageType::ObjectInfo);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->size(), 1503u);
    queues->enqueueMessage(messageOfSize(200), list, MessageType::ObjectInfo);
    ASSERT_EQ(list.size(), 2u);
    queues->enqueueMessage(messageOfSize(1500), list, MessageType::ObjectInfo);
    ASSERT_EQ(list.size(), 3u);
    for (const auto& buffer : list) {
        EXPECT_FALSE(buffer->empty());
    }
    EXPECT_EQ(decodeList(list).size(), 3u);
}

TEST_F(OutgoingQueuesTest, MessagesAreStampedAndCountedPerPlayerWhenQueued) {
    Player* first = joinPlayer();
    joinPlayer();
    joinPlayer();
    Statistics* stats = Statistics::getInstance();
    fakeNowMs = (std::uint64_t{1} << 32) + 77;  // the stamp keeps the low 32 bits

    Morvik::ObjectUpdate update = updateWithId(5);
    queues->broadcastObjectUpdate(update);
    EXPECT_EQ(update.timestamp(), 77u);
    EXPECT_EQ(stats->getMessages(udp_sent), 3u);

    Morvik::ObjectInfo info = infoWithId(6);
    queues->broadcastObjectInfo(info);
    EXPECT_EQ(info.timestamp(), 77u);
    EXPECT_EQ(stats->getMessages(tcp_sent), 3u);

    Morvik::ObjectInfo own = infoWithId(7);
    fakeNowMs = 90;
    queues->sendObjectInfoTo(own, first);
    EXPECT_EQ(own.timestamp(), 90u);
    EXPECT_EQ(stats->getMessages(tcp_sent), 4u);
    ASSERT_EQ(ownInfos(first).size(), 1u);
    EXPECT_EQ(ownInfos(first)[0].timestamp(), 90u);

    EXPECT_EQ(stats->getPackets(udp_sent), 0u);  // nothing goes out before the flush
    EXPECT_EQ(stats->getPackets(tcp_sent), 0u);
}

TEST_F(OutgoingQueuesTest, AShotsDestroyGoesByUdpAndAPlayersByTcp) {
    joinPlayer();
    joinPlayer();
    Statistics* stats = Statistics::getInstance();
    Morvik::ObjectDestroy shot;
    shot.set_id(11);
    queues->broadcastObjectDestroy(shot, 1);
    Morvik::ObjectDestroy player;
    player.set_id(12);
    queues->broadcastObjectDestroy(player, 0);

    const auto udp = udpDestroys();
    ASSERT_EQ(udp.size(), 1u);
    EXPECT_EQ(udp[0].id(), 11u);
    const auto tcp =
        messagesIn<Morvik::ObjectDestroy>(queues->tcpBroadcast, MessageType::ObjectDestroy);
    ASSERT_EQ(tcp.size(), 1u);
    EXPECT_EQ(tcp[0].id(), 12u);
    EXPECT_EQ(stats->getMessages(udp_sent), 2u);
    EXPECT_EQ(stats->getMessages(tcp_sent), 2u);
}

TEST_F(OutgoingQueuesTest, WithoutPlayersNothingIsCountedOrSent) {
    Morvik::ObjectUpdate update = updateWithId(5);
    queues->broadcastObjectUpdate(update);
    Morvik::ObjectInfo info = infoWithId(6);
    queues->broadcastObjectInfo(info);
    EXPECT_EQ(Statistics::getInstance()->getMessages(udp_sent), 0u);
    EXPECT_EQ(Statistics::getInstance()->getMessages(tcp_sent), 0u);
    queues->flush();
    EXPECT_TRUE(queues->udpBroadcast.empty());
    EXPECT_TRUE(queues->tcpBroadcast.empty());
    EXPECT_EQ(Statistics::getInstance()->getPackets(udp_sent), 0u);
}

// ---- the flush over real sockets ----

class QueuesOverLoopbackTest : public ServerWorldTest {
protected:
    struct Client {
        Player* player = nullptr;
        TcpConnection::Ptr connection;  // kept by the test also after the player left
        std::unique_ptr<tcp::socket> tcpPeer;
        std::unique_ptr<udp::socket> udpPeer;
    };

    void SetUp() override {
        ServerWorldTest::SetUp();
        queues->openSocket(network.io);
        network.start();
    }

    void TearDown() override {
        network.stop();
        ServerWorldTest::TearDown();  // deletes the players and closes the send socket
        clients.clear();
    }

    // A joined player with a TCP connection (its peer read by the test) and a UDP endpoint.
    // peerReceiveBuffer > 0 shrinks what the peer's kernel takes before the peer reads.
    Client& join(int peerReceiveBuffer = 0) {
        Client& client = clients.emplace_back();
        tcp::acceptor acceptor(peerIo, tcp::endpoint(address_v4::loopback(), 0));
        if (peerReceiveBuffer > 0) {
            acceptor.set_option(boost::asio::socket_base::receive_buffer_size(peerReceiveBuffer));
        }
        client.connection = TcpConnection::create(network.io);
        tcp::socket& socket = client.connection->socket();
        socket.open(tcp::v4());
        if (peerReceiveBuffer > 0) {
            socket.set_option(boost::asio::socket_base::send_buffer_size(peerReceiveBuffer));
        }
        socket.connect(acceptor.local_endpoint());
        client.tcpPeer = std::make_unique<tcp::socket>(peerIo);
        acceptor.accept(*client.tcpPeer);

        client.udpPeer =
            std::make_unique<udp::socket>(peerIo, udp::endpoint(address_v4::loopback(), 0));
        client.player = joinPlayer();
        client.player->connection = client.connection;
        client.player->udpEndpoint = client.udpPeer->local_endpoint();
        return client;
    }

    // What the flush hands this client's TCP connection: its own lists, then the broadcasts.
    std::size_t tcpBytesFor(const Client& client) {
        std::size_t size = totalSize(queues->tcpBroadcast);
        const auto it = queues->tcpQueues.find(client.player);
        if (it != queues->tcpQueues.end()) {
            size += totalSize(it->second);
        }
        return size;
    }

    OutgoingQueues* queues = OutgoingQueues::getInstance();
    Statistics* stats = Statistics::getInstance();
    boost::asio::io_service peerIo;  // never run: the test reads its peers itself
    nettest::NetworkThread network;
    std::deque<Client> clients;
};

TEST_F(QueuesOverLoopbackTest, AClientsOwnDataArrivesBeforeThatTicksBroadcastsInQueueOrder) {
    Client& a = join();
    Client& b = join();
    Morvik::ObjectInfo announcement = infoWithId(900);
    queues->broadcastObjectInfo(announcement);  // queued first, sent after a's own data
    Morvik::Welcome welcome;
    welcome.set_id(1);
    welcome.set_qport(2);
    welcome.mutable_playerdata()->set_health(100.0f);
    queues->enqueueMessage(welcome, queues->clientQueue(a.player), MessageType::Welcome);
    for (std::uint64_t id = 2; id <= 8; ++id) {  // several buffers' worth
        Morvik::ObjectInfo info = infoWithId(id, 300);
        queues->sendObjectInfoTo(info, a.player);
    }
    ASSERT_GT(queues->clientQueue(a.player).size(), 1u);
    const std::size_t aBytes = tcpBytesFor(a);
    const std::size_t bBytes = tcpBytesFor(b);
    queues->flush();
    EXPECT_TRUE(queues->tcpQueues.empty());
    EXPECT_TRUE(queues->tcpBroadcast.empty());

    const auto aEvents = decodeStream(nettest::readBytes(*a.tcpPeer, aBytes));
    ASSERT_EQ(aEvents.size(), 9u);
    EXPECT_EQ(aEvents[0]->type, static_cast<int>(MessageType::Welcome));
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(idOf(aEvents[i]), i + 1);
    }
    EXPECT_EQ(idOf(aEvents[8]), 900u);

    const auto bEvents = decodeStream(nettest::readBytes(*b.tcpPeer, bBytes));
    ASSERT_EQ(bEvents.size(), 1u);
    EXPECT_EQ(idOf(bEvents[0]), 900u);
}

TEST_F(QueuesOverLoopbackTest, UdpReachesEveryPlayerOfTheGroupAndTcpOnlyThoseStillConnected) {
    Client& stays = join();
    Client& left = join();
    Morvik::ObjectInfo own = infoWithId(50);
    queues->sendObjectInfoTo(own, left.player);
    // The player left this tick: still in the group, without a connection.
    SceneGraph::getInstance()->unfileConnection(left.player->getConnectionKey());
    left.player->connection.reset();
    SceneGraph::getInstance()->remove(left.player);

    Morvik::ObjectUpdate update = updateWithId(60);
    queues->broadcastObjectUpdate(update);
    Morvik::ObjectDestroy gone;
    gone.set_id(left.player->id);
    queues->broadcastObjectDestroy(gone, 0);
    const std::string datagram = *queues->udpBroadcast.front();
    const std::size_t staysBytes = tcpBytesFor(stays);
    queues->flush();

    for (Client* client : {&stays, &left}) {
        const auto received = nettest::receiveDatagram(*client->udpPeer);
        ASSERT_TRUE(received.has_value());
        EXPECT_EQ(*received, datagram);  // whole frames, no prefix
    }
    const auto events = decodeStream(nettest::readBytes(*stays.tcpPeer, staysBytes));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->type, static_cast<int>(MessageType::ObjectDestroy));

    // Nothing went to the departed client's connection: the first bytes it gets are these.
    const auto marker = std::make_shared<const std::string>("marker");
    left.connection->write(marker, nullptr);
    EXPECT_EQ(nettest::readBytes(*left.tcpPeer, marker->size()), *marker);
    EXPECT_EQ(stats->getPackets(udp_sent), 2u);
    EXPECT_TRUE(waitUntil([&] { return stats->getPackets(tcp_sent) == 1; }, nettest::kWaitLimit));
}

TEST_F(QueuesOverLoopbackTest, TheBatchLimitHoldsOnTheWire) {
    Client& client = join();
    queues->enqueueMessage(messageOfSize(497), queues->udpBroadcast, MessageType::ObjectInfo);
    queues->enqueueMessage(messageOfSize(499), queues->udpBroadcast, MessageType::ObjectInfo);
    queues->flush();
    auto datagram = nettest::receiveDatagram(*client.udpPeer);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->size(), 1002u);
    EXPECT_EQ(decodeStream(*datagram).size(), 2u);

    queues->enqueueMessage(messageOfSize(498), queues->udpBroadcast, MessageType::ObjectInfo);
    queues->enqueueMessage(messageOfSize(499), queues->udpBroadcast, MessageType::ObjectInfo);
    queues->flush();
    for (std::size_t size : {501u, 502u}) {
        datagram = nettest::receiveDatagram(*client.udpPeer);
        ASSERT_TRUE(datagram.has_value());
        EXPECT_EQ(datagram->size(), size);
    }
}

TEST_F(QueuesOverLoopbackTest, PacketsAndBytesAreCountedPerBufferAndDestination) {
    Client& first = join();
    join();
    join();
    // Two datagrams' worth of updates for three players.
    std::uint64_t id = 1;
    while (queues->udpBroadcast.size() < 2) {
        Morvik::ObjectUpdate update = updateWithId(id++);
        queues->broadcastObjectUpdate(update);
    }
    Morvik::ObjectInfo own = infoWithId(100);
    queues->sendObjectInfoTo(own, first.player);
    Morvik::ObjectInfo announcement = infoWithId(101);
    queues->broadcastObjectInfo(announcement);
    EXPECT_EQ(stats->getMessages(udp_sent), 3 * (id - 1));
    EXPECT_EQ(stats->getMessages(tcp_sent), 1u + 3u);

    const std::size_t udpBytes = totalSize(queues->udpBroadcast);
    const std::size_t ownBytes = totalSize(queues->clientQueue(first.player));
    const std::size_t broadcastBytes = totalSize(queues->tcpBroadcast);
    queues->flush();

    // UDP is counted by the flush itself.
    EXPECT_EQ(stats->getPackets(udp_sent), 2u * 3u);
    EXPECT_EQ(stats->getBytes(udp_sent), 3 * udpBytes);
    // TCP once the network thread has written each buffer: one own, three broadcasts.
    EXPECT_TRUE(waitUntil([&] { return stats->getPackets(tcp_sent) == 4; }, nettest::kWaitLimit));
    EXPECT_TRUE(
        waitUntil([&] { return stats->getBytes(tcp_sent) == ownBytes + 3 * broadcastBytes; },
                  nettest::kWaitLimit));
    for (Client& client : clients) {
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(nettest::receiveDatagram(*client.udpPeer).has_value());
        }
    }

    // An empty tick sends nothing.
    queues->flush();
    EXPECT_EQ(stats->getPackets(udp_sent), 6u);
    EXPECT_EQ(stats->getPackets(tcp_sent), 4u);
}

TEST_F(QueuesOverLoopbackTest, AFailedDatagramIsReportedAndTheOthersStillGo) {
    Client& good = join();
    Client& bad = join();
    bad.player->udpEndpoint = udp::endpoint(address_v4::loopback(), 0);  // refused locally
    EXPECT_TRUE(queues->udpSocket->non_blocking());
    Morvik::ObjectUpdate update = updateWithId(3);
    queues->broadcastObjectUpdate(update);
    const std::size_t size = totalSize(queues->udpBroadcast);

    nettest::StdoutCapture capture;
    queues->flush();
    const std::string output = capture.take();
    const std::string reason =
        boost::system::error_code(EINVAL, boost::system::system_category()).message();
    EXPECT_EQ(output,
              "Error while broadcasting: " + reason + " (" + std::to_string(EINVAL) + ")\n");
    EXPECT_EQ(stats->getPackets(udp_sent), 2u);
    EXPECT_EQ(stats->getBytes(udp_sent), size);
    EXPECT_TRUE(nettest::receiveDatagram(*good.udpPeer).has_value());
}

TEST_F(QueuesOverLoopbackTest, AFailedTcpWriteIsReportedFromItsCompletion) {
    Client& client = join();
    // The peer resets the connection.
    client.tcpPeer->set_option(boost::asio::socket_base::linger(true, 0));
    client.tcpPeer->close();

    nettest::StdoutCapture capture;
    bool reported = false;
    std::uint64_t written = 0;
    for (int tick = 0; tick < 20 && !reported; ++tick) {
        Morvik::ObjectInfo own = infoWithId(1);
        queues->sendObjectInfoTo(own, client.player);
        written += totalSize(queues->clientQueue(client.player));
        queues->flush();
        const std::uint64_t ticks = tick + 1;
        ASSERT_TRUE(
            waitUntil([&] { return stats->getPackets(tcp_sent) == ticks; }, nettest::kWaitLimit));
        reported = stats->getBytes(tcp_sent) < written;
    }
    network.run([] { return 0; });  // the report follows the count in the same completion
    const std::string output = capture.take();
    ASSERT_TRUE(reported);
    EXPECT_EQ(output.rfind("Error while sending: ", 0), 0u) << output;
    EXPECT_EQ(output.back(), '\n');
}

TEST_F(QueuesOverLoopbackTest, WritesToAConnectionClosedBeforeTheFlushAreReportedOnceAndCounted) {
    Client& client = join();
    // The network thread closed it; the tick has not heard of that yet.
    network.run([&] { return client.connection->close(); });
    Morvik::ObjectInfo own = infoWithId(1);
    queues->sendObjectInfoTo(own, client.player);
    Morvik::ObjectInfo announcement = infoWithId(2);
    queues->broadcastObjectInfo(announcement);

    nettest::StdoutCapture capture;
    queues->flush();
    ASSERT_TRUE(waitUntil([&] { return stats->getPackets(tcp_sent) == 2; }, nettest::kWaitLimit));
    network.run([] { return 0; });  // the second write's completion has ended by now
    const std::string reason =
        boost::system::error_code(EBADF, boost::system::system_category()).message() + " (" +
        std::to_string(EBADF) + ")\n";
    // The dead connection is told of by its first failed write only.
    EXPECT_EQ(capture.take(), "Error while sending: " + reason);
    EXPECT_EQ(stats->getBytes(tcp_sent), 0u);
}

TEST_F(QueuesOverLoopbackTest, APeerThatNeverReadsNeitherBlocksTheFlushNorStaysOpen) {
    Client& stalled = join(4096);
    Client& reading = join();
    const std::size_t cap = 64 * 1024;
    TcpConnection::Ptr stalledConnection = stalled.connection;
    network.run([&] {
        stalledConnection->setBacklogCap(cap);
        // What the server's receiver does on overflow: close through the normal path.
        stalledConnection->setOverflowHandler([](const TcpConnection::Ptr& c) { c->close(); });
        return 0;
    });

    std::size_t readingBytes = 0;
    std::string readingStream;
    std::uint64_t buffersHandedOver = 0;
    nettest::StdoutCapture capture;
    // Each tick queues about 100 KB for the stalled client, far beyond what its kernel takes.
    const int ticks = 40;
    for (int tick = 0; tick < ticks; ++tick) {
        for (int i = 0; i < 100; ++i) {
            Morvik::ObjectInfo own = infoWithId(tick * 1000 + i, 950);
            queues->sendObjectInfoTo(own, stalled.player);
        }
        Morvik::ObjectInfo announcement = infoWithId(tick + 1);
        queues->broadcastObjectInfo(announcement);
        readingBytes += tcpBytesFor(reading);
        buffersHandedOver +=
            queues->clientQueue(stalled.player).size() + 2 * queues->tcpBroadcast.size();
        queues->flush();
    }

    EXPECT_TRUE(
        waitUntil([&] { return network.run([&] { return stalledConnection->isClosed(); }); },
                  nettest::kWaitLimit));
    // The other client got every tick's broadcast, in order.
    const auto events = decodeStream(nettest::readBytes(*reading.tcpPeer, readingBytes));
    ASSERT_EQ(events.size(), static_cast<std::size_t>(ticks));
    for (int tick = 0; tick < ticks; ++tick) {
        EXPECT_EQ(idOf(events[tick]), static_cast<std::uint64_t>(tick + 1));
    }
    // Flushing to a closed connection still returns.
    Morvik::ObjectInfo own = infoWithId(7);
    queues->sendObjectInfoTo(own, stalled.player);
    buffersHandedOver += 1;
    queues->flush();
    EXPECT_TRUE(queues->tcpQueues.empty());

    // Every buffer counts as a send, also those the cut dropped and those handed over after it.
    const auto allCounted = [&] { return stats->getPackets(tcp_sent) == buffersHandedOver; };
    EXPECT_TRUE(waitUntil(allCounted, nettest::kWaitLimit))
        << stats->getPackets(tcp_sent) << " of " << buffersHandedOver;
    network.run([] { return 0; });  // the last completion has ended by now
    // The cut is told of in one line; the writes it failed after the first are only counted.
    const std::string output = capture.take();
    const boost::system::error_code aborted = boost::asio::error::operation_aborted;
    const std::string reason = aborted.message() + " (" + std::to_string(aborted.value()) + ")\n";
    ASSERT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output.substr(0, 1000);
    EXPECT_TRUE(output == "Error while sending: " + reason ||
                output == "Error while broadcasting: " + reason)
        << output;
}

TEST_F(QueuesOverLoopbackTest, ATicksSeveralBuffersCountAsSeveralSendsAndKeepTheirBytes) {
    Client& a = join();
    Client& b = join();
    for (std::uint64_t id = 1; id <= 7; ++id) {
        Morvik::ObjectInfo shot = infoWithId(100 + id, 300);
        queues->broadcastObjectInfo(shot);
    }
    for (std::uint64_t id = 1; id <= 5; ++id) {
        Morvik::ObjectInfo own = infoWithId(200 + id, 300);
        queues->sendObjectInfoTo(own, a.player);
    }
    const std::size_t broadcastBuffers = queues->tcpBroadcast.size();
    const std::size_t ownBuffers = queues->clientQueue(a.player).size();
    ASSERT_GT(broadcastBuffers, 1u);
    ASSERT_GT(ownBuffers, 1u);
    // The bytes each peer must see: its own buffers, then the broadcasts, back to back.
    std::string expectedA;
    for (const auto& buffer : queues->clientQueue(a.player)) {
        expectedA += *buffer;
    }
    std::string expectedB;
    for (const auto& buffer : queues->tcpBroadcast) {
        expectedB += *buffer;
    }
    expectedA += expectedB;
    queues->flush();

    EXPECT_EQ(nettest::readBytes(*a.tcpPeer, expectedA.size()), expectedA);
    EXPECT_EQ(nettest::readBytes(*b.tcpPeer, expectedB.size()), expectedB);
    // Counted as one send per buffer and destination, however the bytes were handed over.
    const std::uint64_t sends = ownBuffers + 2 * broadcastBuffers;
    EXPECT_TRUE(
        waitUntil([&] { return stats->getPackets(tcp_sent) == sends; }, nettest::kWaitLimit));
    EXPECT_TRUE(
        waitUntil([&] { return stats->getBytes(tcp_sent) == expectedA.size() + expectedB.size(); },
                  nettest::kWaitLimit));
}
