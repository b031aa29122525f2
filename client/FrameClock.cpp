#include "client/FrameClock.h"

#include "Common/Platform.h"

FrameClock frameClock;

FrameClock::FrameClock(TickSource ticks) : ticks(ticks != nullptr ? ticks : &getTickCount) {
    previous = static_cast<double>(this->ticks()) / 1000.0;
}

double FrameClock::tick() {
    const double now = static_cast<double>(ticks()) / 1000.0;
    const double result = now - previous;
    previous = now;
    return result;
}
