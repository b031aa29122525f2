// The operator's console: the line queue, reading standard input, and the commands.

#include "Server/ServerConsole.h"

#include <sstream>
#include <thread>

#include "Common/ObjectTypes.h"
#include "tests/Server/ServerTestSupport.h"

namespace {

void clearQueue() {
    std::string line;
    while (popConsoleLine(line)) {
    }
}

TEST(FormatBytesTest, ScalesByPowersOf1024AndKeepsSixDigits) {
    EXPECT_EQ(formatBytes(0.0f), "0B");
    EXPECT_EQ(formatBytes(500.0f), "500B");
    EXPECT_EQ(formatBytes(1023.0f), "1023B");
    EXPECT_EQ(formatBytes(1024.0f), "1KB");
    EXPECT_EQ(formatBytes(1536.0f), "1.5KB");
    EXPECT_EQ(formatBytes(300.5f), "300.5B");
    // 2^20 - 1 bytes is 1023.999 KB, which six significant digits round up.
    EXPECT_EQ(formatBytes(1048575.0f), "1024KB");
    EXPECT_EQ(formatBytes(3.0f * 1048576.0f), "3MB");
    EXPECT_EQ(formatBytes(1073741824.0f), "1GB");
    EXPECT_EQ(formatBytes(1.5f * 1073741824.0f), "1.5GB");
    EXPECT_EQ(formatBytes(1099511627776.0f), "1024GB");
}

TEST(ConsoleQueueTest, NewestLineComesFirst) {
    clearQueue();
    pushConsoleLine("players");
    pushConsoleLine("score");
    pushConsoleLine("shots");
    std::string line;
    ASSERT_TRUE(popConsoleLine(line));
    EXPECT_EQ(line, "shots");
    ASSERT_TRUE(popConsoleLine(line));
    EXPECT_EQ(line, "score");
    ASSERT_TRUE(popConsoleLine(line));
    EXPECT_EQ(line, "players");
    line = "untouched";
    EXPECT_FALSE(popConsoleLine(line));
    EXPECT_EQ(line, "untouched");
}

TEST(ConsoleQueueTest, PushAndPopFromTwoThreadsLoseNothing) {
    clearQueue();
    constexpr int kLines = 2000;
    std::thread console([] {
        for (int i = 0; i < kLines; ++i) {
            pushConsoleLine(std::to_string(i));
        }
    });
    int taken = 0;
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (taken < kLines && std::chrono::steady_clock::now() < deadline) {
        taken += popConsoleLine(line) ? 1 : 0;
    }
    console.join();
    EXPECT_EQ(taken, kLines);
    EXPECT_FALSE(popConsoleLine(line));
}

TEST(ConsoleInputTest, ReadsEveryLineAndStopsAtTheEnd) {
    clearQueue();
    std::istringstream input("players\n\nreset all\nshots");
    readConsoleLines(input);  // returns: the input has ended
    readConsoleLines(input);  // an ended input queues nothing more
    std::string line;
    std::vector<std::string> taken;
    while (popConsoleLine(line)) {
        taken.push_back(line);
    }
    EXPECT_EQ(taken, (std::vector<std::string>{"shots", "reset all", "", "players"}));
}

class ConsoleCommandTest : public servertest::ServerWorldTest {
protected:
    std::string answer(const std::string& line, SceneGraph::ObjectList* players = nullptr,
                       SceneGraph::ObjectList* projectiles = nullptr) {
        std::ostringstream out;
        handleConsoleLine(line, players, projectiles, out);
        return out.str();
    }
};

TEST_F(ConsoleCommandTest, CountsComeFromTheTicksLists) {
    SceneGraph::ObjectList three(3, nullptr);
    SceneGraph::ObjectList one(1, nullptr);
    for (const char* command : {"players", "pl"}) {
        EXPECT_EQ(answer(command), "0\n");
        EXPECT_EQ(answer(command, &three, &one), "3\n");
    }
    for (const char* command : {"shots", "sh"}) {
        EXPECT_EQ(answer(command), "0\n");
        EXPECT_EQ(answer(command, &three, &one), "1\n");
    }
}

TEST_F(ConsoleCommandTest, ScoreIsRedThenBlue) {
    GameState::getInstance()->redTeamScore = 3;
    GameState::getInstance()->blueTeamScore = -2;
    EXPECT_EQ(answer("score"), "3 - -2\n");
    EXPECT_EQ(answer("sc"), "3 - -2\n");
}

TEST_F(ConsoleCommandTest, BandwidthShowsByteRatesUpThenDown) {
    float* rates = Statistics::getInstance()->rates;
    rates[8 + tcp_sent] = 1536.0f;
    rates[8 + tcp_rcvd] = 300.0f;
    rates[8 + udp_sent] = 3.0f * 1048576.0f;
    rates[8 + udp_rcvd] = 0.0f;
    rates[0] = 99.0f;  // packet rates are not shown here
    const std::string expected = "Type - up - down\nTCP - 1.5KB - 300B\nUDP - 3MB - 0B\n";
    EXPECT_EQ(answer("bandwidth"), expected);
    EXPECT_EQ(answer("bw"), expected);
}

TEST_F(ConsoleCommandTest, PackagesShowsPacketRatesUpThenDown) {
    float* rates = Statistics::getInstance()->rates;
    rates[tcp_sent] = 12.5f;
    rates[tcp_rcvd] = 3.0f;
    rates[udp_sent] = 1234567.0f;
    rates[udp_rcvd] = 0.0f;
    rates[8] = 4096.0f;  // byte rates are not shown here
    const std::string expected = "Type - up - down\nTCP - 12.5 - 3\nUDP - 1.23457e+06 - 0\n";
    EXPECT_EQ(answer("packages"), expected);
    EXPECT_EQ(answer("pk"), expected);
}

TEST_F(ConsoleCommandTest, ResetAllRespawnsEveryPlayerAndTellsEach) {
    Player* red = servertest::joinPlayer();
    Player* blue = servertest::joinPlayer();
    for (Player* player : {red, blue}) {
        player->position = Vec3(1, 2, 3);
        player->velocity = Vec3(5, 0, 0);
        player->health = 15.16f;
        player->score = 4;
    }
    SceneGraph::ObjectList* players = SceneGraph::getInstance()->getObjectsOfType(kPlayerType);
    for (const char* command : {"reset all", "ra"}) {
        EXPECT_EQ(answer(command, players), "");
        // The default spawn type of a fresh GameState is "point".
        EXPECT_FLOAT_EQ(red->position.x, 500.0f);
        EXPECT_FLOAT_EQ(blue->position.x, -500.0f);
        for (Player* player : {red, blue}) {
            EXPECT_FLOAT_EQ(player->health, 100.0f);
            EXPECT_FLOAT_EQ(player->velocity.x, 0.0f);
            EXPECT_EQ(player->score, 4);  // scores stay
            EXPECT_EQ(servertest::ownInfos(player).size(), 1u);
            player->position = Vec3(1, 2, 3);
        }
        OutgoingQueues::getInstance()->tcpQueues.clear();
    }
    EXPECT_EQ(answer("reset all"), "");  // no players: nothing to do
}

TEST_F(ConsoleCommandTest, AnythingElseIsUnknown) {
    for (const char* line :
         {"Players", "players ", " players", "", "reset", "reset  all", "PL", "bandwidth\r"}) {
        EXPECT_EQ(answer(line), "unknown command\n") << "'" << line << "'";
    }
}

TEST_F(ConsoleCommandTest, QueuedLinesAreAnsweredNewestFirst) {
    clearQueue();
    SceneGraph::ObjectList one(1, nullptr);
    SceneGraph::ObjectList two(2, nullptr);
    pushConsoleLine("players");
    pushConsoleLine("score");
    pushConsoleLine("shots");
    std::ostringstream out;
    handleConsoleLines(&one, &two, out);
    EXPECT_EQ(out.str(), "2\n0 - 0\n1\n");
    std::string line;
    EXPECT_FALSE(popConsoleLine(line));
}

}  // namespace
