#include "tools/bench/Swarm.h"

#include <algorithm>

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
      endTimer_(io_) {
    for (int i = 0; i < options_.players; ++i) {
        players_.push_back(std::make_unique<SwarmPlayer>(*this, options_.seed * 7919u + i));
    }
}

Swarm::~Swarm() = default;

void Swarm::noteStamp(std::uint32_t stamp) {
    // Most frames of a tick carry the same stamp; skip the set for repeats.
    if (anyStamp_ && stamp == lastStamp_) {
        return;
    }
    anyStamp_ = true;
    lastStamp_ = stamp;
    stamps_.insert(stamp);
}

SwarmResult Swarm::run() {
    result_.players = players_.size();
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
    return result_;
}

void Swarm::finish() {
    for (const auto& player : players_) {
        if (player->joinedBefore(options_.windowStart)) {
            ++result_.joined;
        }
        if (player->sawDatagramInWindow()) {
            ++result_.udpActive;
        }
        if (player->disconnected()) {
            ++result_.disconnects;
        }
        if (player->connectFailed()) {
            ++result_.connectFailures;
        }
        if (const std::uint16_t port = player->udpPort()) {
            result_.ports.push_back(port);
        }
    }
    result_.stamps.assign(stamps_.begin(), stamps_.end());
    std::sort(result_.stamps.begin(), result_.stamps.end());
    boost::system::error_code ignored;
    joinTimer_.cancel(ignored);
    for (const auto& player : players_) {
        player->close();
    }
    io_.stop();
}
