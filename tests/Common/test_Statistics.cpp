// The process-wide traffic counters.

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "Common/Statistics.h"

namespace {

class StatisticsTest : public testing::Test {
protected:
    void SetUp() override { Statistics::getInstance()->resetForTesting(); }
    void TearDown() override { Statistics::getInstance()->resetForTesting(); }
};

}  // namespace

TEST_F(StatisticsTest, OneInstanceThatStartsAtZero) {
    Statistics* stats = Statistics::getInstance();
    EXPECT_EQ(stats, Statistics::getInstance());
    for (int channel = tcp_sent; channel <= udp_rcvd; ++channel) {
        EXPECT_EQ(stats->getPackets(channel), 0u);
        EXPECT_EQ(stats->getMessages(channel), 0u);
        EXPECT_EQ(stats->getBytes(channel), 0u);
    }
    EXPECT_EQ(stats->fileName, "log.csv");
    EXPECT_EQ(stats->rowCount, 0);
}

TEST_F(StatisticsTest, AddsGoToTheirOwnGroupAndChannel) {
    Statistics* stats = Statistics::getInstance();
    stats->addPackets(0, udp_rcvd);
    EXPECT_EQ(stats->getPackets(udp_rcvd), 0u);

    stats->addPackets(3, udp_rcvd);
    stats->addMessages(5, udp_rcvd);
    stats->addBytes(7, tcp_sent);
    EXPECT_EQ(stats->getPackets(udp_rcvd), 3u);
    EXPECT_EQ(stats->getMessages(udp_rcvd), 5u);
    EXPECT_EQ(stats->getBytes(tcp_sent), 7u);
    for (int channel = tcp_sent; channel < udp_rcvd; ++channel) {
        EXPECT_EQ(stats->getPackets(channel), 0u);
        EXPECT_EQ(stats->getMessages(channel), 0u);
    }
    EXPECT_EQ(stats->getBytes(udp_rcvd), 0u);
}

TEST_F(StatisticsTest, CountersKeepCountingPast32Bits) {
    Statistics* stats = Statistics::getInstance();
    stats->addBytes(0xFFFFFFFFu, tcp_rcvd);
    stats->addBytes(2, tcp_rcvd);
    EXPECT_EQ(stats->getBytes(tcp_rcvd), (std::uint64_t{1} << 32) + 1);
}

TEST_F(StatisticsTest, TwoThreadsLoseNoCount) {
    constexpr int kAdds = 100000;
    auto count = [] {
        for (int i = 0; i < kAdds; ++i) {
            Statistics::getInstance()->addPackets(1, udp_sent);
        }
    };
    std::thread other(count);
    count();
    other.join();
    EXPECT_EQ(Statistics::getInstance()->getPackets(udp_sent), 2u * kAdds);
}

TEST_F(StatisticsTest, FileNameIsACopy) {
    std::string name = "run1.csv";
    Statistics::getInstance()->setFileName(name);
    name = "changed";
    EXPECT_EQ(Statistics::getInstance()->fileName, "run1.csv");
}
