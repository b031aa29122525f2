#pragma once

#include <array>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>

#include "Common/Protobuf/Object.pb.h"
#include "tools/bench/Scenario.h"
#include "tools/bench/ShotMatcher.h"
#include "tools/bench/SwarmTally.h"
#include "tools/testkit/ClientSession.h"

// One scripted player speaking the game's protocol: it connects over TCP, waits for its
// Welcome, then sends a ClientUpdate with its qport in front from its own UDP socket every
// 0.05 s, while it reads the server's TCP stream and datagrams and counts what it sees. It
// reads only the heads of the frames it needs, so that one thread serves hundreds.
class SwarmPlayer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kUpdateInterval = std::chrono::milliseconds(50);

    SwarmPlayer(boost::asio::io_service& io, const boost::asio::ip::udp::endpoint& server,
                SwarmTally& tally, ScenarioKind scenario, std::uint32_t seed);

    void connect(const boost::asio::ip::tcp::endpoint& server);
    void close();

    bool joinedBefore(Clock::time_point t) const { return welcomed_ && welcomedAt_ < t; }
    bool sawDatagramInWindow() const { return sawDatagramInWindow_; }
    bool disconnected() const { return disconnected_; }
    bool connectFailed() const { return connectFailed_; }
    // The local port of its UDP socket; 0 when it has none.
    std::uint16_t udpPort() const;

private:
    void onConnect(const boost::system::error_code& error);
    void readTcp();
    void onTcpRead(const boost::system::error_code& error, std::size_t size);
    void onTcpFrame(std::uint8_t type, const std::uint8_t* body, std::size_t size,
                    Clock::time_point now);
    void onWelcome(Clock::time_point now);
    void readUdp();
    void onUdpRead(const boost::system::error_code& error, std::size_t size);
    void scheduleUpdate();
    void sendUpdate();

    const boost::asio::ip::udp::endpoint& server_;
    SwarmTally& tally_;
    boost::asio::ip::tcp::socket tcp_;
    boost::asio::ip::udp::socket udp_;
    boost::asio::steady_timer timer_;
    Scenario scenario_;
    ShotMatcher shots_;
    ClientSession session_;

    std::array<std::uint8_t, 16384> tcpBuffer_{};
    std::array<std::uint8_t, 2048> udpBuffer_{};
    boost::asio::ip::udp::endpoint udpFrom_;

    Morvik::ClientUpdate update_;
    bool welcomed_ = false;
    Clock::time_point welcomedAt_;
    Clock::time_point firstSend_;
    Clock::time_point nextSend_;
    bool sawDatagramInWindow_ = false;
    bool disconnected_ = false;
    bool connectFailed_ = false;
    bool closed_ = false;
};
