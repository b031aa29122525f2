#pragma once
// The one door to the operating system: clock, CPU and memory figures, working directory,
// process exit.
// Linux implementation in PlatformLinux.cpp; nothing else includes <unistd.h> or reads /proc.

#include <cstdint>
#include <string>

// Milliseconds since system start as a 32-bit count widened to 64 bits (high half always 0).
// Wraps after 2^32 ms; only differences between readings carry meaning.
std::uint64_t getTickCount();

namespace platform {

// Blocks the calling thread until getTickCount reads `tick`, waking as that millisecond begins
// rather than somewhere inside it. Compared as wrapping 32-bit counts: returns at once when the
// count is already there or past it.
void sleepUntilTick(std::uint64_t tick);

// System-wide CPU times in 100 ns units; kernel includes idle, as the statistics expect.
bool systemTimes(std::uint64_t& idle, std::uint64_t& kernel, std::uint64_t& user);

// This process's CPU times in 100 ns units.
bool processTimes(std::uint64_t& kernel, std::uint64_t& user);

unsigned processorCount();

// Resident set size of this process in bytes.
bool workingSetBytes(std::uint64_t& bytes);

// The working directory, or an empty string when it cannot be read.
std::string currentDirectory();

// Ends the process from any thread. Console output written so far is flushed, then the process
// ends at once: no static destructors and no atexit handlers run, so nothing another thread is
// still using (the sockets, the window and its GL context) is torn down under it.
[[noreturn]] void endProcess(int status);

}  // namespace platform
