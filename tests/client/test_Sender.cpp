#include "client/Sender.h"

#include <gtest/gtest.h>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <memory>
#include <string>

#include "ClientTestSupport.h"
#include "Common/Controls.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/Statistics.h"

using boost::asio::ip::udp;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

Morvik::ClientUpdate sampleUpdate() {
    Morvik::ClientUpdate update;
    clienttest::setOrientation(update.mutable_orientation(), 0.5f, -0.5f, 0.5f, 0.5f);
    update.set_boosterson(controls::kForward | controls::kUp | controls::kFire);
    return update;
}

std::string bytesOf(const std::string& text, std::size_t from, std::size_t count) {
    return text.substr(from, count);
}

// A client socket and a server socket on 127.0.0.1. The sender is wired to them for the test
// and given back its earlier wiring afterwards. The test thread runs the event loop itself.
class SenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        sender = Sender::getInstance();
        saved = Wiring{sender->udpSocket, sender->serverEndpoint, sender->qport};
        clientSocket.open(udp::v4());
        clientSocket.bind(udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        serverSocket.open(udp::v4());
        serverSocket.bind(udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        serverEndpoint = serverSocket.local_endpoint();
        sender->setQport(0);
        sender->setUdpSocket(nullptr);
        sender->setServerEndpoint(nullptr);
    }
    void TearDown() override {
        sender->setQport(saved.qport);
        sender->setUdpSocket(saved.udpSocket);
        sender->setServerEndpoint(saved.serverEndpoint);
    }

    void wire() {
        sender->setUdpSocket(&clientSocket);
        sender->setServerEndpoint(&serverEndpoint);
    }

    // Runs the sends and their completions to the end.
    std::size_t runNetwork() {
        io.restart();
        return io.run();
    }
    // A stopped loop runs nothing until it is restarted.
    std::size_t runNetworkStopped() { return io.run(); }

    // Loopback delivers during the send, so a sent datagram is already waiting.
    std::string receiveOnServer() {
        if (serverSocket.available() == 0) {
            ADD_FAILURE() << "no datagram arrived";
            return "";
        }
        udp::endpoint from;
        std::array<char, 2048> buffer{};
        const std::size_t n = serverSocket.receive_from(boost::asio::buffer(buffer), from);
        EXPECT_EQ(from.port(), clientSocket.local_endpoint().port());
        return std::string(buffer.data(), n);
    }

    boost::asio::io_service io;
    udp::socket clientSocket{io};
    udp::socket serverSocket{io};
    udp::endpoint serverEndpoint;
    Sender* sender = nullptr;
    struct Wiring {
        udp::socket* udpSocket;
        udp::endpoint* serverEndpoint;
        std::uint16_t qport;
    };
    Wiring saved{};
};

}  // namespace

// ---- the datagram ----

TEST_F(SenderTest, DatagramBeforeWelcomeStartsWithQportZero) {
    const Morvik::ClientUpdate update = sampleUpdate();
    std::unique_ptr<std::string> datagram(sender->buildPacket(MessageType::ClientUpdate, update));

    const std::size_t n = update.ByteSizeLong();
    ASSERT_EQ(datagram->size(), n + 5);
    EXPECT_EQ(bytesOf(*datagram, 0, 2), std::string("\x00\x00", 2));
}

TEST_F(SenderTest, DatagramCarriesQportLengthTypeAndMessage) {
    sender->setQport(0x1234);
    const Morvik::ClientUpdate update = sampleUpdate();
    std::unique_ptr<std::string> datagram(sender->buildPacket(MessageType::ClientUpdate, update));

    const std::size_t n = update.ByteSizeLong();
    ASSERT_EQ(datagram->size(), n + 5);
    EXPECT_EQ(static_cast<std::uint8_t>((*datagram)[0]), 0x34);
    EXPECT_EQ(static_cast<std::uint8_t>((*datagram)[1]), 0x12);
    EXPECT_EQ(static_cast<std::uint8_t>((*datagram)[2]), (n + 1) & 0xFF);
    EXPECT_EQ(static_cast<std::uint8_t>((*datagram)[3]), (n + 1) >> 8);
    EXPECT_EQ(static_cast<std::uint8_t>((*datagram)[4]), 4);
    Morvik::ClientUpdate decoded;
    ASSERT_TRUE(decoded.ParseFromString(datagram->substr(5)));
    EXPECT_EQ(decoded.boosterson(), update.boosterson());
    EXPECT_EQ(decoded.orientation().w(), 0.5f);
    EXPECT_EQ(decoded.orientation().x(), -0.5f);
}

