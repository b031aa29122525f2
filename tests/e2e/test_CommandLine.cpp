// The command line: help, options the parser rejects, a port that is taken, the time limit.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tests/e2e/E2eSupport.h"
#include "tools/testkit/HelpListing.h"

namespace e2e {
namespace {

constexpr Milliseconds kExitLimit{10000};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs the server with these arguments until it ends by itself.
struct Outcome {
    std::optional<int> code;
    std::string output;
};
Outcome runToEnd(const std::vector<std::string>& args) {
    ChildProcess server(programOptions(MORVIK_SERVER_BINARY, args));
    Outcome run;
    run.code = server.waitForExit(kExitLimit);  // with its output read in
    run.output = server.output();
    const std::string errors = server.errorOutput();
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
    return run;
}

TEST(CommandLineTest, HelpListsTheOptionsAndEndsWithCodeOne) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"},
          std::vector<std::string>{"--port", "1", "--help", "--timelimit", "3"}}) {
        const Outcome run = runToEnd(args);
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.output.rfind("Allowed options:\n", 0), 0u) << run.output;
        for (const char* part :
             {"--help", "produce help message", "--port arg (=21042)", "set game server port",
              "--server-id arg (=1)", "game server id", "--spawnType arg (=0)",
              "game spawn type 0:plane 1:even 2:point", "--timelimit arg (=0)",
              "exit after <timelimit> minutes, default (0) is no timeout", "--stats arg (=log.csv)",
              "log to this file", "--log arg (=0)", "enable logging"}) {
            EXPECT_TRUE(contains(flattened(run.output), part)) << part;
        }
        std::istringstream listing(run.output);
        for (std::string line; std::getline(listing, line);) {
            EXPECT_LE(line.size(), 80u) << line;
        }
        // The listing, then one empty line.
        EXPECT_EQ(run.output.substr(run.output.size() - 2), "\n\n");
        EXPECT_FALSE(contains(run.output, "Listening"));
    }
}

TEST(CommandLineTest, RejectedCommandLinesEndWithCodeOneBeforeServing) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--bogus"}, "unrecognised option '--bogus'"},
        {{"--port", "abc"}, "the argument ('abc') for option '--port' is invalid"},
        {{"--port", "70000"}, "the argument ('70000') for option '--port' is invalid"},
        {{"--log"}, "the required argument for option '--log' is missing"},
        {{"--log", "maybe"}, "the argument ('maybe') for option '--log' is invalid"},
    };
    for (const auto& each : cases) {
        const Outcome run = runToEnd(each.args);
        EXPECT_EQ(run.code, 1) << each.args[0];
        EXPECT_TRUE(contains(run.output, each.message)) << run.output;
        EXPECT_FALSE(contains(run.output, "Listening")) << run.output;
    }
}

TEST(CommandLineTest, TakenPortEndsWithCodeOne) {
    using namespace boost::asio::ip;
    boost::asio::io_service io;
    const std::string expectedEnd =
        std::string(std::strerror(EADDRINUSE)) + " (" + std::to_string(EADDRINUSE) + "). Exiting..";

    {
        // Another program holds the UDP port.
        udp::socket holder(io, udp::endpoint(udp::v4(), 0));
        const int port = holder.local_endpoint().port();
        const Outcome run = runToEnd({"--port", std::to_string(port)});
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.output.rfind("Could not start PacketHandler: ", 0), 0u) << run.output;
        EXPECT_TRUE(contains(run.output, expectedEnd + "\n")) << run.output;
        EXPECT_FALSE(contains(run.output, "Listening"));
    }
    {
        // Another program listens on the TCP port.
        tcp::acceptor holder(io, tcp::endpoint(tcp::v4(), 0));
        const int port = holder.local_endpoint().port();
        const Outcome run = runToEnd({"--port", std::to_string(port)});
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(contains(run.output, expectedEnd + "\n")) << run.output;
    }
}

class PortOptionTest : public ServerTest {};

