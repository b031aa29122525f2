#include "tools/testkit/RawClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "Common/FrameCodec.h"
#include "Common/Protobuf/Object.pb.h"
#include "tools/testkit/Loopback.h"
#include "tools/testkit/MonotonicClock.h"

RawClient::~RawClient() {
    close();
}

bool RawClient::connectTo(std::uint16_t port, int receiveBuffer, int timeoutMs) {
    close();
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
    bool malformed = false;
    for (NetworkEventPtr& event :
         splitFrames(buffer, static_cast<std::size_t>(count), leftover_, malformed)) {
        if (event->type == static_cast<int>(MessageType::Welcome) && !welcomed_) {
            const auto& welcome = static_cast<const Morvik::Welcome&>(*event->message);
            ownId_ = welcome.id();
            qport_ = static_cast<std::uint16_t>(welcome.qport());
            welcomed_ = true;
        }
        pending_.push_back(std::move(event));
    }
    return static_cast<int>(count);
}

bool RawClient::readWelcome(int timeoutMs) {
    const std::int64_t end = monotonicMs() + timeoutMs;
    while (!welcomed_) {
        const std::int64_t left = end - monotonicMs();
        if (left <= 0 || readOnce(static_cast<int>(left)) <= 0) {
            return welcomed_;
        }
    }
    return true;
}

std::vector<NetworkEventPtr> RawClient::readFor(int timeoutMs) {
    const std::int64_t end = monotonicMs() + timeoutMs;
    for (;;) {
        const std::int64_t left = end - monotonicMs();
        if (left <= 0 || readOnce(static_cast<int>(left)) <= 0) {
            break;
        }
    }
    std::vector<NetworkEventPtr> events;
    events.swap(pending_);
    return events;
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