// ---- sending ----

TEST_F(SenderTest, SentDatagramIsTheBuiltPacketAndIsCounted) {
    wire();
    sender->setQport(0x1234);
    Statistics* stats = Statistics::getInstance();
    const std::uint64_t packetsBefore = stats->getPackets(udp_sent);
    const std::uint64_t bytesBefore = stats->getBytes(udp_sent);
    const std::uint64_t messagesBefore = stats->getMessages(udp_sent);

    Morvik::ClientUpdate update = sampleUpdate();
    std::unique_ptr<std::string> expected(sender->buildPacket(MessageType::ClientUpdate, update));
    sender->sendClientUpdate(update);
    update.set_boosterson(0);  // the datagram was built from the message as it was
    runNetwork();

    EXPECT_EQ(receiveOnServer(), *expected);
    EXPECT_EQ(stats->getPackets(udp_sent), packetsBefore + 1);
    EXPECT_EQ(stats->getBytes(udp_sent), bytesBefore + expected->size());
    // Sent messages are not counted on the client.
    EXPECT_EQ(stats->getMessages(udp_sent), messagesBefore);
}

TEST_F(SenderTest, UnwiredSenderDropsSilently) {
    Statistics* stats = Statistics::getInstance();
    const std::uint64_t packetsBefore = stats->getPackets(udp_sent);

    CaptureStdout();
    sender->sendClientUpdate(sampleUpdate());  // neither socket nor endpoint
    sender->setUdpSocket(&clientSocket);
    sender->sendClientUpdate(sampleUpdate());  // no endpoint yet
    sender->setUdpSocket(nullptr);
    sender->setServerEndpoint(&serverEndpoint);
    sender->sendClientUpdate(sampleUpdate());  // no socket yet
    const std::size_t handlersRun = runNetwork();
    const std::string output = GetCapturedStdout();

    EXPECT_EQ(handlersRun, 0u);
    EXPECT_EQ(output, "");
    EXPECT_EQ(serverSocket.available(), 0u);
    EXPECT_EQ(stats->getPackets(udp_sent), packetsBefore);
}

TEST_F(SenderTest, FailedSendIsReportedAndNotCounted) {
    wire();
    clientSocket.close();
    Statistics* stats = Statistics::getInstance();
    const std::uint64_t packetsBefore = stats->getPackets(udp_sent);
    const std::uint64_t bytesBefore = stats->getBytes(udp_sent);

    CaptureStdout();
    sender->sendClientUpdate(sampleUpdate());
    runNetwork();
    const std::string output = GetCapturedStdout();

    EXPECT_EQ(output, "Error while sending: Bad file descriptor (code: 9)\n");
    EXPECT_EQ(stats->getPackets(udp_sent), packetsBefore);
    EXPECT_EQ(stats->getBytes(udp_sent), bytesBefore);
}

TEST_F(SenderTest, DatagramOfALoopThatNeverRunsIsNotCounted) {
    // The client stops its event loop at the end with sends still queued; they go nowhere,
    // and (as the leak check of the sanitizer build sees) their datagrams are freed with it.
    wire();
    Statistics* stats = Statistics::getInstance();
    const std::uint64_t packetsBefore = stats->getPackets(udp_sent);

    sender->sendClientUpdate(sampleUpdate());
    io.stop();
    runNetworkStopped();

    EXPECT_EQ(serverSocket.available(), 0u);
    EXPECT_EQ(stats->getPackets(udp_sent), packetsBefore);
}
