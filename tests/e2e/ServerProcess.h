#pragma once
// The real server binary as a child process, with its standard input and output on pipes.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

using Milliseconds = std::chrono::milliseconds;

struct ServerOptions {
    std::vector<std::string> args;
    // Written to standard input before the server starts reading it.
    std::string stdinText;
    // Runs the server under prlimit with this many descriptors (0: inherited limit).
    int maxOpenFiles = 0;
};

class ServerProcess {
public:
    using Options = ServerOptions;

    explicit ServerProcess(const Options& options);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts a server on a free port with the given extra arguments; retries when another
    // process took the port first. Null when no server would start.
    static std::unique_ptr<ServerProcess> startOnFreePort(std::vector<std::string> args, int& port,
                                                          Options base = {});

    // Standard output so far, as whole lines without their line ends.
    std::vector<std::string> lines() const;
    std::string output() const;
    // Index of the first line at or after `from` that contains text, or -1 on timeout.
    long waitForLine(const std::string& text, Milliseconds timeout, std::size_t from = 0) const;
    long waitForLineMatching(const std::function<bool(const std::string&)>& pred,
                             Milliseconds timeout, std::size_t from = 0) const;
    // Number of lines equal to text.
    std::size_t countLines(const std::string& text) const;
    // Waits until at least `count` lines have arrived.
    bool waitForLineCount(std::size_t count, Milliseconds timeout) const;
    std::string errorOutput() const;

    void writeInput(const std::string& text);
    void closeInput();

    // Exit code once the process has ended by itself; nullopt on timeout (or on a signal).
    std::optional<int> waitForExit(Milliseconds timeout);
    bool running();
    // Ends the process (SIGTERM, then SIGKILL) and reaps it.
    void stop();

private:
    void readLoop(int fd, bool isStdout);

    pid_t pid_ = -1;
    int stdinFd_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string out_;
    std::string err_;
    std::thread outReader_;
    std::thread errReader_;
};

// A port on which both TCP and UDP can be bound at this moment.
int freeGamePort();

}  // namespace e2e
