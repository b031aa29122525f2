#include "tools/bench/Swarm.h"

#include "tools/bench/SwarmPlayer.h"

namespace asio = boost::asio;

namespace {
// Players keep running this long after the window, so that nothing of the window is cut off
// by their own shutdown.
constexpr auto kLinger = std::chrono::milliseconds(200);
}  // namespace

Swarm::Swarm(const Options& options)
    : options_(options),
      serverTcp_(asio::ip::address_v4::loopback(), options.port),
      serverUdp_(asio::ip::address_v4::loopback(), options.port),
      joinTimer_(io_),
      endTimer_(io_),
      tally_(options.windowStart, options.windowEnd) {
    for (int i = 0; i < options_.players; ++i) {
        players_.push_back(std::make_unique<SwarmPlayer>(io_, serverUdp_, tally_, options_.scenario,
                                                         options_.seed * 7919u + i));
    }
}

Swarm::~Swarm() = default;

SwarmResult Swarm::run() {
    tally_.result().players = players_.size();
    // Connects are paced by one timer, each one at its share of the spread.
    std::function<void()> connectNext = [this, &connectNext]() {
        if (connected_ >= players_.size()) {
            return;
        }
        players_[connected_]->connect(serverTcp_);
        ++connected_;
        if (connected_ < players_.size()) {
            joinTimer_.expires_at(options_.joinStart +
                                  options_.joinSpread * connected_ / players_.size());
            joinTimer_.async_wait([&connectNext](const boost::system::error_code& e) {
                if (!e) {
                    connectNext();
                }
            });
        }
    };
    joinTimer_.expires_at(options_.joinStart);
    joinTimer_.async_wait([&connectNext](const boost::system::error_code& e) {
        if (!e) {
            connectNext();
        }
    });
    endTimer_.expires_at(options_.windowEnd + kLinger);
    endTimer_.async_wait([this](const boost::system::error_code& e) {
        if (!e) {
            finish();
        }
    });
    if (options_.spin) {
        while (!io_.stopped()) {
            io_.poll();
        }
    } else {
        io_.run();
    }
    return tally_.finish();
}

void Swarm::finish() {
    SwarmResult& result = tally_.result();
    for (const auto& player : players_) {
        if (player->joinedBefore(options_.windowStart)) {
            ++result.joined;
        }
        if (player->sawDatagramInWindow()) {
            ++result.udpActive;
        }
        if (player->disconnected()) {
            ++result.disconnects;
        }
        if (player->connectFailed()) {
            ++result.connectFailures;
        }
        if (const std::uint16_t port = player->udpPort()) {
            result.ports.push_back(port);
        }
    }
    boost::system::error_code ignored;
    joinTimer_.cancel(ignored);
    for (const auto& player : players_) {
        player->close();
    }
    io_.stop();
}
