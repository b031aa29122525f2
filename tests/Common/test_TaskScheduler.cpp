#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <future>
#include <ostream>
#include <string>
#include <vector>

#include "Common/TaskScheduler.h"

namespace {

// Test time, kept in microseconds: a reading costs 0.1 ms, a sleep ends as the millisecond asked
// for begins (counted from the last reading), and the loop sees whole milliseconds, low 32 bits
// only, like the real tick count.
struct FakeClock : TaskScheduler::Clock {
    static constexpr std::uint64_t kReadCostUs = 100;

    std::uint64_t us = 0;
    std::uint64_t lastRead = 0;  // ms, not wrapped
    std::int64_t reads = 0;
    struct Sleep {
        std::uint64_t afterRead;  // the reading the sleep was computed from
        std::int64_t ms;
    };
    std::vector<Sleep> sleeps;

    void setMs(std::uint64_t ms) { us = ms * 1000; }
    void advanceMs(std::int64_t ms) { us += static_cast<std::uint64_t>(ms * 1000); }

    // A loop that has lost track of time would sleep for ages or spin for ever; both end the
    // run here so that the test fails instead of hanging.
    static constexpr std::int64_t kMaxReads = 1000000;
    static constexpr std::int64_t kMaxSleepMs = 60000;

    std::uint64_t now() override {
        if (reads >= kMaxReads) {
            requestQuit();
        }
        lastRead = us / 1000;
        us += kReadCostUs;
        ++reads;
        return lastRead & 0xFFFFFFFFu;
    }
    void sleepMs(std::int64_t ms) override {
        sleeps.push_back({lastRead, ms});
        if (ms > kMaxSleepMs) {
            requestQuit();
            return;
        }
        us = std::max(us, (lastRead + static_cast<std::uint64_t>(ms)) * 1000);
    }
};

struct Call {
    std::string task;
    std::uint64_t readAt;      // the reading that found the task due
    std::size_t sleepsBefore;  // sleeps made before this call
};

FakeClock* fake = nullptr;
std::vector<Call> calls;
int quitAfter = 0;  // total calls after which the tasks stop the loop
std::int64_t longBodyMs = 0;

void record(const char* name) {
    calls.push_back({name, fake->lastRead, fake->sleeps.size()});
}

void maybeQuit() {
    if (static_cast<int>(calls.size()) >= quitAfter) {
        requestQuit();
    }
}

void taskA() {
    record("A");
    maybeQuit();
}
void taskB() {
    record("B");
    maybeQuit();
}
void taskC() {
    record("C");
    maybeQuit();
}
// Takes longBodyMs of clock time on its first call only.
void slowOnceTask() {
    record("slow");
    if (calls.size() == 1) {
        fake->advanceMs(longBodyMs);
    }
    maybeQuit();
}
// The system clock steps back 5 ms during the first call.
void steppingBackTask() {
    record("back");
    if (calls.size() == 1) {
        fake->advanceMs(-5);
    }
    maybeQuit();
}
void neverCalled() {
    record("never");
}

class TaskSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        TaskScheduler::clearTasks();
        clock.setMs(1000);
        fake = &clock;
        TaskScheduler::setClock(&clock);
        calls.clear();
        quitAfter = 1;
        longBodyMs = 0;
    }
    void TearDown() override {
        TaskScheduler::clearTasks();
        TaskScheduler::setClock(nullptr);
        fake = nullptr;
    }

    static std::vector<std::uint64_t> readingsOf(const std::string& task) {
        std::vector<std::uint64_t> out;
        for (const Call& c : calls) {
            if (c.task == task) {
                out.push_back(c.readAt);
            }
        }
        return out;
    }

    FakeClock clock;
};

// period = trunc(1000 / rate); the strict test puts runs one period + 1 ms apart.
struct RateCase {
    float rate;
    std::uint64_t periodMs;
};

void PrintTo(const RateCase& c, std::ostream* os) {
    *os << c.rate << " per second, " << c.periodMs << " ms";
}

class TaskSchedulerPeriod : public TaskSchedulerTest,
                            public ::testing::WithParamInterface<RateCase> {};

