#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/testkit/ClientSession.h"
#include "tools/testkit/MonotonicClock.h"

// A well-behaved scripted player for the network tests: it joins over TCP, steers its ship
// with a ClientUpdate every sendIntervalMs over UDP (qport in front, as the game client does),
// and records what the server tells it, with arrival times, so a test can check that it keeps
// being served. It runs on its own thread; snapshot() gives a consistent copy of its records.
class ProbePlayer {
public:
    struct Options {
        std::uint16_t tcpPort = 0;     // the server's port on 127.0.0.1
        std::uint16_t udpPort = 0;     // where ClientUpdates go; 0: the server's port
        std::uint32_t controls = 0x1;  // bits held down in every ClientUpdate
        bool fire = false;             // hold the fire control too
        double turnRate = 0.6;         // radians per second about the ship's y axis
        int sendIntervalMs = 50;
        int connectTimeoutMs = 5000;
    };

    // One state of an object as an ObjectUpdate carried it.
    struct Sample {
        std::uint32_t timestamp = 0;
        float position[3] = {0, 0, 0};
        float orientation[4] = {1, 0, 0, 0};  // w, x, y, z
        double arrival = 0;                   // monotonicSeconds() when it came
        // The state only: where and when it came plays no part.
        bool operator==(const Sample& other) const;
    };

    struct Known {
        std::uint32_t objectType = 0;
        bool announced = false;  // an ObjectInfo came
        bool destroyed = false;
        bool destroyedOverTcp = false;
        std::uint64_t updates = 0;
        // The newest ObjectUpdates (at most 64) in the order they came: a bad link reorders.
        std::vector<Sample> recent;
    };

    struct View {
        bool welcomed = false;
        std::uint64_t ownId = 0;
        std::uint16_t qport = 0;
        bool tcpClosed = false;  // the server closed the connection, or it failed
        std::uint64_t tcpFrames = 0;
        std::uint64_t udpDatagrams = 0;
        std::uint64_t udpFrames = 0;
        std::uint64_t badFrames = 0;  // frames the codec rejected: the server never sends any
        std::map<std::uint64_t, Known> objects;
        // Seconds since start() of every datagram, and of every ObjectUpdate of the own ship.
        std::vector<double> datagramTimes;
        std::vector<double> ownUpdateTimes;
    };

    explicit ProbePlayer(const Options& options);
    ~ProbePlayer();

    ProbePlayer(const ProbePlayer&) = delete;
    ProbePlayer& operator=(const ProbePlayer&) = delete;

    // Connects (blocking, bounded) and starts the player's thread.
    bool start();
    // Closes both sockets and stops the thread; the records stay readable.
    void stop();

    bool waitWelcome(int timeoutMs);
    View snapshot();
    double secondsSinceStart() const;

    // Pauses or resumes the ClientUpdates (the connection stays).
    void setSending(bool sending) { sending_ = sending; }
    void setControls(std::uint32_t controls) { controls_ = controls; }
    void setTurnRate(double turnRate) { turnRate_ = turnRate; }
    const std::string& error() const { return error_; }

private:
    void run();
    void sendClientUpdate(double seconds);
    void handleBytes(const std::uint8_t* data, std::size_t size, bool tcp);

    Options options_;
    int tcpFd_ = -1;
    int udpFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::string error_;
    std::string leftover_;
    std::int64_t startUs_ = 0;
    std::atomic<bool> running_{false};
    std::atomic<bool> sending_{true};
    std::atomic<std::uint32_t> controls_;
    std::atomic<double> turnRate_;  // radians per second
    double angle_ = 0;
    double lastSend_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    View view_;
};
