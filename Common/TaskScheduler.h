#pragma once

#include <cstdint>

// The main loop of both programs: periodic tasks on one process-wide list.
using TaskCallback = void (*)();

struct ScheduledTask {
    TaskCallback callback;
    float rateHz;            // calls per second, > 0
    std::int64_t nextDueMs;  // due once the clock has passed this (strictly)
};

// Appends {callback, rateHz, 0}: a new task runs in the first pass.
void addTask(TaskCallback callback, float rateHz);

// Stops TaskScheduler::run after the current pass. Only the client calls it.
void requestQuit();

class TaskScheduler {
public:
    // Where the loop reads the time and sleeps; tests drive it with a fake.
    struct Clock {
        virtual ~Clock() = default;
        virtual std::uint64_t now() = 0;  // getTickCount semantics: 32-bit wrapping ms
        // Blocks until now() would read ms more than its last reading.
        virtual void sleepMs(std::int64_t ms) = 0;
    };

    // Runs passes until requestQuit; clears the quit flag on entry.
    static void run();

    // nullptr restores the real tick clock.
    static void setClock(Clock* clock);
    // Tests only: empties the task list.
    static void clearTasks();
};
