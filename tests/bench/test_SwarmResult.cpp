#include "tools/bench/SwarmResult.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

SwarmResult sample() {
    SwarmResult r;
    r.players = 3;
    r.joined = 3;
    r.udpActive = 2;
    r.badFrames = 1;
    r.udpDownBytes = 123456789012ull;
    r.udpDownDatagrams = 40;
    r.tcpDownBytes = 77;
    r.udpUpBytes = 580;
    r.udpUpDatagrams = 20;
    r.shotsSeen = 6;
    r.fireLatenciesMs = {12.5, 30.25};
    r.stamps = {4294967295u, 1000u};
    r.datagramSizes = {{57, 10}, {1002, 30}};
    r.ports = {40000, 65535};
    return r;
}

}  // namespace

TEST(SwarmResult, TextRoundTrip) {
    std::stringstream text;
    sample().write(text);
    SwarmResult back;
    ASSERT_TRUE(back.read(text));
    const SwarmResult expected = sample();
    EXPECT_EQ(back.players, expected.players);
    EXPECT_EQ(back.udpActive, expected.udpActive);
    EXPECT_EQ(back.badFrames, expected.badFrames);
    EXPECT_EQ(back.udpDownBytes, expected.udpDownBytes);
    EXPECT_EQ(back.udpUpDatagrams, expected.udpUpDatagrams);
    EXPECT_EQ(back.shotsSeen, expected.shotsSeen);
    EXPECT_EQ(back.fireLatenciesMs, expected.fireLatenciesMs);
    EXPECT_EQ(back.stamps, expected.stamps);
    EXPECT_EQ(back.datagramSizes, expected.datagramSizes);
    EXPECT_EQ(back.ports, expected.ports);
}

TEST(SwarmResult, TruncatedOrForeignTextIsRejected) {
    std::stringstream text;
    sample().write(text);
    std::string cut = text.str();
    cut.resize(cut.find("end"));
    std::stringstream truncated(cut);
    SwarmResult r;
    EXPECT_FALSE(r.read(truncated));
    std::stringstream foreign("hello\n");
    EXPECT_FALSE(r.read(foreign));
}

TEST(SwarmResult, MergeAddsCountsAndPoolsSamples) {
    SwarmResult total = sample();
    total.merge(sample());
    EXPECT_EQ(total.players, 6u);
    EXPECT_EQ(total.udpDownDatagrams, 80u);
    EXPECT_EQ(total.fireLatenciesMs.size(), 4u);
    EXPECT_EQ(total.stamps.size(), 4u);
    EXPECT_EQ(total.datagramSizes.at(1002), 60u);
    EXPECT_EQ(total.datagramSizes.at(57), 20u);
    EXPECT_EQ(total.ports.size(), 4u);
}
