#pragma once

#include <array>
#include <chrono>
#include <cstddef>

// Finds the ClientUpdate that made the server fire. The server gives a new shot the shooter's
// orientation as the last applied ClientUpdate carried it, bit for bit, and a turning player
// sends a different orientation in every update; so a shot whose orientation equals one that
// this player sent recently is its own, fired by that update.
class ShotMatcher {
public:
    using Clock = std::chrono::steady_clock;
    // 1.6 s of updates at 20 per second.
    static constexpr std::size_t kDepth = 32;

    // orientation as encoded: x, y, z, w.
    void recordSent(const float (&orientation)[4], Clock::time_point sentAt);

    // When orientation matches a recorded update, sentAt receives its send time and the entry
    // is used up (a shot is matched once); otherwise false.
    bool match(const float (&orientation)[4], Clock::time_point& sentAt);

private:
    struct Entry {
        float orientation[4];
        Clock::time_point sentAt;
        bool used = true;
    };
    std::array<Entry, kDepth> ring_{};
    std::size_t next_ = 0;
};
