#include "tools/bench/Percentiles.h"

#include <gtest/gtest.h>

TEST(Percentiles, NearestRankOfOneToHundred) {
    std::vector<double> values;
    for (int i = 100; i >= 1; --i) {
        values.push_back(i);
    }
    const Percentiles p(values);
    EXPECT_EQ(p.at(50), 50.0);
    EXPECT_EQ(p.at(99), 99.0);
    EXPECT_EQ(p.at(100), 100.0);
    EXPECT_EQ(p.at(0), 1.0);
    EXPECT_EQ(p.max(), 100.0);
}

TEST(Percentiles, SmallSamplesRoundTheRankUp) {
    // Ten values: p99 needs 9.9 of them, so it is the tenth; p50 is the fifth.
    const Percentiles p({10, 20, 30, 40, 50, 60, 70, 80, 90, 1000});
    EXPECT_EQ(p.at(99), 1000.0);
    EXPECT_EQ(p.at(50), 50.0);
}

TEST(Percentiles, EmptySampleReadsZero) {
    const Percentiles p({});
    EXPECT_TRUE(p.empty());
    EXPECT_EQ(p.at(50), 0.0);
    EXPECT_EQ(p.max(), 0.0);
}
