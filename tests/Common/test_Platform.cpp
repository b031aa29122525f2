#include <gtest/gtest.h>

#include <cstdint>

#include "Common/Platform.h"

namespace {

// The scheduler relies on this to wake without spinning: once the sleep ends, the tick count
// has reached the reading asked for.
TEST(Platform, SleepUntilTickEndsOnceTheCountIsThere) {
    for (std::uint64_t ahead = 1; ahead <= 5; ++ahead) {
        const std::uint64_t target = (getTickCount() + ahead) & 0xFFFFFFFFu;
        platform::sleepUntilTick(target);
        const auto past = static_cast<std::int32_t>(static_cast<std::uint32_t>(getTickCount()) -
                                                    static_cast<std::uint32_t>(target));
        EXPECT_GE(past, 0) << ahead << " ms ahead";
    }
}

}  // namespace
