// Load benchmark: starts the real server on one CPU and swarms of scripted players on the
// others, and prints one row of figures per scenario and player count.
//
//   bench [--scenarios idle,cruise,dogfight] [--players 8,32,...] [--warmup s] [--measure s]
//   bench swarm ...          (a child: one process's share of the players)
//   bench floor-send plan result   (a child: the send floor's sender)

#include <boost/program_options.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/bench/BenchDriver.h"
#include "tools/bench/SendFloor.h"
#include "tools/bench/Swarm.h"

namespace po = boost::program_options;

namespace {

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (!item.empty()) {
            items.push_back(item);
        }
    }
    return items;
}

Swarm::Clock::time_point fromNanos(long long value) {
    return Swarm::Clock::time_point(
        std::chrono::duration_cast<Swarm::Clock::duration>(std::chrono::nanoseconds(value)));
}

int runSwarm(int argc, char** argv) {
    po::options_description description("swarm options");
    Swarm::Options options;
    int port = 0;
    int players = 0;
    std::string scenario;
    unsigned seed = 1;
    long long joinStart = 0, joinSpread = 0, windowStart = 0, windowEnd = 0;
    std::string resultPath;
    auto option = description.add_options();
    option("port", po::value(&port)->required());
    option("players", po::value(&players)->required());
    option("scenario", po::value(&scenario)->required());
    option("seed", po::value(&seed));
    option("join-start", po::value(&joinStart)->required());
    option("join-spread", po::value(&joinSpread)->required());
    option("window-start", po::value(&windowStart)->required());
    option("window-end", po::value(&windowEnd)->required());
    option("result", po::value(&resultPath)->required());
    option("spin", po::value(&options.spin));
    po::variables_map values;
    po::store(po::parse_command_line(argc, argv, description), values);
    po::notify(values);

    options.port = static_cast<std::uint16_t>(port);
    options.players = players;
    if (!parseScenario(scenario, options.scenario)) {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    options.seed = seed;
    options.joinStart = fromNanos(joinStart);
    options.joinSpread =
        std::chrono::duration_cast<Swarm::Clock::duration>(std::chrono::nanoseconds(joinSpread));
    options.windowStart = fromNanos(windowStart);
    options.windowEnd = fromNanos(windowEnd);

    Swarm swarm(options);
    const SwarmResult result = swarm.run();
    std::ofstream out(resultPath);
    result.write(out);
    return out ? 0 : 1;
}

int runDriver(int argc, char** argv) {
    po::options_description description(
        "Load benchmark of the game server.\n"
        "Starts build/bin/server pinned to one CPU and scripted players on the other CPUs,\n"
        "and prints one row per scenario and player count.\n\nOptions");
    std::string scenarios = "idle,cruise,dogfight";
    std::string players = "8,32,64,128,256,512";
    BenchDriver::Options options;
    auto option = description.add_options();
    option("help", "print the options");
    option("scenarios", po::value(&scenarios)->default_value(scenarios),
           "comma-separated: idle, cruise, dogfight");
    option("players", po::value(&players)->default_value(players), "comma-separated player counts");
    option("warmup", po::value(&options.warmupSeconds)->default_value(4.0),
           "seconds from the first join to the window");
    option("measure", po::value(&options.measureSeconds)->default_value(6.0),
           "seconds of the measured window");
    option("server", po::value(&options.serverPath), "server program (default: next to bench)");
    option("server-cpu", po::value(&options.serverCpu)->default_value(-1),
           "CPU for the server (default: the last allowed CPU)");
    option("nice", po::value(&options.niceness)->default_value(-10),
           "nice value of the server, players and floor sender (below 0 needs root)");
    option("seed", po::value(&options.seed)->default_value(1), "seed of the players' behaviour");
    option("csv", po::value(&options.csvPath), "also write the rows as CSV to this file");
    option("markdown", po::value(&options.markdownPath),
           "also write the rows as a Markdown table to this file");
    option("keep-logs", po::bool_switch(&options.keepLogs),
           "keep each row's server and swarm logs and print where they are");
    option("perf", po::value(&options.perfPrefix),
           "record the server with perf over each window into <prefix>-<scenario>-<N>.data");
    option("spin", po::bool_switch(&options.spin),
           "players and the floor's receivers poll without sleeping: no datagram has to wake "
           "its receiver, as with players on other machines (uses every player CPU fully)");
    option("check", po::bool_switch(&options.check),
           "exit with 1 when a row shows the run did not work (never judges timings)");
    po::variables_map values;
    try {
        po::store(po::parse_command_line(argc, argv, description), values);
        po::notify(values);
    } catch (const po::error& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    if (values.count("help") != 0) {
        std::cout << description << "\n";
        return 0;
    }
    for (const std::string& name : splitList(scenarios)) {
        ScenarioKind kind;
        if (!parseScenario(name, kind)) {
            std::fprintf(stderr, "unknown scenario %s\n", name.c_str());
            return 2;
        }
        options.scenarios.push_back(kind);
    }
    for (const std::string& count : splitList(players)) {
        const int n = std::atoi(count.c_str());
        if (n <= 0) {
            std::fprintf(stderr, "bad player count %s\n", count.c_str());
            return 2;
        }
        options.playerCounts.push_back(n);
    }
    if (options.warmupSeconds <= 0.0 || options.measureSeconds <= 0.0) {
        std::fprintf(stderr, "warm-up and window must be positive\n");
        return 2;
    }
    BenchDriver driver(options);
    return driver.run();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "swarm") {
            return runSwarm(argc - 1, argv + 1);
        }
        if (mode == "floor-send") {
            return argc == 4 ? SendFloor::sendFromPlan(argv[2], argv[3]) : 2;
        }
        return runDriver(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 2;
    }
}