TEST_P(TaskSchedulerPeriod, RunsOnePeriodPlusOneApartAndSleepsUntilDue) {
    const RateCase rc = GetParam();
    quitAfter = 5;
    addTask(taskA, rc.rate);
    TaskScheduler::run();

    const std::vector<std::uint64_t> at = readingsOf("A");
    ASSERT_EQ(at.size(), 5u);
    EXPECT_EQ(at[0], 1000u);  // a new task is due in the first pass
    for (std::size_t i = 1; i < at.size(); ++i) {
        EXPECT_EQ(at[i] - at[i - 1], rc.periodMs + 1) << i;
        EXPECT_EQ(calls[i].sleepsBefore, i) << "one sleep per period";
    }
    // Each sleep ends on the first millisecond the task is due: the reading that ran it plus
    // the period, plus one.
    ASSERT_EQ(clock.sleeps.size(), 5u);
    for (std::size_t i = 0; i < at.size(); ++i) {
        const FakeClock::Sleep& s = clock.sleeps[i];
        EXPECT_GT(s.ms, 0);
        EXPECT_EQ(s.afterRead + static_cast<std::uint64_t>(s.ms), at[i] + rc.periodMs + 1) << i;
    }
    // Every pass calls the task: one reading for it and one before the sleep. A loop that
    // woke too early would read the clock over and over until the task fell due.
    EXPECT_EQ(clock.reads, static_cast<std::int64_t>(2 * at.size()));
}

INSTANTIATE_TEST_SUITE_P(Rates, TaskSchedulerPeriod,
                         ::testing::Values(RateCase{60.0f, 16}, RateCase{30.0f, 33},
                                           RateCase{1.0f, 1000}, RateCase{7.0f, 142}),
                         [](const ::testing::TestParamInfo<RateCase>& info) {
                             return "Rate" + std::to_string(static_cast<int>(info.param.rate));
                         });

TEST_F(TaskSchedulerTest, LongTaskIsNotCaughtUp) {
    longBodyMs = 200;
    quitAfter = 3;
    addTask(slowOnceTask, 30.0f);
    TaskScheduler::run();

    const std::vector<std::uint64_t> at = readingsOf("slow");
    ASSERT_EQ(at.size(), 3u);
    // Late by far more than a period, it runs in the very next pass, without a sleep first ...
    EXPECT_EQ(at[1] - at[0], 200u);
    EXPECT_EQ(calls[1].sleepsBefore, 0u);
    // ... once, and the period then counts from that run, not from the missed due times.
    EXPECT_EQ(at[2] - at[1], 34u);
    EXPECT_EQ(calls[2].sleepsBefore, 1u);
}

TEST_F(TaskSchedulerTest, BodyEndingOnTheDueTimeSleepsOneMillisecond) {
    // The task is not due yet while the clock still shows its due time.
    longBodyMs = 16;
    quitAfter = 2;
    addTask(slowOnceTask, 60.0f);
    TaskScheduler::run();

    const std::vector<std::uint64_t> at = readingsOf("slow");
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[1] - at[0], 17u);
    ASSERT_EQ(calls[1].sleepsBefore, 1u);
    EXPECT_EQ(clock.sleeps[0].ms, 1);
    EXPECT_EQ(clock.reads, 4);  // two passes, no spinning between them
}

TEST_F(TaskSchedulerTest, QuitTakesEffectBetweenPasses) {
    quitAfter = 1;  // A quits on its first call
    addTask(taskA, 60.0f);
    addTask(taskB, 60.0f);
    TaskScheduler::run();

    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].task, "A");
    EXPECT_EQ(calls[1].task, "B");  // the rest of the pass still runs
    EXPECT_EQ(calls[1].sleepsBefore, 0u);
    EXPECT_EQ(clock.sleeps.size(), 1u);  // and so does its sleep
}

TEST_F(TaskSchedulerTest, RunAgainClearsTheQuitFlag) {
    addTask(taskA, 60.0f);
    requestQuit();
    quitAfter = 1;
    TaskScheduler::run();
    EXPECT_EQ(calls.size(), 1u);  // a flag left from before did not stop the new run

    quitAfter = 2;
    TaskScheduler::run();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].readAt - calls[0].readAt, 17u);  // due times carry over between runs
}

