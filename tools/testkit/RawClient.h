#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/testkit/ClientSession.h"
#include "tools/testkit/ScriptedClient.h"

// A hand-driven TCP client for the hostile tests: it sends exactly the bytes it is given and
// reads only when asked, so it can also misbehave (never read, cut a frame, reset).
class RawClient {
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // receiveBuffer > 0 shrinks the socket's receive buffer before connecting.
    bool connectTo(std::uint16_t port, int receiveBuffer = 0, int timeoutMs = 5000);
    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Sends all bytes (blocking, bounded by timeoutMs); false when the connection failed.
    bool sendAll(const std::string& bytes, int timeoutMs = 5000);

    // Reads and decodes frames until a Welcome has come; false on timeout or close.
    bool readWelcome(int timeoutMs);
    std::uint64_t ownId() const { return session_.welcome().id(); }
    std::uint16_t qport() const { return session_.qport(); }

    // Reads whatever comes within timeoutMs; returns the messages decoded since the last call.
    std::vector<scripted::ReceivedMessage> readFor(int timeoutMs);
    // True once the server has closed the connection (end of stream or reset), reading and
    // discarding data until then.
    bool waitClosedByServer(int timeoutMs);

    void close();
    // Closes with a reset instead of an orderly end.
    void reset();

private:
    // One read with a deadline: >0 bytes, 0 end of stream, -1 error, -2 timeout.
    int readOnce(int timeoutMs);

    int fd_ = -1;
    ClientSession session_;
    std::vector<scripted::ReceivedMessage> pending_;
};
