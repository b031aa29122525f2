// Per-second traffic rates and the statistics file.

#include "Server/StatisticsFile.h"

#include <unistd.h>

#include <fstream>

#include "tests/Server/ServerTestSupport.h"
#include "tests/Server/StatisticsRowFormat.h"

namespace {

using statsfile::readLines;
using statsfile::rowOf;

class RatesTest : public servertest::ServerWorldTest {
protected:
    void SetUp() override {
        ServerWorldTest::SetUp();
        stats->lastTick = 10000;
    }
    Statistics* stats = Statistics::getInstance();
};

TEST_F(RatesTest, NothingChangesUntilMoreThanASecondHasPassed) {
    stats->addBytes(5000, tcp_sent);
    stats->updateRates(10999);
    stats->updateRates(11000);
    EXPECT_EQ(stats->rates[8 + tcp_sent], 0.0f);
    EXPECT_EQ(stats->snapshots[8 + tcp_sent], 0u);
    EXPECT_EQ(stats->lastTick, 10000u);

    stats->updateRates(11001);
    EXPECT_EQ(stats->rates[8 + tcp_sent], 5000.0f * static_cast<float>(1000.0 / 1001.0));
    EXPECT_EQ(stats->snapshots[8 + tcp_sent], 5000u);
    EXPECT_EQ(stats->lastTick, 11001u);
}

TEST_F(RatesTest, EachGroupAndChannelHasItsOwnRate) {
    stats->addBytes(3000, tcp_sent);
    stats->addPackets(30, udp_rcvd);
    stats->addMessages(45, tcp_rcvd);
    stats->updateRates(11500);
    EXPECT_FLOAT_EQ(stats->rates[8 + tcp_sent], 2000.0f);  // 3000 bytes over 1.5 s
    EXPECT_FLOAT_EQ(stats->rates[udp_rcvd], 20.0f);
    EXPECT_FLOAT_EQ(stats->rates[4 + tcp_rcvd], 30.0f);
    for (int index : {0, 1, 2, 4, 6, 7, 9, 10, 11}) {
        EXPECT_EQ(stats->rates[index], 0.0f) << index;
    }

    // The next period counts from the snapshots of this one.
    stats->addBytes(1000, tcp_sent);
    stats->updateRates(13500);
    EXPECT_FLOAT_EQ(stats->rates[8 + tcp_sent], 500.0f);
    EXPECT_FLOAT_EQ(stats->rates[udp_rcvd], 0.0f);
}

TEST_F(RatesTest, APeriodAcrossTheClockWrapIsMeasuredLikeAnyOther) {
    stats->lastTick = 0xFFFFFE00u;  // 512 ms before the 32-bit tick count wraps
    stats->addBytes(4000, udp_sent);
    stats->updateRates(0x1F4);  // 500 ms after the wrap: 1012 ms in all
    EXPECT_FLOAT_EQ(stats->rates[8 + udp_sent], 4000.0f * static_cast<float>(1000.0 / 1012.0));
    EXPECT_EQ(stats->lastTick, 0x1F4u);
}

class StatisticsFileTest : public servertest::ServerWorldTest {
protected:
    void SetUp() override {
        ServerWorldTest::SetUp();
        path = ::testing::TempDir() + "stats-" + std::to_string(::getpid()) + ".csv";
        std::remove(path.c_str());
        Statistics::getInstance()->setFileName(path);
    }
    void TearDown() override {
        std::remove(path.c_str());
        ServerWorldTest::TearDown();
    }
    std::string path;
};

TEST_F(StatisticsFileTest, FirstRowOfARunComesWithTheHeaderBlock) {
    Statistics* stats = Statistics::getInstance();
    const float rates[12] = {1.9f, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.99f};
    std::copy(rates, rates + 12, stats->rates);
    servertest::joinPlayer();
    writeStatisticsRow();
    writeStatisticsRow();
    EXPECT_EQ(stats->rowCount, 2);

    const std::vector<std::string> lines = readLines(path);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "!New measurement started:");
    EXPECT_EQ(lines[1], statsfile::kHeader);
    for (std::size_t i = 2; i < 4; ++i) {
        const std::vector<long long> row = rowOf(lines[i]);
        ASSERT_EQ(row.size(), 17u);
        // Packets, then bytes, then messages, each truncated toward zero.
        const std::vector<long long> traffic(row.begin() + 1, row.begin() + 13);
        EXPECT_EQ(traffic, (std::vector<long long>{1, 2, 3, 4, 9, 10, 11, 12, 5, 6, 7, 8}));
        EXPECT_EQ(row[13], 1);  // players
        EXPECT_EQ(row[14], 0);  // no projectile list at all
        EXPECT_GE(row[15], 0);
        EXPECT_GT(row[16], 0);
    }
}

TEST_F(StatisticsFileTest, ANewRunAppendsANewBlock) {
    writeStatisticsRow();
    Statistics::getInstance()->rowCount = 0;  // as after a restart
    writeStatisticsRow();
    const std::vector<std::string> lines = readLines(path);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3], "!New measurement started:");
    EXPECT_EQ(lines[4], statsfile::kHeader);
    EXPECT_EQ(rowOf(lines[5]).size(), 17u);
}

TEST_F(StatisticsFileTest, AFileThatCannotBeOpenedSkipsTheRow) {
    Statistics::getInstance()->setFileName(::testing::TempDir() + "no-such-dir/stats.csv");
    writeStatisticsRow();
    EXPECT_EQ(Statistics::getInstance()->rowCount, 0);
    // The next row that can be written still starts with the block header.
    Statistics::getInstance()->setFileName(path);
    writeStatisticsRow();
    EXPECT_EQ(readLines(path).size(), 3u);
}

}  // namespace
