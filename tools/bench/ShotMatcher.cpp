#include "tools/bench/ShotMatcher.h"

#include <cstring>

void ShotMatcher::recordSent(const float (&orientation)[4], Clock::time_point sentAt) {
    Entry& entry = ring_[next_];
    std::memcpy(entry.orientation, orientation, sizeof(entry.orientation));
    entry.sentAt = sentAt;
    entry.used = false;
    next_ = (next_ + 1) % kDepth;
}

bool ShotMatcher::match(const float (&orientation)[4], Clock::time_point& sentAt) {
    // Newest first: a repeated orientation belongs to the latest update that carried it.
    for (std::size_t i = 0; i < kDepth; ++i) {
        Entry& entry = ring_[(next_ + kDepth - 1 - i) % kDepth];
        // Bitwise: the server copies the floats, it does not compute them.
        if (!entry.used &&
            std::memcmp(entry.orientation, orientation, sizeof(entry.orientation)) == 0) {
            entry.used = true;
            sentAt = entry.sentAt;
            return true;
        }
    }
    return false;
}
