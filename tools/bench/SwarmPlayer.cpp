#include "tools/bench/SwarmPlayer.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/placeholders.hpp>
#include <boost/asio/socket_base.hpp>

#include "Common/FrameCodec.h"
#include "Common/ObjectTypes.h"
#include "tools/bench/FrameScanner.h"
#include "tools/bench/Swarm.h"

namespace asio = boost::asio;

SwarmPlayer::SwarmPlayer(Swarm& swarm, std::uint32_t seed)
    : swarm_(swarm),
      tcp_(swarm.io()),
      udp_(swarm.io()),
      timer_(swarm.io()),
      scenario_(swarm.options().scenario, seed) {}

void SwarmPlayer::connect(const asio::ip::tcp::endpoint& server) {
    boost::system::error_code error;
    udp_.open(asio::ip::udp::v4(), error);
    if (!error) {
        // Room for a few ticks of bursts while this process is busy with other players.
        udp_.set_option(asio::socket_base::receive_buffer_size(1 << 20), error);
        udp_.bind(asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0), error);
    }
    if (!error) {
        udp_.non_blocking(true, error);
    }
    if (error) {
        connectFailed_ = true;
        return;
    }
    readUdp();
    tcp_.async_connect(server, [this](const boost::system::error_code& e) { onConnect(e); });
}

std::uint16_t SwarmPlayer::udpPort() const {
    boost::system::error_code error;
    const auto endpoint = udp_.local_endpoint(error);
    return error ? 0 : endpoint.port();
}

void SwarmPlayer::close() {
    closed_ = true;
    boost::system::error_code ignored;
    timer_.cancel(ignored);
    tcp_.close(ignored);
    udp_.close(ignored);
}

void SwarmPlayer::onConnect(const boost::system::error_code& error) {
    if (closed_) {
        return;
    }
    if (error) {
        connectFailed_ = true;
        return;
    }
    boost::system::error_code ignored;
    tcp_.set_option(asio::ip::tcp::no_delay(true), ignored);
    readTcp();
}

void SwarmPlayer::readTcp() {
    tcp_.async_read_some(asio::buffer(tcpBuffer_), [this](const boost::system::error_code& e,
                                                          std::size_t n) { onTcpRead(e, n); });
}

void SwarmPlayer::onTcpRead(const boost::system::error_code& error, std::size_t size) {
    if (closed_) {
        return;
    }
    if (error) {
        disconnected_ = true;
        return;
    }
    const Clock::time_point now = Clock::now();
    if (swarm_.inWindow(now)) {
        swarm_.result().tcpDownBytes += size;
    }
    const std::uint8_t* data = tcpBuffer_.data();
    std::size_t length = size;
    if (!tcpPending_.empty()) {
        tcpPending_.append(reinterpret_cast<const char*>(data), size);
        data = reinterpret_cast<const std::uint8_t*>(tcpPending_.data());
        length = tcpPending_.size();
    }
    bool malformed = false;
    const std::size_t used =
        forEachFrame(data, length, malformed,
                     [&](std::uint8_t type, const std::uint8_t* body, std::size_t bodySize) {
                         onTcpFrame(type, body, bodySize, now);
                     });
    if (malformed) {
        // The stream cannot be resynchronised; a real client would be lost here too.
        ++swarm_.result().badFrames;
        disconnected_ = true;
        close();
        return;
    }
    if (tcpPending_.empty()) {
        tcpPending_.assign(reinterpret_cast<const char*>(data) + used, length - used);
    } else {
        tcpPending_.erase(0, used);
    }
    readTcp();
}

void SwarmPlayer::onTcpFrame(std::uint8_t type, const std::uint8_t* body, std::size_t size,
                             Clock::time_point now) {
    const bool inWindow = swarm_.inWindow(now);
    switch (static_cast<MessageType>(type)) {
        case MessageType::Welcome:
            onWelcome(body, size, now);
            return;
        case MessageType::ObjectInfo: {
            ObjectInfoHead head;
            if (!scanObjectInfo(body, size, head) || !head.hasOrientation) {
                ++swarm_.result().badFrames;
                return;
            }
            if (head.objectType != kProjectileType) {
                return;  // players: stamped outside the world update, so no tick figure
            }
            if (inWindow) {
                ++swarm_.result().shotsSeen;
                swarm_.noteStamp(head.timestamp);
            }
            Clock::time_point sentAt;
            if (scenario_.kind() == ScenarioKind::Dogfight &&
                shots_.match(head.orientation, sentAt) && inWindow) {
                swarm_.result().fireLatenciesMs.push_back(
                    std::chrono::duration<double, std::milli>(now - sentAt).count());
            }
            return;
        }
        case MessageType::ObjectDestroy:
            return;
        default:
            ++swarm_.result().badFrames;
            return;
    }
}

