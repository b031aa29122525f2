#include "tools/bench/SwarmTally.h"

#include <algorithm>

void SwarmTally::noteStamp(std::uint32_t stamp) {
    // Most frames of a tick carry the same stamp; skip the set for repeats.
    if (anyStamp_ && stamp == lastStamp_) {
        return;
    }
    anyStamp_ = true;
    lastStamp_ = stamp;
    stamps_.insert(stamp);
}

const SwarmResult& SwarmTally::finish() {
    result_.stamps.assign(stamps_.begin(), stamps_.end());
    std::sort(result_.stamps.begin(), result_.stamps.end());
    return result_;
}
