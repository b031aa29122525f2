#pragma once

#include <cstdint>
#include <string>

#include "tools/testkit/ChildProcess.h"

// The real server program on a port the system picks ("--port 0" before the given arguments),
// found from its listening line. Its console is a pipe that stays open, so the console thread
// just waits. The process is ended and reaped with the object.
class ServerProcess : public ChildProcess {
public:
    // Starts options.program and waits up to timeout for its listening line.
    explicit ServerProcess(Options options, Milliseconds timeout = Milliseconds(10000));

    // Both transports listen on port(); 0, with the reason in error(), when it did not start.
    std::uint16_t port() const { return port_; }
    const std::string& error() const { return error_; }

    // Figures of the running process, from /proc. -1 when unreadable.
    int openDescriptors() const;
    double cpuSeconds() const;
    std::int64_t residentBytes() const;

private:
    std::uint16_t port_ = 0;
    std::string error_;
};

// The port of the listening line in a server's output; 0 while there is none.
std::uint16_t listeningPort(const std::string& output);
