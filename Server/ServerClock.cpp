#include "Server/ServerClock.h"

#include "Common/Platform.h"

namespace {
std::uint64_t (*clockSource)() = nullptr;
}

std::uint32_t serverClock() {
    const std::uint64_t now = clockSource != nullptr ? clockSource() : getTickCount();
    return static_cast<std::uint32_t>(now);
}

void setServerClock(std::uint64_t (*clock)()) {
    clockSource = clock;
}
