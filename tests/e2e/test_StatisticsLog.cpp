// The statistics file as the running server writes it: a header block per run, then one
// fixed-width row per second.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/Server/StatisticsRowFormat.h"
#include "tests/e2e/E2eSupport.h"

namespace e2e {
namespace {

using statsfile::readLines;
using statsfile::rowOf;

constexpr Milliseconds kRowsLimit{10000};

bool waitForRows(const std::string& path, std::size_t lines) {
    return waitUntil([&] { return readLines(path).size() >= lines; }, kRowsLimit);
}

class StatisticsLogTest : public ServerTest {
protected:
    void SetUp() override {
        directory_ = std::filesystem::path(::testing::TempDir()) /
                     ("stats-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(directory_);
        std::filesystem::create_directories(directory_);
        path_ = (directory_ / "stats.csv").string();
    }
    void TearDown() override {
        ServerTest::TearDown();
        std::filesystem::remove_all(directory_);
    }

    std::filesystem::path directory_;
    std::string path_;
};

TEST_F(StatisticsLogTest, RunStartsABlockThenWritesARowEverySecond) {
    startServer({"--log", "true", "--stats", path_, "--spawnType", "2"});
    auto client = joinClient();
    client->steer({Quaternion(), 0});
    // Rows until one sees the player and a second of its traffic (some 20 ClientUpdates a
    // second arrive, one datagram and one message each), and at least three to compare.
    const auto seesThePlayer = [&] {
        const std::vector<std::string> lines = readLines(path_);
        if (lines.size() < 5 || !statsfile::isRow(lines.back())) {
            return false;  // too few rows, or the newest is still being written
        }
        const std::vector<long long> last = statsfile::rowFields(lines.back());
        return last[13] == 1 && last[4] > 5 && last[8] > 100 && last[12] > 5;
    };
    ASSERT_TRUE(waitUntil(seesThePlayer, kRowsLimit)) << ::testing::PrintToString(readLines(path_));
    server_->stop();

    const std::vector<std::string> lines = readLines(path_);
    EXPECT_EQ(lines[0], "!New measurement started:");
    EXPECT_EQ(lines[1], statsfile::kHeader);
    long long previousTime = -1;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::vector<long long> fields = rowOf(lines[i]);
        ASSERT_EQ(fields.size(), 17u);
        if (previousTime >= 0) {
            // The tick clock: one row a second, at least 1001 ms apart as the scheduler's due
            // test is strict; the row reads the clock a little after the scheduler does, so a
            // few milliseconds less may show.
            const auto gap = static_cast<std::uint32_t>(fields[0] - previousTime);
            EXPECT_GE(gap, 1001u - 10u) << i;
            EXPECT_LT(gap, 1500u) << i;
        }
        previousTime = fields[0];
        EXPECT_GE(fields[15], 0);  // CPU
        EXPECT_GT(fields[16], 0);  // memory in use
    }
    EXPECT_EQ(rowOf(lines.back())[14], 0);  // projectiles
}

TEST_F(StatisticsLogTest, SecondRunAppendsANewBlock) {
    startServer({"--log", "true", "--stats", path_});
    ASSERT_TRUE(waitForRows(path_, 3));
    server_->stop();
    const std::vector<std::string> firstRun = readLines(path_);

    startServer({"--log", "true", "--stats", path_});
    ASSERT_TRUE(waitForRows(path_, firstRun.size() + 3));
    server_->stop();
    const std::vector<std::string> lines = readLines(path_);
    for (std::size_t i = 0; i < firstRun.size(); ++i) {
        EXPECT_EQ(lines[i], firstRun[i]);
    }
    EXPECT_EQ(lines[firstRun.size()], "!New measurement started:");
    EXPECT_EQ(lines[firstRun.size() + 1], statsfile::kHeader);
    const std::vector<long long> row = rowOf(lines[firstRun.size() + 2]);
    EXPECT_EQ(row[13], 0);  // nobody joined
    EXPECT_EQ(row[14], 0);
}

TEST_F(StatisticsLogTest, NoFileWithoutLogging) {
    startServer({"--stats", path_});
    auto client = joinClient();
    std::this_thread::sleep_for(Milliseconds(1500));
    EXPECT_FALSE(std::filesystem::exists(path_));
}

}  // namespace
}  // namespace e2e
