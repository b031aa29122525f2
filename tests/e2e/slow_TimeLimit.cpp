// The time limit: a full minute, so it runs in its own (slow) test program.

#include "tests/e2e/E2eSupport.h"

namespace e2e {
namespace {

class TimeLimitTest : public ServerTest {};

TEST_F(TimeLimitTest, OneMinuteEndsTheServerWithCodeZero) {
    const auto start = std::chrono::steady_clock::now();
    startServer({"--timelimit", "1", "--spawnType", "2"});
    ASSERT_GE(server_->waitForLine("Timelimit is", kWait), 0) << server_->output();
    const std::vector<std::string> first = server_->lines();
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first[0].rfind("Listening on udp:", 0), 0u);
    EXPECT_EQ(first[1], "Timelimit is 1 minute(s)");

    // Activity on every thread while the limit runs out: a player steering and the console.
    auto client = joinClient();
    client->steer({Quaternion(), 0});
    EXPECT_EQ(ask("players"), "1");

    const std::optional<int> code = server_->waitForExit(Milliseconds(90000));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(code.has_value()) << "the server did not end by itself";
    EXPECT_EQ(*code, 0);
    EXPECT_GE(elapsed, std::chrono::seconds(59));

    // Everything written before the end is there, and the last line says why it ended.
    server_->waitForLine("Timelimit expired", Milliseconds(2000));
    const std::vector<std::string> lines = server_->lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Timelimit expired");
    EXPECT_EQ(server_->countLines("1"), 1u);
    EXPECT_TRUE(client->waitForTcpClosed(kWait));
}

}  // namespace
}  // namespace e2e
