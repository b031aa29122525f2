#include "tools/testkit/RawClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tools/testkit/Loopback.h"
#include "tools/testkit/MonotonicClock.h"

RawClient::~RawClient() {
    close();
}

bool RawClient::connectTo(std::uint16_t port, int receiveBuffer, int timeoutMs) {
    close();
    session_ = ClientSession();
    pending_.clear();
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return false;
    }
    if (receiveBuffer > 0) {
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address = loopbackAddress(port);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        close();
        return false;
    }
    pollfd entry{fd_, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    if (poll(&entry, 1, timeoutMs) != 1 ||
        getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        close();
        return false;
    }
    return true;
}

bool RawClient::sendAll(const std::string& bytes, int timeoutMs) {
    const std::int64_t end = monotonicMs() + timeoutMs;
    std::size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const std::int64_t left = end - monotonicMs();
        if (left <= 0) {
            return false;
        }
        pollfd entry{fd_, POLLOUT, 0};
        poll(&entry, 1, static_cast<int>(left));
    }
    return done == bytes.size();
}

int RawClient::readOnce(int timeoutMs) {
    if (fd_ < 0) {
        return -1;
    }
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) != 1) {
        return -2;
    }
    std::uint8_t buffer[4096];
    const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
    if (count <= 0) {
        return count == 0 ? 0 : (errno == EAGAIN ? -2 : -1);
    }
    // The stream may turn unreadable: a test of that reads the close, not the frames.
    session_.readTcp(buffer, static_cast<std::size_t>(count),
                     [&](std::uint8_t type, const std::uint8_t* body, std::size_t size) {
                         if (auto message = decodeMessage(type, body, size)) {
                             pending_.push_back({scripted::Transport::Tcp, type, std::move(message),
                                                 scripted::Clock::now()});
                         }
                     });
    return static_cast<int>(count);
}

bool RawClient::readWelcome(int timeoutMs) {
    const std::int64_t end = monotonicMs() + timeoutMs;
    while (!session_.welcomed()) {
        const std::int64_t left = end - monotonicMs();
        if (left <= 0 || readOnce(static_cast<int>(left)) <= 0) {
            return session_.welcomed();
        }
    }
    return true;
}

std::vector<scripted::ReceivedMessage> RawClient::readFor(int timeoutMs) {
    const std::int64_t end = monotonicMs() + timeoutMs;
    for (;;) {
        const std::int64_t left = end - monotonicMs();
        if (left <= 0 || readOnce(static_cast<int>(left)) <= 0) {
            break;
        }
    }
    std::vector<scripted::ReceivedMessage> messages;
    messages.swap(pending_);
    return messages;
}

bool RawClient::waitClosedByServer(int timeoutMs) {
    const std::int64_t end = monotonicMs() + timeoutMs;
    for (;;) {
        const std::int64_t left = end - monotonicMs();
        if (left <= 0) {
            return false;
        }
        const int result = readOnce(static_cast<int>(left));
        if (result == 0 || result == -1) {
            return true;
        }
        pending_.clear();
    }
}

void RawClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void RawClient::reset() {
    if (fd_ >= 0) {
        const linger abort{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close();
    }
}
