#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

// What one swarm process saw in the measured window, handed to the driver as a text file.
// Traffic is payload bytes (UDP datagram contents, TCP stream bytes), without IP headers.
struct SwarmResult {
    std::uint64_t players = 0;
    std::uint64_t joined = 0;       // Welcome received before the window began
    std::uint64_t udpActive = 0;    // players that received a datagram in the window
    std::uint64_t disconnects = 0;  // TCP connections the server closed
    std::uint64_t connectFailures = 0;
    std::uint64_t badFrames = 0;   // frames that did not decode
    std::uint64_t sendErrors = 0;  // ClientUpdates the socket refused

    std::uint64_t udpDownBytes = 0;
    std::uint64_t udpDownDatagrams = 0;
    std::uint64_t tcpDownBytes = 0;
    std::uint64_t udpUpBytes = 0;
    std::uint64_t udpUpDatagrams = 0;
    std::uint64_t tcpUpBytes = 0;

    std::uint64_t shotsSeen = 0;          // shot ObjectInfos received (all players)
    std::vector<double> fireLatenciesMs;  // own shots, from the firing ClientUpdate
    std::vector<std::uint32_t> stamps;    // distinct tick-phase server timestamps
    std::map<std::uint32_t, std::uint64_t> datagramSizes;  // size -> count, server to players
    std::vector<std::uint16_t> ports;                      // the players' UDP ports

    void merge(const SwarmResult& other);
    void write(std::ostream& out) const;
    // False when the text is not a result.
    bool read(std::istream& in);
};
