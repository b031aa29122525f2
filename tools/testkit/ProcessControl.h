#pragma once
// The tools' door to the operating system: processes, CPU affinity, CPU time and the kernel's
// UDP counters. Linux only (it reads /proc); the game's own code never uses it.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ProcessControl {

// CPUs this process may run on, in ascending order.
std::vector<int> allowedCpus();

// Starts program with args (argv[0] is program). The child is pinned to cpu when cpu >= 0,
// reads stdin from stdinFd when >= 0 (else /dev/null) and writes stdout and stderr to
// outputPath when not empty, at the given nice value (only root may go below 0; a refusal
// leaves it at the parent's). Returns the pid, or -1 when the fork failed.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, int cpu, int stdinFd,
            const std::string& outputPath, int niceness = 0);

// Waits up to timeoutMs for pid to end; true when it has ended (it is then reaped).
// exitCode receives its exit status, or 128 + signal number.
bool waitFor(pid_t pid, int timeoutMs, int& exitCode);

// SIGINT, which asks a recorder such as perf to finish its file.
void interrupt(pid_t pid);

// SIGTERM, then SIGKILL after graceMs; always reaps.
void stop(pid_t pid, int graceMs);

// True while pid exists and is not a zombie.
bool isRunning(pid_t pid);

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

// A pipe whose ends are closed on exec (spawn hands the read end to a child as its stdin).
bool openPipe(int& readEnd, int& writeEnd);
void closeDescriptor(int fd);

// A fresh private directory under /tmp; empty on failure.
std::string makeTempDirectory();
// Removes a directory made by makeTempDirectory with the files in it (no subdirectories).
void removeTempDirectory(const std::string& path);

}  // namespace ProcessControl
