#include "client/NetworkManager.h"

#include <sys/resource.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <cstdio>
#include <string>

#include "ClientTestSupport.h"
#include "Common/Platform.h"
#include "Common/SceneGraph.h"
#include "client/PacketReceiver.h"

using boost::asio::ip::tcp;
using boost::asio::ip::udp;

namespace {

// connect starts the singleton's network thread, so every case runs in a child process.
class NetworkManagerDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    std::string output() const { return clienttest::readFile(outputPath); }

    const std::string outputPath = clienttest::deathOutputPath();
};

// A port on 127.0.0.1 that nobody listens on (it was free a moment ago).
std::uint16_t closedPort() {
    boost::asio::io_service io;
    tcp::acceptor probe(io, tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    return probe.local_endpoint().port();
}

void connectAndReport(const std::string& outputPath, const std::string& port) {
    clienttest::redirectStdoutTo(outputPath);
    NetworkManager* network = NetworkManager::getInstance();
    const bool connected = network->connect("127.0.0.1", port, 600);
    std::printf("own id %s\n", network->getOwnObjectId() == kNoObjectId ? "none" : "set");
    platform::endProcess(connected ? 0 : 1);
}

TEST_F(NetworkManagerDeathTest, ConnectsToAListeningServer) {
    const std::string path = outputPath;
    EXPECT_EXIT(
        {
            clienttest::FakeServer server;
            connectAndReport(path, server.port());
        },
        ::testing::ExitedWithCode(0), "");
    const std::string text = output();
    EXPECT_THAT(text, ::testing::MatchesRegex("Attempting to connect to 127\\.0\\.0\\.1:[0-9]+\n"
                                              "Connected!\nown id none\n"));
}

TEST_F(NetworkManagerDeathTest, RefusedConnectionIsReportedAndFails) {
    const std::string path = outputPath;
    EXPECT_EXIT(connectAndReport(path, std::to_string(closedPort())), ::testing::ExitedWithCode(1),
                "");
    // The child picked its own port; it is in the first line.
    const std::string text = output();
    const std::string opening = "Attempting to connect to 127.0.0.1:";
    ASSERT_EQ(text.compare(0, opening.size(), opening), 0) << text;
    const std::string port = text.substr(opening.size(), text.find('\n') - opening.size());
    EXPECT_EQ(text, opening + port + "\nCould not connect to 127.0.0.1:" + port +
                        "\nException: connect: Connection refused\nown id none\n");
}

// No descriptor left for the UDP socket: the failure is a failed connection like any other.
void connectWithoutDescriptors(const std::string& outputPath) {
    clienttest::redirectStdoutTo(outputPath);
    NetworkManager* network = NetworkManager::getInstance();
    // The event loop's own descriptors come with its first socket object; make them now.
    udp::socket unopened(network->ioService);
    {
        // The undefined-behaviour sanitizer checks each dynamic type once, with descriptors of
        // its own; let it see the receiver and a socket failure while there are some left.
        boost::asio::io_service io;
        PacketReceiver warmUp(io, SceneGraph::getInstance(), 600);
        udp::socket taken(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        udp::socket second(io, udp::v4());
        try {
            second.bind(taken.local_endpoint());
        } catch (const boost::system::system_error& error) {
            const char* volatile text = error.what();
            static_cast<void>(text);
        }
    }
    std::FILE* probe = std::fopen("/dev/null", "r");
    if (probe == nullptr) {
        return;
    }
    const int lowestFree = fileno(probe);
    std::fclose(probe);
    rlimit original{};
    getrlimit(RLIMIT_NOFILE, &original);
    rlimit limit = original;
    limit.rlim_cur = static_cast<rlim_t>(lowestFree);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return;
    }
    const bool connected = network->connect("127.0.0.1", "21042", 600);
    setrlimit(RLIMIT_NOFILE, &original);
    platform::endProcess(connected ? 0 : 1);
}

TEST_F(NetworkManagerDeathTest, UdpSocketThatCannotBeOpenedIsAFailedConnection) {
    const std::string path = outputPath;
    EXPECT_EXIT(connectWithoutDescriptors(path), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(output(),
              "Could not connect to 127.0.0.1:21042\nException: open: Too many open files\n");
}

}  // namespace
