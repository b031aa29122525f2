#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/bench/Scenario.h"
#include "tools/bench/SwarmResult.h"

// One scenario at one player count: the figures of a row of the report.
struct BenchRow {
    ScenarioKind scenario = ScenarioKind::Idle;
    int players = 0;
    double windowSeconds = 0.0;

    // Sanity: did the run work at all?
    std::uint64_t joined = 0;
    std::uint64_t udpActive = 0;
    std::uint64_t disconnects = 0;
    std::uint64_t connectFailures = 0;
    std::uint64_t badFrames = 0;
    std::uint64_t sendErrors = 0;
    bool serverAlive = false;
    std::uint64_t serverDrops = 0;  // ClientUpdates the server's socket dropped in the window
    std::uint64_t playerDrops = 0;  // datagrams the players' sockets dropped in the window
    double otherCores = 0.0;        // CPU used meanwhile by everything but the server and swarms
    double generatorCpuMax = 0.0;   // busiest swarm process, share of one core

    double serverCpu = 0.0;       // share of one core
    double serverCoreBusy = 0.0;  // the server's CPU busy with anything, share of one core
    std::size_t ticks = 0;        // ticks seen in the window
    double tickCoverage = 0.0;    // ticks seen / ticks a 30 Hz server runs in the window
    double tickP50 = 0.0, tickP99 = 0.0, tickMax = 0.0;  // ms

    // Per player per second.
    double udpDownBytes = 0.0, tcpDownBytes = 0.0, udpUpBytes = 0.0, tcpUpBytes = 0.0;
    // All players, per second.
    double datagramsDown = 0.0, datagramsUp = 0.0;

    std::size_t shots = 0;                // own shots matched to their ClientUpdate
    double fireP50 = 0.0, fireP99 = 0.0;  // ms

    bool floorOk = false;
    double floorCpu = 0.0;  // share of one core for the same datagrams
    double ratio = 0.0;     // serverCpu / floorCpu

    // Fills the traffic, tick and latency figures from the swarms' merged result.
    void takeFigures(const SwarmResult& result, double seconds);

    // What makes the row unusable as a measurement, one line each; empty when sane. Timings
    // are never judged here.
    std::vector<std::string> problems() const;
};
