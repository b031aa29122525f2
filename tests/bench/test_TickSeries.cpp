#include "tools/bench/TickSeries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// A 30 Hz server whose scheduler waits 1000 / 30 = 33 ms (integer) after each tick's start.
constexpr std::uint32_t kTickMs = 33;

TEST(TickSeries, StampsOfOneTickCountOnce) {
    // Each tick stamps several messages over its world update, up to 3 ms apart, and in any
    // order as they arrive from several players.
    std::vector<std::uint32_t> stamps;
    for (std::uint32_t tick = 0; tick < 10; ++tick) {
        const std::uint32_t start = 5000 + tick * kTickMs;
        stamps.insert(stamps.end(), {start + 3, start, start + 1, start, start + 2});
    }
    const TickSeries series(stamps);
    ASSERT_EQ(series.tickStarts().size(), 10u);
    for (const double period : series.periods()) {
        EXPECT_EQ(period, kTickMs);
    }
}

TEST(TickSeries, AStallShowsAsOneLongPeriod) {
    std::vector<std::uint32_t> stamps = {1000, 1033, 1066, 1166, 1199};
    const TickSeries series(stamps);
    const std::vector<double> periods = series.periods();
    ASSERT_EQ(periods.size(), 4u);
    EXPECT_EQ(periods[2], 100.0);
}

TEST(TickSeries, SurvivesTheWrapOfTheServerClock) {
    // The server's clock is 32-bit milliseconds; stamps on both sides of the wrap.
    const std::vector<std::uint32_t> stamps = {0xFFFFFFF0u, 0xFFFFFFF0u + kTickMs,
                                               0xFFFFFFF0u + 2 * kTickMs};
    const TickSeries series(stamps);
    EXPECT_EQ(series.periods(), (std::vector<double>{kTickMs, kTickMs}));
}

TEST(TickSeries, GapsJustBelowTheThresholdJoinJustAboveSplit) {
    const std::uint32_t below = TickSeries::kSameTickMs - 1;
    EXPECT_EQ(TickSeries({100, 100 + below}).tickStarts().size(), 1u);
    EXPECT_EQ(TickSeries({100, 100 + TickSeries::kSameTickMs}).tickStarts().size(), 2u);
}

TEST(TickSeries, NoStampsNoTicks) {
    const TickSeries series({});
    EXPECT_TRUE(series.tickStarts().empty());
    EXPECT_TRUE(series.periods().empty());
}
