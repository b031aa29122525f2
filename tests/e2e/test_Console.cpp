// The operator's console: every command and its short form, unknown lines, and the order in
// which lines queued for one tick are answered.

#include "Common/ObjectTypes.h"
#include "tests/e2e/E2eSupport.h"

namespace e2e {
namespace {

using Morvik::ObjectInfo;

class ConsoleTest : public ServerTest {};

TEST_F(ConsoleTest, LinesQueuedBeforeTheFirstTickAreAnsweredNewestFirst) {
    ChildProcess::Options options = programOptions(MORVIK_SERVER_BINARY);
    options.initialInput = "players\nscore\nnonsense\n";
    startServer({"--spawnType", "2"}, options);
    // Answered newest first: the oldest line's reply comes last.
    ASSERT_GE(
        server_->waitForLineMatching([](const std::string& line) { return line == "0"; }, kWait), 0)
        << server_->output();
    const std::vector<std::string> lines = server_->lines();
    EXPECT_EQ(lines[0].rfind("Listening on udp:", 0), 0u);
    EXPECT_EQ(lines[1], "unknown command");
    EXPECT_EQ(lines[2], "0 - 0");
    EXPECT_EQ(lines[3], "0");
}

TEST_F(ConsoleTest, CountsAndScoreInLongAndShortForm) {
    startServer({"--spawnType", "2"});
    EXPECT_EQ(ask("players"), "0");
    EXPECT_EQ(ask("shots"), "0");

    auto first = joinClient();
    auto second = joinClient();
    EXPECT_EQ(ask("players"), "2");
    EXPECT_EQ(ask("pl"), "2");
    EXPECT_EQ(ask("score"), "0 - 0");
    EXPECT_EQ(ask("sc"), "0 - 0");

    // A ship may fire once more than half a second has passed since it spawned.
    std::this_thread::sleep_for(Milliseconds(600));
    first->sendClientUpdate(Quaternion(), kFire);
    ASSERT_TRUE(first->waitFor(
        [](const std::vector<ReceivedMessage>& all) {
            for (const ReceivedMessage& m : all) {
                if (m.is(MessageType::ObjectInfo) &&
                    m.as<ObjectInfo>().objecttype() == kProjectileType) {
                    return true;
                }
            }
            return false;
        },
        kWait));
    // The tick that fired it had looked its lists up before the shot existed, so a line
    // handled in that tick still counts 0; from the next tick on it counts 1 (a shot lives
    // 20 s).
    std::string shots = ask("shots");
    for (int i = 0; i < 100 && shots == "0"; ++i) {
        std::this_thread::sleep_for(Milliseconds(10));
        shots = ask("shots");
    }
    EXPECT_EQ(shots, "1");
    EXPECT_EQ(ask("sh"), "1");
}

TEST_F(ConsoleTest, TrafficTablesInLongAndShortForm) {
    startServer({"--spawnType", "2"});
    for (const char* command : {"bandwidth", "bw", "packages", "pk"}) {
        const std::vector<std::string> reply = askLines(command, 3);
        ASSERT_EQ(reply.size(), 3u) << command;
        EXPECT_EQ(reply[0], "Type - up - down");
        EXPECT_EQ(reply[1].rfind("TCP - ", 0), 0u) << reply[1];
        EXPECT_EQ(reply[2].rfind("UDP - ", 0), 0u) << reply[2];
    }
    // Before anybody joined there was no traffic: every rate is 0.
    const std::vector<std::string> bytes = askLines("bw", 3);
    ASSERT_EQ(bytes.size(), 3u);
    EXPECT_EQ(bytes[1], "TCP - 0B - 0B");
    const std::vector<std::string> packets = askLines("pk", 3);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[2], "UDP - 0 - 0");
}

TEST_F(ConsoleTest, TrafficRatesShowTheJoinTraffic) {
    startServer({"--spawnType", "2"});
    auto client = joinClient();
    client->steer({Quaternion(), 0});
    // The rates cover periods of more than a second.
    std::this_thread::sleep_for(Milliseconds(2200));
    const std::vector<std::string> packets = askLines("pk", 3);
    ASSERT_EQ(packets.size(), 3u);
    // About 20 ClientUpdates a second come in; the tick's datagrams go out.
    EXPECT_NE(packets[2], "UDP - 0 - 0");
    const std::vector<std::string> bytes = askLines("bw", 3);
    ASSERT_EQ(bytes.size(), 3u);
    EXPECT_NE(bytes[2].find("B - "), std::string::npos);
    EXPECT_NE(bytes[2], "UDP - 0B - 0B");
}

TEST_F(ConsoleTest, ResetAllRespawnsEveryPlayerAndTellsEach) {
    startServer({"--spawnType", "2"});
    auto first = joinClient();
    auto second = joinClient();
    first->steer({Quaternion(), kForward});
    std::this_thread::sleep_for(Milliseconds(300));
    first->steer({Quaternion(), 0});

    struct Expected {
        ScriptedClient::Ptr client;
        float spawnX;
    };
    for (const char* command : {"reset all", "ra"}) {
        const std::size_t firstSeen = first->messageCount();
        const std::size_t secondSeen = second->messageCount();
        server_->writeInput(std::string(command) + "\n");
        // No reply; each player gets its own status at its spawn point with full health.
        for (const auto& [expected, from] :
             {std::make_pair(Expected{first, 500.0f}, firstSeen),
              std::make_pair(Expected{second, -500.0f}, secondSeen)}) {
            const std::uint64_t id = expected.client->playerId();
            const long index = expected.client->waitForMessage(
                [id](const ReceivedMessage& m) {
                    return m.transport == Transport::Tcp && m.is(MessageType::ObjectInfo) &&
                           m.as<ObjectInfo>().id() == id;
                },
                from, kWait);
            ASSERT_GE(index, 0) << command;
            const ObjectInfo& info =
                expected.client->messages()[static_cast<std::size_t>(index)].as<ObjectInfo>();
            EXPECT_FLOAT_EQ(info.position().x(), expected.spawnX);
            EXPECT_FLOAT_EQ(info.position().z(), 0.0f);
            EXPECT_FLOAT_EQ(info.playerdata().health(), 100.0f);
        }
    }
    EXPECT_EQ(ask("sc"), "0 - 0");  // the reset printed nothing before this reply
}

TEST_F(ConsoleTest, UnknownLinesAreSaidSo) {
    startServer({"--spawnType", "2"});
    for (const char* line : {"Players", "players ", "", "reset", "help"}) {
        EXPECT_EQ(ask(line), "unknown command") << "line: '" << line << "'";
    }
}

TEST_F(ConsoleTest, EndOfInputLeavesTheServerRunningQuietly) {
    startServer({"--spawnType", "2"});
    server_->closeInput();
    std::this_thread::sleep_for(Milliseconds(300));
    auto client = joinClient();
    EXPECT_EQ(client->qport(), 2u);
    EXPECT_EQ(server_->countLines("unknown command"), 0u);
    EXPECT_TRUE(server_->running());
}

}  // namespace
}  // namespace e2e
