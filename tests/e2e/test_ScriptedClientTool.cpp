// The scripted-client program against a real server: it joins, steers, and prints one line per
// message it receives.

#include <boost/asio/ip/tcp.hpp>
#include <sstream>

#include "tests/e2e/E2eSupport.h"

namespace e2e {
namespace {

class ScriptedClientToolTest : public ServerTest {};

TEST_F(ScriptedClientToolTest, JoinsSteersAndPrintsEveryMessage) {
    startServer({"--spawnType", "2"});
    ChildProcess tool(
        programOptions(MORVIK_SCRIPTED_CLIENT_BINARY,
                       {"--port", std::to_string(port_), "--seconds", "1.5", "--boosters", "1"}));
    EXPECT_EQ(tool.waitForExit(kWait), 0);
    tool.waitForLine("udp ObjectUpdate", Milliseconds(1000));

    const std::vector<std::string> lines = tool.lines();
    ASSERT_GE(lines.size(), 4u);
    // "<ms> <transport> <type> <fields>": Welcome, snapshot and announcement over TCP first.
    const auto fieldsOf = [](const std::string& line) {
        std::istringstream in(line);
        long ms = -1;
        std::string transport, type;
        in >> ms >> transport >> type;
        return std::make_tuple(ms, transport, type);
    };
    // TCP keeps its order; a datagram may come between its reads.
    std::vector<std::string> tcp;
    for (const std::string& line : lines) {
        if (std::get<1>(fieldsOf(line)) == "tcp") {
            tcp.push_back(line);
        }
    }
    ASSERT_GE(tcp.size(), 3u);
    EXPECT_EQ(lines[0], tcp[0]);
    EXPECT_EQ(std::get<2>(fieldsOf(tcp[0])), "Welcome");
    EXPECT_NE(tcp[0].find("qport: 2"), std::string::npos) << tcp[0];
    EXPECT_EQ(std::get<2>(fieldsOf(tcp[1])), "ObjectInfo");
    EXPECT_EQ(std::get<2>(fieldsOf(tcp[2])), "ObjectInfo");
    // Thrust along +z: the ship's updates come by UDP and move away from the spawn point.
    std::size_t updates = 0;
    for (const std::string& line : lines) {
        const auto [ms, transport, type] = fieldsOf(line);
        EXPECT_GE(ms, 0) << line;
        if (type == "ObjectUpdate") {
            EXPECT_EQ(transport, "udp");
            ++updates;
        }
    }
    EXPECT_GE(updates, 1u);
    const std::string& last = lines.back();
    const std::size_t position = last.find("position {");
    ASSERT_NE(position, std::string::npos) << last;
    const std::size_t z = last.find("z: ", position);
    ASSERT_NE(z, std::string::npos) << last;
    EXPECT_GT(std::stof(last.substr(z + 3)), 1.0f) << last;
    EXPECT_GE(server_->waitForLine("Player Player left", kWait), 0);
}

TEST_F(ScriptedClientToolTest, NoServerMeansExitCodeOne) {
    // A port held by a socket that does not listen: a connection there is refused.
    boost::asio::io_service io;
    boost::asio::ip::tcp::socket holder(io);
    holder.open(boost::asio::ip::tcp::v4());
    holder.bind({boost::asio::ip::address_v4::loopback(), 0});
    const std::string port = std::to_string(holder.local_endpoint().port());
    ChildProcess tool(
        programOptions(MORVIK_SCRIPTED_CLIENT_BINARY, {"--port", port, "--seconds", "0"}));
    EXPECT_EQ(tool.waitForExit(kWait), 1);
}

}  // namespace
}  // namespace e2e
