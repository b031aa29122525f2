#pragma once

#include <chrono>
#include <cstdint>
#include <unordered_set>

#include "tools/bench/SwarmResult.h"

// What the players of one swarm count together: the figures of the measured window and the
// server's tick stamps seen in it. All the players of a swarm share one, on one thread.
class SwarmTally {
public:
    using Clock = std::chrono::steady_clock;

    SwarmTally(Clock::time_point windowStart, Clock::time_point windowEnd)
        : windowStart_(windowStart), windowEnd_(windowEnd) {}

    bool inWindow(Clock::time_point t) const { return t >= windowStart_ && t < windowEnd_; }
    SwarmResult& result() { return result_; }
    // A server timestamp of the tick's world-update phase, seen in the window.
    void noteStamp(std::uint32_t stamp);
    // The result, with the distinct stamps in order.
    const SwarmResult& finish();

private:
    Clock::time_point windowStart_;
    Clock::time_point windowEnd_;
    SwarmResult result_;
    std::unordered_set<std::uint32_t> stamps_;
    std::uint32_t lastStamp_ = 0;
    bool anyStamp_ = false;
};
