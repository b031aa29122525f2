#include "client/FrameClock.h"

#include <gtest/gtest.h>

namespace {

std::uint64_t fakeNow = 0;
std::uint64_t fakeTicks() {
    return fakeNow;
}

TEST(FrameClockTest, FirstTickSpansEverythingSinceConstruction) {
    fakeNow = 5000;
    FrameClock clock(&fakeTicks);
    fakeNow = 8250;  // connection, window and set-up took 3.25 s
    EXPECT_DOUBLE_EQ(clock.tick(), 3.25);
}

TEST(FrameClockTest, EachTickMeasuresFromThePreviousOne) {
    fakeNow = 1000;
    FrameClock clock(&fakeTicks);
    fakeNow = 1016;
    EXPECT_NEAR(clock.tick(), 0.016, 1e-12);  // seconds as doubles of the ms readings
    fakeNow = 1033;
    EXPECT_NEAR(clock.tick(), 0.017, 1e-12);
    EXPECT_DOUBLE_EQ(clock.tick(), 0.0);  // no time passed
}

TEST(FrameClockTest, ALongStallIsOneLongStepNotClamped) {
    fakeNow = 0;
    FrameClock clock(&fakeTicks);
    fakeNow = 16;
    clock.tick();
    fakeNow = 16 + 4000;
    EXPECT_DOUBLE_EQ(clock.tick(), 4.0);
}

TEST(FrameClockTest, TheProcessClockRunsOnTheRealTickCount) {
    // Built before main; its first reading lies in the past, never in the future.
    EXPECT_GE(frameClock.tick(), 0.0);
}

}  // namespace
