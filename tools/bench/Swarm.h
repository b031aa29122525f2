#pragma once

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/bench/Scenario.h"
#include "tools/bench/SwarmResult.h"
#include "tools/bench/SwarmTally.h"

class SwarmPlayer;

// One process's share of the scripted players, all on one Asio io_service and one thread.
// The driver gives every swarm the same window on the shared monotonic clock, so that their
// figures cover the same span of time as the driver's CPU readings of the server.
class Swarm {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        std::uint16_t port = 0;
        int players = 0;
        ScenarioKind scenario = ScenarioKind::Idle;
        std::uint32_t seed = 1;
        Clock::time_point joinStart;    // first connect
        Clock::duration joinSpread{};   // connects are spread evenly over this
        Clock::time_point windowStart;  // measured window
        Clock::time_point windowEnd;
        // Poll without ever sleeping, so that no datagram has to wake a player up.
        bool spin = false;
    };

    explicit Swarm(const Options& options);
    ~Swarm();

    // Runs until the window has ended; then the players disconnect.
    SwarmResult run();

private:
    void finish();

    Options options_;
    boost::asio::io_service io_;
    boost::asio::ip::tcp::endpoint serverTcp_;
    boost::asio::ip::udp::endpoint serverUdp_;
    boost::asio::steady_timer joinTimer_;
    boost::asio::steady_timer endTimer_;
    SwarmTally tally_;
    std::vector<std::unique_ptr<SwarmPlayer>> players_;
    std::size_t connected_ = 0;
};
