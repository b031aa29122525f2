#include "tools/testkit/ProbePlayer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>

#include "Common/Controls.h"
#include "Common/FrameCodec.h"
#include "Common/Protobuf/Object.pb.h"
#include "tools/testkit/ClientSession.h"
#include "tools/testkit/Loopback.h"
#include "tools/testkit/MonotonicClock.h"

namespace {

// Connects with a deadline; returns the connected blocking socket or -1.
int connectWithin(std::uint16_t port, int timeoutMs) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address = loopbackAddress(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    pollfd entry{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    if (poll(&entry, 1, timeoutMs) != 1 ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void record(ProbePlayer::Sample& sample, const Morvik::ObjectUpdate& update) {
    sample.timestamp = update.timestamp();
    sample.position[0] = update.position().x();
    sample.position[1] = update.position().y();
    sample.position[2] = update.position().z();
    sample.orientation[0] = update.orientation().w();
    sample.orientation[1] = update.orientation().x();
    sample.orientation[2] = update.orientation().y();
    sample.orientation[3] = update.orientation().z();
}

}  // namespace

bool ProbePlayer::Sample::operator==(const Sample& other) const {
    return timestamp == other.timestamp &&
           std::memcmp(position, other.position, sizeof position) == 0 &&
           std::memcmp(orientation, other.orientation, sizeof orientation) == 0;
}

ProbePlayer::ProbePlayer(const Options& options)
    : options_(options), controls_(options.controls), turnRate_(options.turnRate) {}

ProbePlayer::~ProbePlayer() {
    stop();
}

bool ProbePlayer::start() {
    startUs_ = monotonicMicros();
    tcpFd_ = connectWithin(options_.tcpPort, options_.connectTimeoutMs);
    if (tcpFd_ < 0) {
        error_ = std::string("cannot connect: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(tcpFd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    udpFd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in any = loopbackAddress(0);
    if (udpFd_ < 0 || bind(udpFd_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = std::string("cannot open the UDP socket: ") + std::strerror(errno);
        return false;
    }
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void ProbePlayer::stop() {
    if (running_.exchange(false)) {
        const char wake = 1;
        (void)!write(wakePipe_[1], &wake, 1);
        thread_.join();
    }
    for (int* fd : {&tcpFd_, &udpFd_, &wakePipe_[0], &wakePipe_[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

double ProbePlayer::secondsSinceStart() const {
    return static_cast<double>(monotonicMicros() - startUs_) / 1e6;
}

bool ProbePlayer::waitWelcome(int timeoutMs) {
    const std::int64_t end = monotonicMicros() + std::int64_t{timeoutMs} * 1000;
    while (monotonicMicros() < end) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (view_.welcomed) {
                return true;
            }
            if (view_.tcpClosed) {
                return false;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

ProbePlayer::View ProbePlayer::snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    return view_;
}

void ProbePlayer::sendClientUpdate(double seconds) {
    std::uint16_t qport = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!view_.welcomed) {
            return;
        }
        qport = view_.qport;
    }
    angle_ += turnRate_.load() * (seconds - lastSend_);
    lastSend_ = seconds;
    std::uint32_t held = controls_;
    if (options_.fire) {
        held |= controls::kFire;
    }
    const float half = static_cast<float>(angle_ / 2.0);
    const std::string datagram =
        qportPrefix(qport) +
        clientUpdateFrame(Quaternion(std::cos(half), 0.0f, std::sin(half), 0.0f), held);
    sockaddr_in to = loopbackAddress(options_.udpPort ? options_.udpPort : options_.tcpPort);
    sendto(udpFd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
}

void ProbePlayer::handleBytes(const std::uint8_t* data, std::size_t size, bool tcp) {
    bool malformed = false;
    std::string udpLeftover;
    std::vector<NetworkEventPtr> events =
        splitFrames(data, size, tcp ? leftover_ : udpLeftover, malformed);
    const double seconds = secondsSinceStart();
    std::lock_guard<std::mutex> lock(mutex_);
    if (malformed || !udpLeftover.empty()) {
        ++view_.badFrames;
    }
    if (tcp) {
        view_.tcpFrames += events.size();
    } else {
        ++view_.udpDatagrams;
        view_.udpFrames += events.size();
        view_.datagramTimes.push_back(seconds);
    }
    for (const NetworkEventPtr& event : events) {
        switch (static_cast<MessageType>(event->type)) {
            case MessageType::Welcome: {
                const auto& welcome = static_cast<const Morvik::Welcome&>(*event->message);
                view_.welcomed = true;
                view_.ownId = welcome.id();
                view_.qport = static_cast<std::uint16_t>(welcome.qport());
                break;
            }
            case MessageType::ObjectInfo: {
                const auto& info = static_cast<const Morvik::ObjectInfo&>(*event->message);
                Known& known = view_.objects[info.id()];
                known.objectType = info.objecttype();
                known.announced = true;
                break;
            }
            case MessageType::ObjectUpdate: {
                const auto& update = static_cast<const Morvik::ObjectUpdate&>(*event->message);
                Known& known = view_.objects[update.id()];
                ++known.updates;
                Sample sample;
                record(sample, update);
                sample.arrival = monotonicSeconds();
                known.recent.push_back(sample);
                if (known.recent.size() > 64) {
                    known.recent.erase(known.recent.begin());
                }
                if (update.id() == view_.ownId) {
                    view_.ownUpdateTimes.push_back(seconds);
                }
                break;
            }
            case MessageType::ObjectDestroy: {
                const auto& destroy = static_cast<const Morvik::ObjectDestroy&>(*event->message);
                Known& known = view_.objects[destroy.id()];
                known.destroyed = true;
                known.destroyedOverTcp = known.destroyedOverTcp || tcp;
                break;
            }
            default:
                ++view_.badFrames;  // the server sends no ClientUpdate
                break;
        }
    }
}

void ProbePlayer::run() {
    std::vector<std::uint8_t> buffer(65536);
    bool tcpOpen = true;
    while (running_) {
        const double seconds = secondsSinceStart();
        if (sending_ && seconds - lastSend_ >= options_.sendIntervalMs / 1000.0) {
            sendClientUpdate(seconds);
        }
        pollfd fds[3] = {
            {wakePipe_[0], POLLIN, 0}, {udpFd_, POLLIN, 0}, {tcpOpen ? tcpFd_ : -1, POLLIN, 0}};
        if (poll(fds, 3, 5) <= 0) {
            continue;
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const ssize_t count = recv(udpFd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
                if (count < 0) {
                    break;
                }
                handleBytes(buffer.data(), static_cast<std::size_t>(count), false);
            }
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t count = recv(tcpFd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (count > 0) {
                handleBytes(buffer.data(), static_cast<std::size_t>(count), true);
            } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
                tcpOpen = false;
                std::lock_guard<std::mutex> lock(mutex_);
                view_.tcpClosed = true;
            }
        }
    }
}
