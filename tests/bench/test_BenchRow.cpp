#include "tools/bench/BenchRow.h"

#include <gtest/gtest.h>

namespace {

// Four players over a 2 s window, everything working.
SwarmResult healthy() {
    SwarmResult r;
    r.players = r.joined = r.udpActive = 4;
    r.udpDownBytes = 16000;  // 2000 B/s per player
    r.udpDownDatagrams = 100;
    r.tcpDownBytes = 800;
    r.udpUpBytes = 4 * 2 * 20 * 29;  // 20 ClientUpdates of 29 bytes per second each
    r.udpUpDatagrams = 4 * 2 * 20;
    for (std::uint32_t tick = 0; tick < 60; ++tick) {
        r.stamps.push_back(1000 + tick * 33);
    }
    r.fireLatenciesMs = {10, 20, 30};
    return r;
}

BenchRow rowOf(const SwarmResult& result, ScenarioKind scenario) {
    BenchRow row;
    row.scenario = scenario;
    row.players = 4;
    row.serverAlive = true;
    row.floorOk = true;
    row.takeFigures(result, 2.0);
    return row;
}

}  // namespace

TEST(BenchRow, RatesArePerPlayerPerSecond) {
    const BenchRow row = rowOf(healthy(), ScenarioKind::Dogfight);
    EXPECT_DOUBLE_EQ(row.udpDownBytes, 2000.0);
    EXPECT_DOUBLE_EQ(row.tcpDownBytes, 100.0);
    EXPECT_DOUBLE_EQ(row.udpUpBytes, 20 * 29.0);
    EXPECT_DOUBLE_EQ(row.datagramsDown, 50.0);
    EXPECT_DOUBLE_EQ(row.datagramsUp, 80.0);
}

TEST(BenchRow, TickAndLatencyFigures) {
    const BenchRow row = rowOf(healthy(), ScenarioKind::Dogfight);
    EXPECT_EQ(row.ticks, 60u);
    EXPECT_DOUBLE_EQ(row.tickCoverage, 1.0);  // 60 ticks in 2 s at 30 Hz
    EXPECT_EQ(row.tickP50, 33.0);
    EXPECT_EQ(row.tickMax, 33.0);
    EXPECT_EQ(row.shots, 3u);
    EXPECT_EQ(row.fireP50, 20.0);
    EXPECT_EQ(row.fireP99, 30.0);
}

TEST(BenchRow, SaneRunHasNoProblemsHoweverSlow) {
    SwarmResult slow = healthy();
    slow.stamps = {1000, 1500, 3000, 3001};  // half-second ticks: slow, but it worked
    slow.fireLatenciesMs = {900};
    EXPECT_TRUE(rowOf(slow, ScenarioKind::Dogfight).problems().empty());
}

TEST(BenchRow, NamesWhatWentWrong) {
    SwarmResult broken = healthy();
    broken.joined = 3;
    broken.badFrames = 2;
    broken.fireLatenciesMs.clear();
    broken.stamps.clear();
    BenchRow row = rowOf(broken, ScenarioKind::Dogfight);
    row.serverAlive = false;
    EXPECT_EQ(row.problems().size(), 5u);  // server, joins, frames, ticks, shots
}

TEST(BenchRow, OnlyFiringScenariosNeedShotsAndTcp) {
    SwarmResult quiet = healthy();
    quiet.tcpDownBytes = 0;
    quiet.fireLatenciesMs.clear();
    EXPECT_TRUE(rowOf(quiet, ScenarioKind::Cruise).problems().empty());
    EXPECT_EQ(rowOf(quiet, ScenarioKind::Dogfight).problems().size(), 2u);
}
