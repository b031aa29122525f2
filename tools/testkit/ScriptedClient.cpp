#include "tools/testkit/ScriptedClient.h"

#include <algorithm>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/address.hpp>
#include <cmath>
#include <cstring>
#include <utility>

#include "tools/testkit/MonotonicClock.h"

namespace scripted {

namespace {

constexpr Milliseconds kCloseWait{2000};
constexpr std::size_t kRecentSamples = 64;

Sample sampleOf(const Morvik::ObjectUpdate& update, double arrival) {
    Sample sample;
    sample.timestamp = update.timestamp();
    sample.position[0] = update.position().x();
    sample.position[1] = update.position().y();
    sample.position[2] = update.position().z();
    sample.orientation[0] = update.orientation().w();
    sample.orientation[1] = update.orientation().x();
    sample.orientation[2] = update.orientation().y();
    sample.orientation[3] = update.orientation().z();
    sample.arrival = arrival;
    return sample;
}

}  // namespace

const char* transportName(Transport transport) {
    return transport == Transport::Tcp ? "tcp" : "udp";
}

const char* messageTypeName(int type) {
    switch (type) {
        case static_cast<int>(MessageType::ObjectInfo):
            return "ObjectInfo";
        case static_cast<int>(MessageType::ObjectUpdate):
            return "ObjectUpdate";
        case static_cast<int>(MessageType::ObjectDestroy):
            return "ObjectDestroy";
        case static_cast<int>(MessageType::ClientUpdate):
            return "ClientUpdate";
        case static_cast<int>(MessageType::Welcome):
            return "Welcome";
        default:
            return "Unknown";
    }
}

bool Sample::operator==(const Sample& other) const {
    return timestamp == other.timestamp &&
           std::memcmp(position, other.position, sizeof position) == 0 &&
           std::memcmp(orientation, other.orientation, sizeof orientation) == 0;
}

ScriptedClient::Ptr ScriptedClient::create(boost::asio::io_service& io, Options options) {
    return Ptr(new ScriptedClient(io, options));
}

ScriptedClient::ScriptedClient(boost::asio::io_service& io, const Options& options)
    : io_(io), options_(options), tcpSocket_(io), udpSocket_(io), steerTimer_(io) {}

ScriptedClient::~ScriptedClient() = default;

void ScriptedClient::setMessageCallback(MessageCallback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    callback_ = std::move(callback);
}

bool ScriptedClient::connect(const std::string& host, std::uint16_t port, Milliseconds timeout) {
    boost::system::error_code error;
    tcp::endpoint target;
    const boost::asio::ip::address address = boost::asio::ip::make_address(host, error);
    if (!error) {
        target = tcp::endpoint(address, port);
    } else {
        tcp::resolver resolver(io_);
        const auto results = resolver.resolve(tcp::v4(), host, std::to_string(port), error);
        if (error || results.empty()) {
            return false;
        }
        target = *results.begin();
    }

    auto self = shared_from_this();
    io_.post([self, target] {
        boost::system::error_code openError;
        self->udpSocket_.open(udp::v4(), openError);
        if (!openError) {
            self->udpSocket_.bind(udp::endpoint(udp::v4(), 0), openError);
        }
        if (openError) {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->connectDone_ = true;
            self->changed_.notify_all();
            return;
        }
        const std::uint16_t udpPort = self->options_.udpPort;
        self->serverUdp_ = udp::endpoint(target.address(), udpPort != 0 ? udpPort : target.port());
        self->tcpSocket_.async_connect(target, [self](const boost::system::error_code& result) {
            {
                std::lock_guard<std::mutex> lock(self->mutex_);
                self->connectDone_ = true;
                self->connected_ = !result && !self->socketsClosed_;
                self->changed_.notify_all();
            }
            if (!result) {
                boost::system::error_code ignored;
                self->tcpSocket_.set_option(tcp::no_delay(true), ignored);
                self->armTcpReceive();
                self->armUdpReceive();
            }
        });
    });

    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return connectDone_; });
    const bool connected = connected_;
    lock.unlock();
    if (!connected) {
        close();
    }
    return connected;
}

bool ScriptedClient::join(const std::string& host, std::uint16_t port, Milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    if (!connect(host, port, timeout)) {
        return false;
    }
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
    return waitForWelcome(std::max(left, Milliseconds(0)));
}

bool ScriptedClient::waitForWelcome(Milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return joined_ || view_.tcpClosed; }) &&
           joined_;
}

bool ScriptedClient::joined() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return joined_;
}

