#include "tools/bench/TickSeries.h"

#include <algorithm>

TickSeries::TickSeries(const std::vector<std::uint32_t>& stamps) {
    if (stamps.empty()) {
        return;
    }
    // Unwrap against one reference: a run spans seconds, far less than half the clock's range,
    // so the signed 32-bit difference is the true one even across a wrap.
    const std::uint32_t reference = stamps.front();
    std::vector<std::int64_t> times;
    times.reserve(stamps.size());
    for (const std::uint32_t stamp : stamps) {
        times.push_back(static_cast<std::int32_t>(stamp - reference));
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    const std::int64_t origin = times.front();
    std::int64_t previous = times.front();
    starts_.push_back(0);
    for (std::size_t i = 1; i < times.size(); ++i) {
        if (times[i] - previous >= kSameTickMs) {
            starts_.push_back(times[i] - origin);
        }
        previous = times[i];
    }
}

std::vector<double> TickSeries::periods() const {
    std::vector<double> gaps;
    for (std::size_t i = 1; i < starts_.size(); ++i) {
        gaps.push_back(static_cast<double>(starts_[i] - starts_[i - 1]));
    }
    return gaps;
}
