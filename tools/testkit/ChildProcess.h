#pragma once
// One of our programs (or a tool) as a child process of a test or tool: its own arguments,
// environment additions, working directory, descriptor limit, CPU and nice value, its standard
// output and error collected by reader threads, and optionally a pipe to its standard input.
// The destructor ends and reaps it.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
public:
    using Milliseconds = std::chrono::milliseconds;

    struct Options {
        std::string program;  // a path, or a name looked up on PATH
        std::vector<std::string> args;
        std::vector<std::string> env;    // "NAME=value", added to (or replacing in) ours
        std::string workingDirectory;    // empty: ours
        std::uint64_t maxOpenFiles = 0;  // RLIMIT_NOFILE of the child; 0 keeps ours
        // Standard input a pipe for writeInput; otherwise /dev/null.
        bool pipeInput = false;
        // Written to that pipe at once, before the program gets to read it.
        std::string initialInput{};
        // Standard error into the same stream as standard output, in the order written.
        bool mergeErrorIntoOutput = false;
        int cpu = -1;      // the one CPU it may run on; -1 keeps ours
        int niceness = 0;  // below 0 needs root; a refusal leaves ours
    };

    explicit ChildProcess(const Options& options);
    virtual ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The process has ended and has been reaped.
    bool reaped() const { return reaped_; }

    // Standard output and standard error so far.
    std::string output() const;
    std::string errorOutput() const;
    // Standard output so far, as whole lines without their line ends.
    std::vector<std::string> lines() const;

    // Waits until standard output contains text; false on timeout.
    bool waitForOutput(const std::string& text, Milliseconds timeout) const;
    // Index of the first whole line at or after `from` that contains text (or satisfies pred);
    // -1 on timeout.
    long waitForLine(const std::string& text, Milliseconds timeout, std::size_t from = 0) const;
    long waitForLineMatching(const std::function<bool(const std::string&)>& pred,
                             Milliseconds timeout, std::size_t from = 0) const;
    // Number of lines equal to text.
    std::size_t countLines(const std::string& text) const;

    void writeInput(const std::string& text);
    void closeInput();

    // The exit status once the process has ended within the timeout, with its output read in;
    // nullopt while it still runs. A process killed by a signal gives 128 + the signal number.
    std::optional<int> waitForExit(Milliseconds timeout);
    bool running();
    void signal(int number);
    // Sends the signal, then SIGKILL if the process has not ended within the grace period;
    // reaps it and returns its exit status (nullopt if it never started).
    std::optional<int> stop(int number = SIGTERM, Milliseconds grace = Milliseconds(5000));

private:
    void readLoop(int fd, std::string* sink);

    pid_t pid_ = -1;
    int inputFd_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string out_;
    std::string err_;
    int openStreams_ = 0;  // readers not yet at end of file
    std::thread outReader_;
    std::thread errReader_;
};

// The full path of a program on PATH (or name itself when it holds a slash); empty if none.
std::string findProgram(const std::string& name);