TEST_F(TaskSchedulerTest, DueTasksRunInTheOrderAdded) {
    quitAfter = 3;
    addTask(taskC, 60.0f);
    addTask(taskA, 30.0f);
    addTask(taskB, 60.0f);
    TaskScheduler::run();

    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].task, "C");
    EXPECT_EQ(calls[1].task, "A");
    EXPECT_EQ(calls[2].task, "B");
    for (const Call& c : calls) {
        EXPECT_EQ(c.readAt, 1000u);  // all in the one first pass
    }
}

TEST_F(TaskSchedulerTest, EachTaskKeepsItsOwnPeriod) {
    quitAfter = 8;
    addTask(taskA, 60.0f);
    addTask(taskB, 30.0f);
    TaskScheduler::run();

    const std::vector<std::uint64_t> a = readingsOf("A");
    const std::vector<std::uint64_t> b = readingsOf("B");
    ASSERT_GE(a.size(), 4u);
    ASSERT_GE(b.size(), 2u);
    for (std::size_t i = 1; i < a.size(); ++i) {
        EXPECT_EQ(a[i] - a[i - 1], 17u) << i;
    }
    for (std::size_t i = 1; i < b.size(); ++i) {
        EXPECT_EQ(b[i] - b[i - 1], 34u) << i;
    }
}

TEST_F(TaskSchedulerTest, RatesThatAreNotPositiveAreIgnored) {
    addTask(neverCalled, 0.0f);
    addTask(neverCalled, -30.0f);
    addTask(neverCalled, std::nanf(""));
    addTask(nullptr, 60.0f);
    addTask(taskA, 60.0f);
    quitAfter = 2;
    TaskScheduler::run();
    EXPECT_TRUE(readingsOf("never").empty());
    EXPECT_EQ(readingsOf("A").size(), 2u);
}

TEST_F(TaskSchedulerTest, StaysLiveAcrossTheClockWrap) {
    const std::uint64_t wrap = std::uint64_t{1} << 32;
    clock.setMs(wrap - 40);
    quitAfter = 8;
    addTask(taskA, 60.0f);
    TaskScheduler::run();

    const std::vector<std::uint64_t> at = readingsOf("A");
    ASSERT_EQ(at.size(), 8u);
    EXPECT_LT(at.front(), wrap);
    EXPECT_GT(at.back(), wrap);  // the readings the loop saw wrapped to 0 in between
    for (std::size_t i = 1; i < at.size(); ++i) {
        EXPECT_EQ(at[i] - at[i - 1], 17u) << i;
    }
    for (const FakeClock::Sleep& s : clock.sleeps) {
        EXPECT_LE(s.ms, 17);
    }
}

TEST_F(TaskSchedulerTest, ClockSteppingBackDoesNotStallOrRush) {
    quitAfter = 3;
    addTask(steppingBackTask, 60.0f);
    TaskScheduler::run();

    const std::vector<std::uint64_t> at = readingsOf("back");
    ASSERT_EQ(at.size(), 3u);
    for (const FakeClock::Sleep& s : clock.sleeps) {
        EXPECT_GT(s.ms, 0);
        EXPECT_LE(s.ms, 17);
    }
    // The loop's time holds still while the clock is behind, so the next run comes a period
    // later less the 5 ms step, and the one after a full period again.
    EXPECT_GT(at[1], at[0]);
    EXPECT_EQ(at[1] - at[0], 17u - 5u);
    EXPECT_EQ(at[2] - at[1], 17u);
}

TEST_F(TaskSchedulerTest, EmptyListPassesWithoutSleepingUntilQuit) {
    // No task can set the flag here, so this thread does, until the loop has returned.
    std::future<void> loop = std::async(std::launch::async, [] { TaskScheduler::run(); });
    while (loop.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
        requestQuit();
    }
    loop.get();
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_EQ(clock.reads, 0);  // with nothing to run there is nothing to time
}

}  // namespace