std::uint16_t ScriptedClient::qport() const {
    std::lock_guard<std::mutex> lock(mutex_);
    // The server hands out 16-bit numbers; only the low half goes in front of a datagram.
    return static_cast<std::uint16_t>(welcome_.qport());
}

std::uint64_t ScriptedClient::playerId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return welcome_.id();
}

Morvik::Welcome ScriptedClient::welcome() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return welcome_;
}

void ScriptedClient::sendClientUpdate(const Quaternion& orientation, std::uint32_t controls) {
    sendClientUpdate(makeClientUpdate(orientation, controls));
}

void ScriptedClient::sendClientUpdate(const Morvik::ClientUpdate& update) {
    auto self = shared_from_this();
    io_.post([self, update] { self->sendNow(update); });
}

void ScriptedClient::sendDatagram(std::string bytes) {
    auto self = shared_from_this();
    io_.post([self, bytes = std::move(bytes)] {
        if (!self->udpSocket_.is_open()) {
            return;
        }
        boost::system::error_code ignored;
        self->udpSocket_.send_to(boost::asio::buffer(bytes), self->serverUdp_, 0, ignored);
    });
}

void ScriptedClient::sendNow(const Morvik::ClientUpdate& update) {
    if (!udpSocket_.is_open()) {
        return;
    }
    boost::system::error_code ignored;
    udpSocket_.send_to(boost::asio::buffer(session_.datagram(update)), serverUdp_, 0, ignored);
}

void ScriptedClient::steer(const Steering& steering, Clock::duration interval) {
    auto self = shared_from_this();
    io_.post([self, steering, interval] {
        self->steering_ = steering;
        self->steerInterval_ = interval;
        if (!self->steeringActive_) {
            self->steeringActive_ = true;
            self->lastSteer_ = Clock::now();
            self->nextSteer_ = self->lastSteer_;
            self->steerAgain();
        }
    });
}

void ScriptedClient::steerAgain() {
    const Clock::time_point now = Clock::now();
    if (session_.welcomed()) {
        turned_ += steering_.turnRate * std::chrono::duration<double>(now - lastSteer_).count();
        lastSteer_ = now;
        const float half = static_cast<float>(turned_ / 2.0);
        sendNow(makeClientUpdate(
            steering_.orientation * Quaternion(std::cos(half), 0.0f, std::sin(half), 0.0f),
            steering_.controls));
    }
    // A fixed cadence, but no burst to make up for a stall.
    nextSteer_ = std::max(nextSteer_ + steerInterval_, now);
    steerTimer_.expires_at(nextSteer_);
    auto self = shared_from_this();
    steerTimer_.async_wait([self](const boost::system::error_code& error) {
        if (!error && self->steeringActive_) {
            self->steerAgain();
        }
    });
}

std::vector<ReceivedMessage> ScriptedClient::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::size_t ScriptedClient::messageCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
}

bool ScriptedClient::waitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& pred,
                             Milliseconds timeout) const {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // pred runs on a copy without the lock, so it may call back into the client.
        const std::vector<ReceivedMessage> snapshot = messages_;
        const std::size_t seen = messages_.size();
        lock.unlock();
        if (pred(snapshot)) {
            return true;
        }
        lock.lock();
        if (!changed_.wait_until(lock, deadline, [&] { return messages_.size() != seen; })) {
            return false;
        }
    }
}

long ScriptedClient::waitForMessage(const std::function<bool(const ReceivedMessage&)>& pred,
                                    std::size_t from, Milliseconds timeout) const {
    long found = -1;
    std::size_t checked = from;
    waitFor(
        [&](const std::vector<ReceivedMessage>& all) {
            for (; checked < all.size(); ++checked) {
                if (pred(all[checked])) {
                    found = static_cast<long>(checked);
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

View ScriptedClient::view() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return view_;
}

void ScriptedClient::markServed() {
    std::lock_guard<std::mutex> lock(mutex_);
    servedMark_ = monotonicSeconds();
    longestOwnWait_ = 0;
}

double ScriptedClient::longestOwnWait() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::max(longestOwnWait_, monotonicSeconds() - std::max(lastOwnUpdate_, servedMark_));
}

bool ScriptedClient::tcpClosed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return view_.tcpClosed;
}

bool ScriptedClient::waitForTcpClosed(Milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return view_.tcpClosed; });
}

