#include "tools/bench/ShotMatcher.h"

#include <gtest/gtest.h>

using Clock = ShotMatcher::Clock;

TEST(ShotMatcher, FindsTheUpdateThatCarriedTheOrientation) {
    ShotMatcher matcher;
    const Clock::time_point t0 = Clock::now();
    const float first[4] = {0.1f, 0.2f, 0.3f, 0.9f};
    const float second[4] = {0.1f, 0.2f, 0.31f, 0.9f};
    matcher.recordSent(first, t0);
    matcher.recordSent(second, t0 + std::chrono::milliseconds(50));
    Clock::time_point sentAt;
    ASSERT_TRUE(matcher.match(first, sentAt));
    EXPECT_EQ(sentAt, t0);
}

TEST(ShotMatcher, AShotIsMatchedOnce) {
    ShotMatcher matcher;
    const float q[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    matcher.recordSent(q, Clock::now());
    Clock::time_point sentAt;
    EXPECT_TRUE(matcher.match(q, sentAt));
    EXPECT_FALSE(matcher.match(q, sentAt));
}

TEST(ShotMatcher, ComparesBitsNotValues) {
    // The server copies the floats; -0 and +0 are different orientations as sent.
    ShotMatcher matcher;
    const float sent[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    const float other[4] = {-0.0f, 0.0f, 0.0f, 1.0f};
    matcher.recordSent(sent, Clock::now());
    Clock::time_point sentAt;
    EXPECT_FALSE(matcher.match(other, sentAt));
}

TEST(ShotMatcher, ForgetsUpdatesOlderThanItsDepth) {
    ShotMatcher matcher;
    const Clock::time_point t0 = Clock::now();
    for (std::size_t i = 0; i <= ShotMatcher::kDepth; ++i) {
        const float q[4] = {static_cast<float>(i), 0.0f, 0.0f, 1.0f};
        matcher.recordSent(q, t0);
    }
    Clock::time_point sentAt;
    const float oldest[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    const float oldestKept[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    EXPECT_FALSE(matcher.match(oldest, sentAt));
    EXPECT_TRUE(matcher.match(oldestKept, sentAt));
}
