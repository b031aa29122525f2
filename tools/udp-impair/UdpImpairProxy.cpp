#include "tools/udp-impair/UdpImpairProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/testkit/Loopback.h"
#include "tools/testkit/MonotonicClock.h"

namespace {

int openBoundSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address = loopbackAddress(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::uint64_t clientKey(const sockaddr_in& address) {
    return (static_cast<std::uint64_t>(ntohl(address.sin_addr.s_addr)) << 16) |
           ntohs(address.sin_port);
}

}  // namespace

UdpImpairProxy::UdpImpairProxy(std::uint16_t serverPort, const Settings& settings)
    : settings_(settings), serverPort_(serverPort), random_(settings.seed) {}

UdpImpairProxy::~UdpImpairProxy() {
    stop();
}

bool UdpImpairProxy::start() {
    listenSocket_ = openBoundSocket();
    if (listenSocket_ < 0 || pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = std::string("cannot open the proxy's sockets: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void UdpImpairProxy::stop() {
    if (running_.exchange(false)) {
        const char wake = 1;
        (void)!write(wakePipe_[1], &wake, 1);
        thread_.join();
    }
    for (auto& entry : upstreamByClient_) {
        close(entry.second);
    }
    upstreamByClient_.clear();
    clientByUpstream_.clear();
    for (int* fd : {&listenSocket_, &wakePipe_[0], &wakePipe_[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

UdpImpairProxy::Counters UdpImpairProxy::counters() {
    std::lock_guard<std::mutex> lock(countersMutex_);
    return counters_;
}

int UdpImpairProxy::upstreamFor(const sockaddr_in& client) {
    const std::uint64_t key = clientKey(client);
    auto found = upstreamByClient_.find(key);
    if (found != upstreamByClient_.end()) {
        return found->second;
    }
    const int fd = openBoundSocket();
    if (fd < 0) {
        return -1;
    }
    upstreamByClient_[key] = fd;
    clientByUpstream_[fd] = client;
    std::lock_guard<std::mutex> lock(countersMutex_);
    ++counters_.clients;
    return fd;
}

void UdpImpairProxy::schedule(int fromSocket, const sockaddr_in& to, const std::string& bytes,
                              std::int64_t dueUs) {
    heap_.push_back(Pending{dueUs, nextOrder_++, fromSocket, to, bytes});
    std::push_heap(heap_.begin(), heap_.end(), Later());
}

void UdpImpairProxy::handleDatagram(int fromSocket, const sockaddr_in& to, std::string bytes,
                                    std::int64_t nowUs) {
    std::lock_guard<std::mutex> lock(countersMutex_);
    ++counters_.received;
    if (!impaired_) {
        schedule(fromSocket, to, bytes, nowUs);
        return;
    }
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> delayMs(settings_.minDelayMs, settings_.maxDelayMs);
    if (chance(random_) < settings_.dropRate) {
        ++counters_.dropped;
        return;
    }
    const int copies = chance(random_) < settings_.duplicateRate ? 2 : 1;
    if (copies == 2) {
        ++counters_.duplicated;
    }
    for (int copy = 0; copy < copies; ++copy) {
        std::int64_t delayUs = std::int64_t{delayMs(random_)} * 1000;
        if (chance(random_) < settings_.reorderRate) {
            ++counters_.reordered;
            delayUs += std::int64_t{settings_.reorderHoldMs} * 1000;
        }
        schedule(fromSocket, to, bytes, nowUs + delayUs);
    }
}

void UdpImpairProxy::run() {
    const sockaddr_in server = loopbackAddress(serverPort_);
    std::vector<pollfd> fds;
    std::vector<char> buffer(65536);
    while (running_) {
        const std::int64_t now = monotonicMicros();
        while (!heap_.empty() && heap_.front().dueUs <= now) {
            std::pop_heap(heap_.begin(), heap_.end(), Later());
            Pending due = std::move(heap_.back());
            heap_.pop_back();
            const ssize_t sent = sendto(due.fromSocket, due.bytes.data(), due.bytes.size(), 0,
                                        reinterpret_cast<const sockaddr*>(&due.to), sizeof due.to);
            if (sent >= 0) {
                std::lock_guard<std::mutex> lock(countersMutex_);
                ++counters_.delivered;
            }
        }
        int timeoutMs = 50;
        if (!heap_.empty()) {
            const std::int64_t waitUs = heap_.front().dueUs - now;
            timeoutMs = static_cast<int>(std::min<std::int64_t>(50, (waitUs + 999) / 1000));
        }

        fds.clear();
        fds.push_back(pollfd{wakePipe_[0], POLLIN, 0});
        fds.push_back(pollfd{listenSocket_, POLLIN, 0});
        for (const auto& entry : clientByUpstream_) {
            fds.push_back(pollfd{entry.first, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), timeoutMs) <= 0) {
            continue;
        }
        for (const pollfd& entry : fds) {
            if (!(entry.revents & POLLIN) || entry.fd == wakePipe_[0]) {
                continue;
            }
            // Drain each readable socket, so a burst does not wait a whole poll per datagram.
            for (;;) {
                sockaddr_in from{};
                socklen_t fromLength = sizeof from;
                const ssize_t count = recvfrom(entry.fd, buffer.data(), buffer.size(), 0,
                                               reinterpret_cast<sockaddr*>(&from), &fromLength);
                if (count < 0) {
                    break;
                }
                std::string bytes(buffer.data(), static_cast<std::size_t>(count));
                if (entry.fd == listenSocket_) {
                    const int upstream = upstreamFor(from);
                    if (upstream >= 0) {
                        handleDatagram(upstream, server, std::move(bytes), monotonicMicros());
                    }
                } else {
                    handleDatagram(listenSocket_, clientByUpstream_[entry.fd], std::move(bytes),
                                   monotonicMicros());
                }
            }
        }
    }
}