TEST_F(PortOptionTest, PortZeroListensOnOnePickedPortForBothTransports) {
    server_ = std::make_unique<ChildProcess>(
        programOptions(MORVIK_SERVER_BINARY, {"--port", "0", "--spawnType", "2"}));
    const long line = server_->waitForLine("Listening on udp:", kStartLimit);
    ASSERT_GE(line, 0) << server_->output();
    int udpPort = -1;
    int tcpPort = -1;
    const std::string listening = server_->lines()[static_cast<std::size_t>(line)];
    ASSERT_EQ(std::sscanf(listening.c_str(), "Listening on udp:%d tcp:%d", &udpPort, &tcpPort), 2)
        << listening;
    EXPECT_NE(tcpPort, 0);
    ASSERT_EQ(udpPort, tcpPort);

    // The client's datagrams reach the server: it learns their port and answers there.
    port_ = tcpPort;
    auto client = joinClient();
    client->sendClientUpdate(Quaternion(), 0);
    EXPECT_GE(client->waitForMessage(
                  [&](const ReceivedMessage& m) {
                      return m.transport == Transport::Udp && m.is(MessageType::ObjectUpdate);
                  },
                  0, kWait),
              0);
}

TEST_F(PortOptionTest, ARestartGetsThePortBackWhileTheKilledServersConnectionLingers) {
    startServer({"--spawnType", "2"});
    auto client = joinClient();
    ASSERT_TRUE(client->joined());
    server_->stop(SIGKILL);
    // The client closes its end in turn, which leaves the server's end in TIME_WAIT.
    ASSERT_TRUE(client->waitForTcpClosed(kWait));
    client->close();
    {
        using boost::asio::ip::tcp;
        boost::asio::io_service io;
        tcp::acceptor plain(io);
        plain.open(tcp::v4());
        boost::system::error_code error;
        plain.bind(tcp::endpoint(tcp::v4(), static_cast<unsigned short>(port_)), error);
        ASSERT_EQ(error, boost::asio::error::address_in_use) << "the old connection is gone";
    }

    const std::string port = std::to_string(port_);
    server_ =
        std::make_unique<ChildProcess>(programOptions(MORVIK_SERVER_BINARY, {"--port", port}));
    const long line = server_->waitForLineMatching(
        [](const std::string& text) {
            return contains(text, "Listening on") || contains(text, "Could not start");
        },
        kStartLimit);
    ASSERT_GE(line, 0) << server_->output();
    EXPECT_EQ(server_->lines()[static_cast<std::size_t>(line)],
              "Listening on udp:" + port + " tcp:" + port);
}

// In a network namespace of its own where the system picks ports from 40000 and 40001 only,
// with UDP held on the ports given after the server's path: prints the server's first line.
const char* const kTwoPickablePorts = R"(
set -eu
ip link set lo up
sysctl -qw net.ipv4.ip_local_port_range="40000 40001"
exec python3 -c 'import socket, subprocess, sys
held = []
for port in sys.argv[2:]:
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("0.0.0.0", int(port)))
    held.append(holder)
server = subprocess.Popen([sys.argv[1], "--port", "0"], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, text=True)
print(server.stdout.readline(), end="", flush=True)
server.kill()
server.wait()' "$@"
)";

TEST(PortZeroPicking, APortTakenForUdpIsNotPickedAgainAndRunningOutIsReported) {
    ChildProcess probe({"unshare", {"-n", "true"}, {}, {}});
    if (probe.waitForExit(kExitLimit) != std::optional<int>(0)) {
        GTEST_SKIP() << "no network namespace to be had here (needs root)";
    }
    const auto firstLine = [](std::vector<std::string> heldForUdp) {
        std::vector<std::string> args{
            "-n", "sh", "-c", kTwoPickablePorts, "sh", MORVIK_SERVER_BINARY};
        args.insert(args.end(), heldForUdp.begin(), heldForUdp.end());
        ChildProcess run({"unshare", args, {}, {}});
        EXPECT_EQ(run.waitForExit(kExitLimit), std::optional<int>(0)) << run.errorOutput();
        return run.output();
    };
    // The system hands out the same free port again and again here.
    EXPECT_EQ(firstLine({"40001"}), "Listening on udp:40000 tcp:40000\n");
    const std::string noneLeft = firstLine({"40000", "40001"});
    EXPECT_EQ(noneLeft.rfind("Could not start PacketHandler: ", 0), 0u) << noneLeft;
}

class TimeLimitOptionTest : public ServerTest {};

TEST_F(TimeLimitOptionTest, ZeroOrNegativeMeansNoLimit) {
    for (const char* minutes : {"0", "-3"}) {
        startServer({"--timelimit", minutes});
        EXPECT_EQ(ask("players"), "0");
        EXPECT_EQ(server_->waitForLine("Timelimit", Milliseconds(0)), -1) << minutes;
        server_->stop();
    }
}

}  // namespace
}  // namespace e2e