void ScriptedClient::close() {
    if (io_.get_executor().running_in_this_thread()) {
        closeSockets();
        return;
    }
    auto self = shared_from_this();
    io_.post([self] { self->closeSockets(); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kCloseWait, [this] { return socketsClosed_; });
}

void ScriptedClient::closeSockets() {
    steeringActive_ = false;
    boost::system::error_code ignored;
    steerTimer_.cancel(ignored);
    tcpSocket_.close(ignored);
    udpSocket_.close(ignored);
    std::lock_guard<std::mutex> lock(mutex_);
    socketsClosed_ = true;
    changed_.notify_all();
}

void ScriptedClient::armTcpReceive() {
    auto self = shared_from_this();
    tcpSocket_.async_read_some(boost::asio::buffer(tcpBuffer_),
                               [self](const boost::system::error_code& error, std::size_t count) {
                                   self->onTcpReceive(error, count);
                               });
}

void ScriptedClient::armUdpReceive() {
    auto self = shared_from_this();
    udpSocket_.async_receive_from(boost::asio::buffer(udpBuffer_), udpSender_,
                                  [self](const boost::system::error_code& error,
                                         std::size_t count) { self->onUdpReceive(error, count); });
}

void ScriptedClient::onTcpReceive(const boost::system::error_code& error, std::size_t count) {
    if (error) {
        lostTcp();
        return;
    }
    if (!session_.readTcp(tcpBuffer_.data(), count,
                          [&](std::uint8_t type, const std::uint8_t* body, std::size_t size) {
                              keep(Transport::Tcp, type, body, size, 0);
                          })) {
        // The stream cannot be cut into frames any more.
        countBad();
        lostTcp();
        return;
    }
    armTcpReceive();
}

void ScriptedClient::onUdpReceive(const boost::system::error_code& error, std::size_t count) {
    if (error) {
        // Such as a port-unreachable report of an earlier send: the socket goes on.
        if (error != boost::asio::error::operation_aborted && udpSocket_.is_open()) {
            armUdpReceive();
        }
        return;
    }
    const std::uint16_t sourcePort = udpSender_.port();
    if (!readDatagram(udpBuffer_.data(), count,
                      [&](std::uint8_t type, const std::uint8_t* body, std::size_t size) {
                          keep(Transport::Udp, type, body, size, sourcePort);
                      })) {
        countBad();
    }
    armUdpReceive();
}

void ScriptedClient::lostTcp() {
    boost::system::error_code ignored;
    tcpSocket_.close(ignored);
    std::lock_guard<std::mutex> lock(mutex_);
    view_.tcpClosed = true;
    changed_.notify_all();
}

void ScriptedClient::countBad() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++view_.badFrames;
}

void ScriptedClient::keep(Transport transport, std::uint8_t type, const std::uint8_t* body,
                          std::size_t size, std::uint16_t sourcePort) {
    ReceivedMessage received{transport, type, decodeMessage(type, body, size), Clock::now(),
                             sourcePort};
    if (!received.message) {
        countBad();
        return;
    }
    MessageCallback callback;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!joined_ && session_.welcomed()) {
            welcome_ = session_.welcome();
            joined_ = true;
        }
        takeIn(received, monotonicSeconds());
        if (options_.keepMessages) {
            messages_.push_back(received);
        }
        callback = callback_;
        changed_.notify_all();
    }
    if (callback) {
        callback(received);
    }
}

void ScriptedClient::takeIn(const ReceivedMessage& received, double seconds) {
    switch (static_cast<MessageType>(received.type)) {
        case MessageType::ObjectInfo: {
            const auto& info = received.as<Morvik::ObjectInfo>();
            Known& known = view_.objects[info.id()];
            known.objectType = info.objecttype();
            known.announced = true;
            break;
        }
        case MessageType::ObjectUpdate: {
            const auto& update = received.as<Morvik::ObjectUpdate>();
            Known& known = view_.objects[update.id()];
            ++known.updates;
            known.recent.push_back(sampleOf(update, seconds));
            if (known.recent.size() > kRecentSamples) {
                known.recent.erase(known.recent.begin());
            }
            if (joined_ && update.id() == welcome_.id()) {
                ++view_.ownUpdates;
                longestOwnWait_ =
                    std::max(longestOwnWait_, seconds - std::max(lastOwnUpdate_, servedMark_));
                lastOwnUpdate_ = seconds;
            }
            break;
        }
        case MessageType::ObjectDestroy: {
            Known& known = view_.objects[received.as<Morvik::ObjectDestroy>().id()];
            known.destroyed = true;
            known.destroyedOverTcp = known.destroyedOverTcp || received.transport == Transport::Tcp;
            break;
        }
        case MessageType::Welcome:
            break;
        default:
            ++view_.badFrames;  // a server sends no ClientUpdate
            break;
    }
}

}  // namespace scripted
