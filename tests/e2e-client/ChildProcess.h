#pragma once
// A program of the game (or a tool) as a child process of the test: its own arguments,
// environment additions and working directory, its standard output and error collected.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2eclient {

using Milliseconds = std::chrono::milliseconds;

class ChildProcess {
public:
    struct Options {
        std::string program;
        std::vector<std::string> args;
        std::vector<std::string> env;  // "NAME=value", added to the test's environment
        std::string workingDirectory;  // empty: the test's
    };

    explicit ChildProcess(const Options& options);
    ~ChildProcess();  // ends the process if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Standard output and standard error so far.
    std::string output() const;
    std::string errorOutput() const;
    // Waits until standard output contains text; false on timeout.
    bool waitForOutput(const std::string& text, Milliseconds timeout) const;

    // The exit status once the process has ended by itself within the timeout; nullopt if it
    // is still running. A process killed by a signal gives 128 + the signal number.
    std::optional<int> waitForExit(Milliseconds timeout);
    bool running();
    // SIGTERM, then SIGKILL after a grace period; reaps the process.
    void stop();
    void signal(int number);

private:
    void readLoop(int fd, std::string* sink);

    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string out_;
    std::string err_;
    int openStreams_ = 2;  // readers not yet at end of file
    std::thread outReader_;
    std::thread errReader_;
};

// The full path of a program on PATH (or name itself when it holds a slash); empty if none.
std::string findProgram(const std::string& name);

}  // namespace e2eclient
