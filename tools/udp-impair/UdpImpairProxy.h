#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

// A userspace UDP proxy on 127.0.0.1 that stands between game clients and a server and makes
// the link bad in both directions: it drops, duplicates, delays and reorders datagrams, drawn
// from a seeded generator. Each client gets its own upstream socket, so the server sees one
// distinct source port per client, as it would through a NAT.
class UdpImpairProxy {
public:
    struct Settings {
        double dropRate = 0.2;
        double duplicateRate = 0.05;
        // A reordered datagram is held back by reorderHoldMs on top of its delay, so that the
        // ones sent after it overtake it.
        double reorderRate = 0.1;
        int minDelayMs = 0;
        int maxDelayMs = 40;
        int reorderHoldMs = 60;
        std::uint32_t seed = 1;
    };

    struct Counters {
        std::uint64_t received = 0;   // datagrams that reached the proxy, both directions
        std::uint64_t delivered = 0;  // datagrams sent on, duplicates included
        std::uint64_t dropped = 0;
        std::uint64_t duplicated = 0;
        std::uint64_t reordered = 0;
        std::uint64_t clients = 0;  // distinct client endpoints seen
    };

    // server: where datagrams from clients go (127.0.0.1:serverPort).
    UdpImpairProxy(std::uint16_t serverPort, const Settings& settings);
    ~UdpImpairProxy();

    UdpImpairProxy(const UdpImpairProxy&) = delete;
    UdpImpairProxy& operator=(const UdpImpairProxy&) = delete;

    // Binds 127.0.0.1 on a port the system picks and starts the proxy thread.
    // Returns false (with the reason in error()) when the socket cannot be set up.
    bool start();
    void stop();

    // The port clients send to.
    std::uint16_t port() const { return port_; }
    const std::string& error() const { return error_; }

    // false: from now on every datagram passes at once and unharmed (datagrams already held
    // back are still delivered at their time).
    void setImpaired(bool impaired) { impaired_ = impaired; }
    Counters counters();

private:
    struct Pending {
        std::int64_t dueUs;
        std::uint64_t order;  // keeps equal due times in arrival order
        int fromSocket;
        sockaddr_in to;
        std::string bytes;
    };
    struct Later {
        bool operator()(const Pending& a, const Pending& b) const {
            return a.dueUs != b.dueUs ? a.dueUs > b.dueUs : a.order > b.order;
        }
    };

    void run();
    void handleDatagram(int fromSocket, const sockaddr_in& to, std::string bytes,
                        std::int64_t nowUs);
    void schedule(int fromSocket, const sockaddr_in& to, const std::string& bytes,
                  std::int64_t dueUs);
    int upstreamFor(const sockaddr_in& client);

    Settings settings_;
    std::uint16_t serverPort_;
    std::uint16_t port_ = 0;
    int listenSocket_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::string error_;
    std::atomic<bool> impaired_{true};
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mt19937 random_;
    std::uint64_t nextOrder_ = 0;
    std::vector<Pending> heap_;
    // client address (ip << 16 | port) -> its upstream socket, and back
    std::map<std::uint64_t, int> upstreamByClient_;
    std::map<int, sockaddr_in> clientByUpstream_;
    std::mutex countersMutex_;
    Counters counters_;
};
