#pragma once

#include <cstdint>

// The clock that stamps outgoing ObjectInfos and ObjectUpdates and the server's own copy of
// the clients' samples: the tick clock's low 32 bits, in milliseconds. Main thread only.
std::uint32_t serverClock();

// Tests drive the timestamps through this; nullptr restores getTickCount.
void setServerClock(std::uint64_t (*clock)());
