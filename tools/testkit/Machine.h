#pragma once
// What the tools read about the machine, and where they put their own threads: CPUs, CPU time
// and the kernel's UDP counters. Linux only (it reads /proc); the game's own code never uses it.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Machine {

// CPUs this process may run on, in ascending order.
std::vector<int> allowedCpus();

// User plus system CPU time of a whole process (all its threads) from /proc/<pid>/stat, in
// seconds; negative when it cannot be read.
double processCpuSeconds(pid_t pid);

// Time one CPU (all CPUs together for -1) spent busy (user, nice, system, irq, softirq) from
// /proc/stat, in seconds; negative when it cannot be read. Unlike a process's own figure this
// includes the kernel's packet work that runs on the CPU outside the process (softirq threads).
double cpuBusySeconds(int cpu);

// Datagrams each UDP socket on the host has dropped for a full receive buffer since it was
// opened, by local port (from /proc/net/udp; empty when unreadable).
std::map<std::uint16_t, std::uint64_t> udpDropsByPort();

// The path of the running program.
std::string selfPath();

// Pins the calling thread to one CPU; false when that is not possible.
bool pinThisThread(int cpu);

}  // namespace Machine
