#pragma once
// The one clock of the test tools: monotonic, shared by every thread and process of the machine,
// so that times taken by different players and by the driver can be compared.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

inline std::int64_t monotonicMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline std::int64_t monotonicMs() {
    return monotonicMicros() / 1000;
}

inline double monotonicSeconds() {
    return static_cast<double>(monotonicMicros()) / 1e6;
}

inline void sleepForMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Calls pred until it holds or the limit passes, for what only another thread or process
// brings about; returns its last value. The pauses grow from 1 to 10 ms: what comes at once is
// seen at once, and a long wait (a file read, a view copied) does not take a core from the
// programs under test.
template <typename Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::chrono::milliseconds pause(1);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) {
            return pred();
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(2 * pause, std::chrono::milliseconds(10));
    }
    return true;
}
