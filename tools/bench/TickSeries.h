#pragma once

#include <cstdint>
#include <vector>

// The server's ticks as its clients see them, rebuilt from the timestamps it stamps on
// ObjectUpdates and on shot ObjectInfos. Those are stamped during the tick's world update, so
// the stamps of one tick lie within a few milliseconds of each other, while two ticks lie a
// whole tick period apart. Stamps closer than kSameTickMs to the previous one therefore count
// as the same tick, and the first stamp of a group stands for its tick.
class TickSeries {
public:
    static constexpr std::int64_t kSameTickMs = 16;

    // stamps: the server's 32-bit millisecond clock values, any order, duplicates allowed,
    // possibly across a wrap of the clock.
    explicit TickSeries(const std::vector<std::uint32_t>& stamps);

    // Start of each tick in milliseconds, relative to the earliest stamp.
    const std::vector<std::int64_t>& tickStarts() const { return starts_; }
    // The spacings of consecutive ticks in milliseconds.
    std::vector<double> periods() const;

private:
    std::vector<std::int64_t> starts_;
};
