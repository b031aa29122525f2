#include "tools/scripted-client/ScriptedClient.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/write.hpp>
#include <utility>

namespace scripted {

namespace {

constexpr Milliseconds kCloseWait{2000};

// Whole frames at the front of bytes, as the codec will cut them.
std::size_t countWholeFrames(const std::string& bytes) {
    std::size_t frames = 0;
    std::size_t offset = 0;
    while (bytes.size() - offset >= 2) {
        const std::size_t n = static_cast<std::uint8_t>(bytes[offset]) |
                              (static_cast<std::uint8_t>(bytes[offset + 1]) << 8);
        if (n == 0 || n > bytes.size() - offset - 2) {
            break;
        }
        ++frames;
        offset += 2 + n;
    }
    return frames;
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

Morvik::ClientUpdate makeClientUpdate(const Quaternion& orientation, std::uint32_t boosters) {
    Morvik::ClientUpdate update;
    Morvik::Orientation* out = update.mutable_orientation();
    out->set_w(orientation.w);
    out->set_x(orientation.x);
    out->set_y(orientation.y);
    out->set_z(orientation.z);
    update.set_boosterson(boosters);
    return update;
}

std::string encodeClientDatagram(std::uint16_t qport, const Morvik::ClientUpdate& update) {
    std::string datagram;
    datagram.push_back(static_cast<char>(qport & 0xFF));
    datagram.push_back(static_cast<char>(qport >> 8));
    appendFrame(datagram, MessageType::ClientUpdate, update);
    return datagram;
}

ScriptedClient::Ptr ScriptedClient::create(boost::asio::io_service& io) {
    return Ptr(new ScriptedClient(io));
}

ScriptedClient::ScriptedClient(boost::asio::io_service& io)
    : io_(io), tcpSocket_(io), udpSocket_(io) {}

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
        self->serverUdp_ = udp::endpoint(target.address(), target.port());
        self->tcpSocket_.async_connect(target, [self](const boost::system::error_code& result) {
            boost::system::error_code ignored;
            {
                std::lock_guard<std::mutex> lock(self->mutex_);
                self->connectDone_ = true;
                if (!result && !self->socketsClosed_) {
                    self->connected_ = true;
                    self->tcpLocal_ = self->tcpSocket_.local_endpoint(ignored);
                    self->udpLocal_ = self->udpSocket_.local_endpoint(ignored);
                }
                self->changed_.notify_all();
            }
            if (!result) {
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
    return waitForWelcome(left > Milliseconds(0) ? left : Milliseconds(0));
}

bool ScriptedClient::waitForWelcome(Milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return joined_ || tcpClosed_; }) && joined_;
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

void ScriptedClient::sendClientUpdate(const Quaternion& orientation, std::uint32_t boosters) {
    sendClientUpdate(makeClientUpdate(orientation, boosters));
}

void ScriptedClient::sendClientUpdate(const Morvik::ClientUpdate& update) {
    sendDatagram(encodeClientDatagram(qport(), update));
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

void ScriptedClient::sendTcp(std::string bytes) {
    auto self = shared_from_this();
    io_.post([self, bytes = std::move(bytes)] {
        if (!self->tcpSocket_.is_open()) {
            return;
        }
        boost::system::error_code ignored;
        boost::asio::write(self->tcpSocket_, boost::asio::buffer(bytes), ignored);
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

bool ScriptedClient::tcpClosed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tcpClosed_;
}

bool ScriptedClient::waitForTcpClosed(Milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return tcpClosed_; });
}

std::size_t ScriptedClient::decodeErrors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return decodeErrors_;
}

ScriptedClient::udp::endpoint ScriptedClient::udpLocalEndpoint() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return udpLocal_;
}

ScriptedClient::tcp::endpoint ScriptedClient::tcpLocalEndpoint() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tcpLocal_;
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
    boost::system::error_code ignored;
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
        boost::system::error_code ignored;
        tcpSocket_.close(ignored);
        std::lock_guard<std::mutex> lock(mutex_);
        tcpClosed_ = true;
        changed_.notify_all();
        return;
    }
    const std::size_t frames = countWholeFrames(
        tcpLeftover_ + std::string(reinterpret_cast<const char*>(tcpBuffer_.data()), count));
    bool malformed = false;
    std::vector<NetworkEventPtr> events =
        splitFrames(tcpBuffer_.data(), count, tcpLeftover_, malformed);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        decodeErrors_ += frames - events.size() + (malformed ? 1 : 0);
    }
    record(Transport::Tcp, events);
    if (malformed) {
        // The stream cannot be cut into frames any more.
        boost::system::error_code ignored;
        tcpSocket_.close(ignored);
        std::lock_guard<std::mutex> lock(mutex_);
        tcpClosed_ = true;
        changed_.notify_all();
        return;
    }
    armTcpReceive();
}

void ScriptedClient::onUdpReceive(const boost::system::error_code& error, std::size_t count) {
    if (error) {
        if (error != boost::asio::error::operation_aborted && udpSocket_.is_open()) {
            armUdpReceive();
        }
        return;
    }
    const std::string datagram(reinterpret_cast<const char*>(udpBuffer_.data()), count);
    const std::size_t frames = countWholeFrames(datagram);
    std::string leftover;
    bool malformed = false;
    std::vector<NetworkEventPtr> events =
        splitFrames(udpBuffer_.data(), count, leftover, malformed);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        decodeErrors_ += frames - events.size() + (leftover.empty() && !malformed ? 0 : 1);
    }
    record(Transport::Udp, events, udpSender_.port());
    armUdpReceive();
}

void ScriptedClient::record(Transport transport, std::vector<NetworkEventPtr>& events,
                            std::uint16_t sourcePort) {
    if (events.empty()) {
        return;
    }
    const Clock::time_point now = Clock::now();
    std::vector<ReceivedMessage> added;
    MessageCallback callback;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const NetworkEventPtr& event : events) {
            ReceivedMessage received{
                transport, event->type,
                std::shared_ptr<const google::protobuf::Message>(event->message.release()), now,
                sourcePort};
            if (!joined_ && received.is(MessageType::Welcome)) {
                welcome_.CopyFrom(received.as<Morvik::Welcome>());
                joined_ = true;
            }
            messages_.push_back(received);
            added.push_back(std::move(received));
        }
        callback = callback_;
        changed_.notify_all();
    }
    if (callback) {
        for (const ReceivedMessage& received : added) {
            callback(received);
        }
    }
}

}  // namespace scripted
