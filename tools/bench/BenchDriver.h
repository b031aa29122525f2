#pragma once

#include <string>
#include <vector>

#include "tools/bench/BenchRow.h"
#include "tools/bench/Scenario.h"

// Runs the rows: for each scenario and player count a fresh server pinned to one CPU, swarms
// of scripted players on the other CPUs, the measured window, then the send floor.
class BenchDriver {
public:
    struct Options {
        std::vector<ScenarioKind> scenarios;
        std::vector<int> playerCounts;
        double warmupSeconds = 4.0;
        double measureSeconds = 6.0;
        std::string serverPath;
        std::string csvPath;
        std::string markdownPath;
        bool check = false;
        bool keepLogs = false;
        std::string perfPrefix;  // when set: perf record of the server over each window
        unsigned seed = 1;
        int serverCpu = -1;  // -1: the last CPU this process may use
        // Nice value of the server, the players and the floor's sender: on a shared machine
        // other work then takes only what they leave.
        int niceness = -10;
        // Players (and the floor's receivers) poll without sleeping.
        bool spin = false;
    };

    explicit BenchDriver(Options options);

    // Prints the table as rows finish. Returns 0, or 1 when a row is not sane and check is on.
    int run();

    BenchRow runRow(ScenarioKind scenario, int players);

private:
    Options options_;
    std::string self_;
    int serverCpu_ = 0;
    std::vector<int> clientCpus_;
};