void SwarmPlayer::onWelcome(const std::uint8_t* body, std::size_t size, Clock::time_point now) {
    Morvik::Welcome welcome;
    if (!welcome.ParseFromArray(body, static_cast<int>(size))) {
        ++swarm_.result().badFrames;
        return;
    }
    if (welcomed_) {
        return;
    }
    welcomed_ = true;
    welcomedAt_ = now;
    qport_ = static_cast<std::uint16_t>(welcome.qport());
    // Players' updates are spread over the interval rather than all due at once.
    firstSend_ = now + kUpdateInterval * (welcome.id() % 16) / 16;
    nextSend_ = firstSend_;
    scheduleUpdate();
}

void SwarmPlayer::readUdp() {
    udp_.async_receive_from(
        asio::buffer(udpBuffer_), udpFrom_,
        [this](const boost::system::error_code& e, std::size_t n) { onUdpRead(e, n); });
}

void SwarmPlayer::onUdpRead(const boost::system::error_code& error, std::size_t size) {
    if (closed_ || error == asio::error::operation_aborted) {
        return;
    }
    if (!error) {
        const Clock::time_point now = Clock::now();
        if (swarm_.inWindow(now)) {
            SwarmResult& result = swarm_.result();
            result.udpDownBytes += size;
            ++result.udpDownDatagrams;
            ++result.datagramSizes[static_cast<std::uint32_t>(size)];
            sawDatagramInWindow_ = true;
            bool malformed = false;
            const std::size_t used = forEachFrame(
                udpBuffer_.data(), size, malformed,
                [&](std::uint8_t type, const std::uint8_t* body, std::size_t bodySize) {
                    if (static_cast<MessageType>(type) == MessageType::ObjectUpdate) {
                        std::uint32_t stamp = 0;
                        if (scanObjectUpdate(body, bodySize, stamp)) {
                            swarm_.noteStamp(stamp);
                        } else {
                            ++result.badFrames;
                        }
                    } else if (static_cast<MessageType>(type) != MessageType::ObjectDestroy) {
                        ++result.badFrames;
                    }
                });
            // A frame never spans datagrams, so leftover bytes are a fault.
            if (malformed || used != size) {
                ++result.badFrames;
            }
        }
    }
    // Errors such as a port-unreachable report from an earlier send do not end the player.
    readUdp();
}

void SwarmPlayer::scheduleUpdate() {
    timer_.expires_at(nextSend_);
    timer_.async_wait([this](const boost::system::error_code& e) {
        if (!e && !closed_) {
            sendUpdate();
        }
    });
}

void SwarmPlayer::sendUpdate() {
    const Clock::time_point now = Clock::now();
    const double t = std::chrono::duration<double>(now - firstSend_).count();
    const Controls controls = scenario_.next(t);

    Morvik::Orientation* orientation = update_.mutable_orientation();
    orientation->set_x(controls.orientation.x);
    orientation->set_y(controls.orientation.y);
    orientation->set_z(controls.orientation.z);
    orientation->set_w(controls.orientation.w);
    update_.set_boosterson(controls.mask);

    datagram_.clear();
    datagram_.push_back(static_cast<char>(qport_ & 0xFF));
    datagram_.push_back(static_cast<char>(qport_ >> 8));
    appendFrame(datagram_, MessageType::ClientUpdate, update_);

    boost::system::error_code error;
    const std::size_t sent = udp_.send_to(asio::buffer(datagram_), swarm_.serverUdp(), 0, error);
    if (scenario_.kind() == ScenarioKind::Dogfight) {
        const float sentOrientation[4] = {controls.orientation.x, controls.orientation.y,
                                          controls.orientation.z, controls.orientation.w};
        shots_.recordSent(sentOrientation, now);
    }
    if (swarm_.inWindow(now)) {
        SwarmResult& result = swarm_.result();
        if (error) {
            ++result.sendErrors;
        } else {
            result.udpUpBytes += sent;
            ++result.udpUpDatagrams;
        }
    }

    // Fixed cadence; after a long stall start afresh instead of sending a burst.
    nextSend_ += kUpdateInterval;
    if (nextSend_ + std::chrono::seconds(1) < now) {
        nextSend_ = now + kUpdateInterval;
    }
    scheduleUpdate();
}
