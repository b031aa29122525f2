#include "Common/TaskScheduler.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

#include "Common/Platform.h"

namespace {

struct TickClock : TaskScheduler::Clock {
    std::uint64_t lastRead = 0;

    std::uint64_t now() override {
        lastRead = getTickCount();
        return lastRead;
    }
    void sleepMs(std::int64_t ms) override {
        // The tick count compares only within half its range; the loop's next pass sleeps on
        // through a longer wait.
        constexpr std::int64_t kLongestMs = 24 * 60 * 60 * 1000;
        const std::int64_t step = std::min(ms, kLongestMs);
        platform::sleepUntilTick((lastRead + static_cast<std::uint64_t>(step)) & 0xFFFFFFFFu);
    }
};

TickClock tickClock;
TaskScheduler::Clock* activeClock = &tickClock;

std::vector<ScheduledTask> tasks;

// Atomic only so that a test thread may stop a loop that has no task to do it.
std::atomic<bool> quitRequested{false};

// The tick count wraps every 2^32 ms; the loop works on an unwrapped, ever-growing time so that
// due times stay comparable across the wrap.
struct UnwrappedTime {
    bool started = false;
    std::uint32_t lastRaw = 0;
    std::int64_t now = 0;
};
UnwrappedTime unwrapped;

std::int64_t readClock() {
    const auto raw = static_cast<std::uint32_t>(activeClock->now());
    if (!unwrapped.started) {
        // Start on the raw reading, so times match the tick count until the first wrap.
        unwrapped.started = true;
        unwrapped.now = raw;
    } else {
        const std::uint32_t step = raw - unwrapped.lastRaw;
        // A reading behind the last one (top bit set) would otherwise look like a leap of
        // almost 50 days; hold the time still instead.
        if (step < 0x80000000u) {
            unwrapped.now += step;
        }
    }
    unwrapped.lastRaw = raw;
    return unwrapped.now;
}

std::int64_t periodMs(float rateHz) {
    const double period = (1.0 / static_cast<double>(rateHz)) * 1000.0;
    // Keeps now + period far from overflow for absurdly slow rates.
    const double longest = 4611686018427387904.0;  // 2^62
    if (period >= longest) {
        return static_cast<std::int64_t>(longest);
    }
    return static_cast<std::int64_t>(period);
}

}  // namespace

void addTask(TaskCallback callback, float rateHz) {
    // A rate that is not positive (or NaN) has no period; such a task is never scheduled.
    if (callback == nullptr || !(rateHz > 0.0f)) {
        return;
    }
    tasks.push_back(ScheduledTask{callback, rateHz, 0});
}

void requestQuit() {
    quitRequested.store(true, std::memory_order_relaxed);
}

void TaskScheduler::run() {
    quitRequested.store(false, std::memory_order_relaxed);
    while (!quitRequested.load(std::memory_order_relaxed)) {
        std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
        // By index: the list is not meant to grow while running, but a task that adds one
        // must not leave us on a stale element.
        for (std::size_t i = 0; i < tasks.size(); ++i) {
            const std::int64_t now = readClock();
            if (now > tasks[i].nextDueMs) {
                const TaskCallback callback = tasks[i].callback;
                callback();
                // Counted from when it was found due: a late task is not caught up.
                tasks[i].nextDueMs = now + periodMs(tasks[i].rateHz);
            }
            if (tasks[i].nextDueMs < earliest) {
                earliest = tasks[i].nextDueMs;
            }
        }
        if (earliest == std::numeric_limits<std::int64_t>::max()) {
            continue;
        }
        // A task is due only once the clock has passed its due time, so sleep through that
        // millisecond too; waking on it would spin on the clock until the next one begins.
        const std::int64_t remaining = earliest - readClock();
        if (remaining >= 0) {
            activeClock->sleepMs(remaining + 1);
        }
    }
}

void TaskScheduler::setClock(Clock* clock) {
    activeClock = clock != nullptr ? clock : &tickClock;
    unwrapped = UnwrappedTime();
}

void TaskScheduler::clearTasks() {
    tasks.clear();
}
