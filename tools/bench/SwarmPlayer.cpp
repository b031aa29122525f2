#include "tools/bench/SwarmPlayer.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/placeholders.hpp>
#include <boost/asio/socket_base.hpp>

#include "Common/MessageConversions.h"
#include "Common/ObjectTypes.h"

namespace asio = boost::asio;

SwarmPlayer::SwarmPlayer(asio::io_service& io, const asio::ip::udp::endpoint& server,
                         SwarmTally& tally, ScenarioKind scenario, std::uint32_t seed)
    : server_(server), tally_(tally), tcp_(io), udp_(io), timer_(io), scenario_(scenario, seed) {}

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
    if (tally_.inWindow(now)) {
        tally_.result().tcpDownBytes += size;
    }
    if (!session_.readTcp(tcpBuffer_.data(), size,
                          [&](std::uint8_t type, const std::uint8_t* body, std::size_t bodySize) {
                              onTcpFrame(type, body, bodySize, now);
                          })) {
        // The stream cannot be resynchronised; a real client would be lost here too.
        ++tally_.result().badFrames;
        disconnected_ = true;
        close();
        return;
    }
    readTcp();
}

void SwarmPlayer::onTcpFrame(std::uint8_t type, const std::uint8_t* body, std::size_t size,
                             Clock::time_point now) {
    const bool inWindow = tally_.inWindow(now);
    switch (static_cast<MessageType>(type)) {
        case MessageType::Welcome:
            if (!session_.welcomed()) {
                ++tally_.result().badFrames;
            } else if (!welcomed_) {
                onWelcome(now);
            }
            return;
        case MessageType::ObjectInfo: {
            ObjectInfoHead head;
            if (!scanObjectInfo(body, size, head) || !head.hasOrientation) {
                ++tally_.result().badFrames;
                return;
            }
            if (head.objectType != kProjectileType) {
                return;  // players: stamped outside the world update, so no tick figure
            }
            if (inWindow) {
                ++tally_.result().shotsSeen;
                tally_.noteStamp(head.timestamp);
            }
            Clock::time_point sentAt;
            if (scenario_.kind() == ScenarioKind::Dogfight &&
                shots_.match(head.orientation, sentAt) && inWindow) {
                tally_.result().fireLatenciesMs.push_back(
                    std::chrono::duration<double, std::milli>(now - sentAt).count());
            }
            return;
        }
        case MessageType::ObjectDestroy:
            return;
        default:
            ++tally_.result().badFrames;
            return;
    }
}

void SwarmPlayer::onWelcome(Clock::time_point now) {
    welcomed_ = true;
    welcomedAt_ = now;
    // Players' updates are spread over the interval rather than all due at once.
    firstSend_ = now + kUpdateInterval * (session_.welcome().id() % 16) / 16;
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
        if (tally_.inWindow(now)) {
            SwarmResult& result = tally_.result();
            result.udpDownBytes += size;
            ++result.udpDownDatagrams;
            ++result.datagramSizes[static_cast<std::uint32_t>(size)];
            sawDatagramInWindow_ = true;
            if (!readDatagram(
                    udpBuffer_.data(), size,
                    [&](std::uint8_t type, const std::uint8_t* body, std::size_t bodySize) {
                        if (static_cast<MessageType>(type) == MessageType::ObjectUpdate) {
                            std::uint32_t stamp = 0;
                            if (scanObjectUpdate(body, bodySize, stamp)) {
                                tally_.noteStamp(stamp);
                            } else {
                                ++result.badFrames;
                            }
                        } else if (static_cast<MessageType>(type) != MessageType::ObjectDestroy) {
                            ++result.badFrames;
                        }
                    })) {
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

    setOrientation(update_.mutable_orientation(), controls.orientation);
    update_.set_boosterson(controls.mask);

    boost::system::error_code error;
    const std::size_t sent =
        udp_.send_to(asio::buffer(session_.datagram(update_)), server_, 0, error);
    if (scenario_.kind() == ScenarioKind::Dogfight) {
        const float sentOrientation[4] = {controls.orientation.x, controls.orientation.y,
                                          controls.orientation.z, controls.orientation.w};
        shots_.recordSent(sentOrientation, now);
    }
    if (tally_.inWindow(now)) {
        SwarmResult& result = tally_.result();
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
