#pragma once

#include <cstdint>
#include <map>
#include <string>

// The floor: what it costs one process on one core to send a given set of datagrams with plain
// sendto calls to sockets on 127.0.0.1. The server cannot send the same datagrams for less, so
// its CPU divided by this cost says how much of its time goes to anything but the sends.
class SendFloor {
public:
    struct Result {
        bool ok = false;
        std::uint64_t datagrams = 0;  // the set the cost stands for
        std::uint64_t sent = 0;       // actually sent (the sample)
        double cpuSeconds = 0.0;      // for the whole set, scaled from the sample
    };

    // Sample bounds: small sets are repeated so that the CPU clock's 10 ms steps do not
    // matter, large ones are thinned so that a row does not take minutes.
    static constexpr std::uint64_t kMinSample = 200000;
    static constexpr std::uint64_t kMaxSample = 1500000;

    // sizes: datagram size -> count. destinations: how many receiving sockets (the players).
    // The sender runs as a child process of program (this tool) pinned to senderCpu; the
    // receiving sockets are drained on the other CPUs, by threads that sleep until a datagram
    // comes, like the players, or with spin by threads that never sleep.
    static Result measure(const std::map<std::uint32_t, std::uint64_t>& sizes, int destinations,
                          int senderCpu, const std::string& program, const std::string& workDir,
                          int niceness, bool spin);

    // The child's part: reads the plan, sends, writes its CPU time. Returns the exit code.
    static int sendFromPlan(const std::string& planPath, const std::string& resultPath);
};
