#pragma once
// The one clock of the test tools: monotonic, shared by every thread and process of the machine,
// so that times taken by different players and by the driver can be compared.

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

// Polls pred every 10 ms until it holds or timeoutMs pass; returns its last value.
template <typename Pred>
bool waitUntil(Pred pred, int timeoutMs) {
    const std::int64_t end = monotonicMs() + timeoutMs;
    while (!pred()) {
        if (monotonicMs() >= end) {
            return pred();
        }
        sleepForMs(10);
    }
    return true;
}
