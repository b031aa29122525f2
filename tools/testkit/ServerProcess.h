#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/testkit/ChildProcess.h"

// The real server program, started on a free port for one test and stopped by it.
// Its console gets a pipe that stays open (so the console thread just waits), and its standard
// output and error are collected together as its log.
class ServerProcess {
public:
    struct Options {
        std::string binary;                  // path of the server program
        std::vector<std::string> extraArgs;  // after --port
        std::vector<std::string> extraEnv;   // NAME=value, added to this process's environment
        std::uint64_t openFilesLimit = 0;    // RLIMIT_NOFILE for the server; 0 keeps ours
        int startTimeoutMs = 10000;
    };

    explicit ServerProcess(Options options);
    ~ServerProcess();

    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts the server and waits for its listening line. Retries on another port when the
    // chosen one was taken meanwhile. False, with the reason in error(), otherwise.
    bool start();

    std::uint16_t port() const { return port_; }
    // The process while it runs; -1 once it has ended.
    pid_t pid() const;
    const std::string& error() const { return error_; }

    // Still running (reaps it when it has ended).
    bool running();
    // Exit status once ended: the code, or 128 + signal; -1 while running.
    int exitStatus();
    // Waits up to timeoutMs for the process to end by itself.
    bool waitExit(int timeoutMs);
    // Sends a signal, then waits for the end; SIGKILL after timeoutMs.
    int stop(int signal = 9, int timeoutMs = 5000);

    void sendConsoleLine(const std::string& line);
    std::string log() const;
    // Number of lines of the log that contain text.
    int countInLog(const std::string& text) const;

    // Figures of the running process, from /proc. -1 when unreadable.
    int openDescriptors() const;
    double cpuSeconds() const;
    std::int64_t residentBytes() const;

private:
    Options options_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
    std::string error_;
};

// Starts the server program of options on a free port ("--port N" put before options.args)
// and waits for its listening line; retried on another port when the chosen one was taken
// meanwhile. Null, with the reason in *error, when it would not start.
std::unique_ptr<ChildProcess> startServerOnFreePort(ChildProcess::Options options,
                                                    std::uint16_t& port,
                                                    std::chrono::milliseconds timeout,
                                                    std::string* error = nullptr);

// A port that is free for both TCP and UDP at the time of asking (the server binds all
// addresses, so the check does too).
std::uint16_t freeGamePort();

// Polls pred every 10 ms until it holds or timeoutMs pass; returns its last value.
template <typename Pred>
bool waitUntil(Pred pred, int timeoutMs);

// Milliseconds of a monotonic clock.
std::int64_t monotonicMs();
void sleepForMs(int ms);

template <typename Pred>
bool waitUntil(Pred pred, int timeoutMs) {
    const std::int64_t end = monotonicMs() + timeoutMs;
    while (!pred()) {
        if (monotonicMs() >= end) {
            return pred();
        }
        sleepForMs(10);
    }
    return true;
}
