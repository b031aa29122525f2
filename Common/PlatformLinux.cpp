// Linux implementation of the platform layer.

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "Common/Platform.h"

std::uint64_t getTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    // A 32-bit counter, like the tick counts the statistics and timestamps are built on.
    return ms & 0xFFFFFFFFu;
}

namespace platform {

void sleepUntilTick(std::uint64_t tick) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t nowMs = static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    const auto ahead = static_cast<std::int32_t>(static_cast<std::uint32_t>(tick) -
                                                 static_cast<std::uint32_t>(nowMs));
    if (ahead <= 0) {
        return;
    }
    // Absolute, on the clock getTickCount reads: a relative sleep would also count the part
    // of the current millisecond already gone and wake up to a millisecond late.
    const std::int64_t wakeMs = nowMs + ahead;
    timespec wake{};
    wake.tv_sec = static_cast<time_t>(wakeMs / 1000);
    wake.tv_nsec = static_cast<long>((wakeMs % 1000) * 1000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    }
}

namespace {
// Clock ticks (USER_HZ) to 100 ns units.
std::uint64_t ticksTo100ns(unsigned long long ticks) {
    static const long hz = sysconf(_SC_CLK_TCK);
    return static_cast<std::uint64_t>(ticks) * (10000000ull / static_cast<std::uint64_t>(hz));
}
}  // namespace

bool systemTimes(std::uint64_t& idle, std::uint64_t& kernel, std::uint64_t& user) {
    FILE* f = std::fopen("/proc/stat", "r");
    if (!f) {
        return false;
    }
    unsigned long long usr = 0, nice = 0, sys = 0, idl = 0, iowait = 0, irq = 0, softirq = 0,
                       steal = 0;
    const int n = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &usr, &nice, &sys,
                              &idl, &iowait, &irq, &softirq, &steal);
    std::fclose(f);
    if (n < 4) {
        return false;
    }
    idle = ticksTo100ns(idl + iowait);
    // Kernel time counts the idle time too, so that kernel + user is all the processors' time.
    kernel = ticksTo100ns(sys + irq + softirq + steal) + idle;
    user = ticksTo100ns(usr + nice);
    return true;
}

bool processTimes(std::uint64_t& kernel, std::uint64_t& user) {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) {
        return false;
    }
    auto to100ns = [](const timeval& tv) {
        return static_cast<std::uint64_t>(tv.tv_sec) * 10000000ull +
               static_cast<std::uint64_t>(tv.tv_usec) * 10ull;
    };
    kernel = to100ns(usage.ru_stime);
    user = to100ns(usage.ru_utime);
    return true;
}

unsigned processorCount() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1u;
}

bool workingSetBytes(std::uint64_t& bytes) {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) {
        return false;
    }
    unsigned long long size = 0, resident = 0;
    const int n = std::fscanf(f, "%llu %llu", &size, &resident);
    std::fclose(f);
    if (n != 2) {
        return false;
    }
    bytes =
        static_cast<std::uint64_t>(resident) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return true;
}

std::string currentDirectory() {
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer)) {
        return std::string();
    }
    return std::string(buffer);
}

void endProcess(int status) {
    std::cout.flush();
    std::cerr.flush();
    // Not fflush(nullptr): that takes the lock of every stream, stdin's too, which the server's
    // console thread holds while it waits for a line.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

}  // namespace platform
