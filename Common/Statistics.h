#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Index of every counter group.
enum Channel { tcp_sent = 0, tcp_rcvd = 1, udp_sent = 2, udp_rcvd = 3 };

// Process-wide traffic counters. The counters are updated from the network thread and the
// main thread without a lock, so each is a relaxed atomic 64-bit value. The rates, snapshots
// and file fields belong to the server's main thread (Server/StatisticsFile.cpp).
class Statistics {
public:
    static Statistics* getInstance();

    void setFileName(const std::string& name);

    void addPackets(std::uint64_t amount, int channel);
    void addMessages(std::uint64_t amount, int channel);
    void addBytes(std::uint64_t amount, int channel);

    std::uint64_t getPackets(int channel) const;
    std::uint64_t getMessages(int channel) const;
    std::uint64_t getBytes(int channel) const;

    // Server only; defined in Server/StatisticsFile.cpp.
    void updateRates();
    void updateRates(std::uint64_t nowMs);  // the clock seam
    void appendLogLine();

    // Packets by channel, then messages by channel, then bytes by channel (per second).
    float rates[12];
    std::string fileName;
    int rowCount;
    std::atomic<std::uint64_t> packets[4];
    std::atomic<std::uint64_t> messages[4];
    std::atomic<std::uint64_t> bytes[4];
    std::uint64_t lastTick;
    std::uint64_t snapshots[12];

    // Tests only: back to the values of a fresh instance.
    void resetForTesting();

private:
    Statistics();
};
