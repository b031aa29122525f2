#pragma once

#include <cstdint>

// Measures the time between frames from the millisecond tick count.
class FrameClock {
public:
    using TickSource = std::uint64_t (*)();

    // Takes its first reading at once; the real clock unless a test hands in its own.
    explicit FrameClock(TickSource ticks = nullptr);

    // Seconds since the previous call (since construction for the first). Not clamped: a stall
    // comes out as one long step.
    double tick();

    TickSource ticks;
    double previous;  // seconds
};

// The one clock of the process; built during static construction, before SDL_main.
extern FrameClock frameClock;
