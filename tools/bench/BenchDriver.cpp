#include "tools/bench/BenchDriver.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <thread>

#include "tools/bench/ReportTable.h"
#include "tools/bench/SendFloor.h"
#include "tools/bench/SwarmResult.h"
#include "tools/testkit/Machine.h"
#include "tools/testkit/ServerProcess.h"

using Clock = std::chrono::steady_clock;

namespace {

// A swarm process is worth starting for this many players or more.
constexpr int kPlayersPerSwarmMin = 16;

// A fresh private directory for one row's files; empty on failure.
std::string makeWorkDirectory() {
    char pattern[] = "/tmp/morvik-bench-XXXXXX";
    const char* path = mkdtemp(pattern);
    return path != nullptr ? std::string(path) : std::string();
}

// Standard error goes into the same log as standard output, in the order written.
ChildProcess::Options childOptions(std::string program, std::vector<std::string> args, int cpu,
                                   int niceness) {
    ChildProcess::Options options;
    options.program = std::move(program);
    options.args = std::move(args);
    options.mergeErrorIntoOutput = true;
    options.cpu = cpu;
    options.niceness = niceness;
    return options;
}

std::string nanos(Clock::time_point t) {
    return std::to_string(
        std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

std::string sibling(const std::string& self, const std::string& name) {
    const std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? name : self.substr(0, slash + 1) + name;
}

}  // namespace

BenchDriver::BenchDriver(Options options) : options_(std::move(options)) {
    self_ = Machine::selfPath();
    if (options_.serverPath.empty()) {
        options_.serverPath = sibling(self_, "server");
    }
    const std::vector<int> cpus = Machine::allowedCpus();
    // Not the first CPU: that is where device interrupts usually land.
    serverCpu_ = options_.serverCpu >= 0 ? options_.serverCpu : cpus.back();
    for (const int cpu : cpus) {
        if (cpu != serverCpu_) {
            clientCpus_.push_back(cpu);
        }
    }
    if (clientCpus_.empty()) {
        clientCpus_.push_back(serverCpu_);  // one CPU: everything shares it
    }
}

int BenchDriver::run() {
    std::printf(
        "server %s on CPU %d, players on %zu other CPU(s), nice %d; warm-up %.1f s, window "
        "%.1f s\n",
        options_.serverPath.c_str(), serverCpu_, clientCpus_.size(), options_.niceness,
        options_.warmupSeconds, options_.measureSeconds);
    std::printf("%s", ReportTable::header(ReportTable::Style::Text).c_str());
    std::fflush(stdout);

    std::vector<BenchRow> rows;
    bool sane = true;
    for (const ScenarioKind scenario : options_.scenarios) {
        for (const int players : options_.playerCounts) {
            rows.push_back(runRow(scenario, players));
            const BenchRow& row = rows.back();
            std::printf("%s", ReportTable::row(row, ReportTable::Style::Text).c_str());
            for (const std::string& problem : row.problems()) {
                std::printf("  ! %s\n", problem.c_str());
                sane = false;
            }
            std::fflush(stdout);
        }
    }
    std::printf("\n%s", ReportTable::legend().c_str());

    if (!options_.csvPath.empty()) {
        std::ofstream csv(options_.csvPath);
        csv << ReportTable::header(ReportTable::Style::Csv);
        for (const BenchRow& row : rows) {
            csv << ReportTable::row(row, ReportTable::Style::Csv);
        }
    }
    if (!options_.markdownPath.empty()) {
        std::ofstream markdown(options_.markdownPath);
        markdown << ReportTable::header(ReportTable::Style::Markdown);
        for (const BenchRow& row : rows) {
            markdown << ReportTable::row(row, ReportTable::Style::Markdown);
        }
    }
    return options_.check && !sane ? 1 : 0;
}

BenchRow BenchDriver::runRow(ScenarioKind scenario, int players) {
    BenchRow row;
    row.scenario = scenario;
    row.players = players;

    const std::string work = makeWorkDirectory();
    ServerProcess server(childOptions(options_.serverPath, {}, serverCpu_, options_.niceness));
    const std::uint16_t port = server.port();

    const auto warmup = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options_.warmupSeconds));
    const auto measure = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options_.measureSeconds));
    const Clock::time_point joinStart = Clock::now() + std::chrono::milliseconds(300);
    // Joins are spread over up to half the warm-up: a join costs the server a snapshot of
    // every player, and a real crowd does not arrive in one tick either.
    const Clock::duration joinSpread =
        std::min<Clock::duration>(warmup / 2, std::chrono::milliseconds(4) * players);
    const Clock::time_point windowStart = joinStart + warmup;
    const Clock::time_point windowEnd = windowStart + measure;

    const int swarmCount =
        std::max(1, std::min<int>(static_cast<int>(clientCpus_.size()),
                                  (players + kPlayersPerSwarmMin - 1) / kPlayersPerSwarmMin));
    std::vector<std::unique_ptr<ChildProcess>> swarms;
    std::vector<std::string> resultPaths;
    for (int k = 0; k < swarmCount; ++k) {
        const int share = players / swarmCount + (k < players % swarmCount ? 1 : 0);
        resultPaths.push_back(work + "/swarm-" + std::to_string(k) + ".txt");
        swarms.push_back(std::make_unique<ChildProcess>(childOptions(
            self_,
            {"swarm",
             "--port",
             std::to_string(port),
             "--players",
             std::to_string(share),
             "--scenario",
             scenarioName(scenario),
             "--seed",
             std::to_string(options_.seed * 1000 + static_cast<unsigned>(k)),
             "--join-start",
             nanos(joinStart),
             "--join-spread",
             std::to_string(
                 std::chrono::duration_cast<std::chrono::nanoseconds>(joinSpread).count()),
             "--window-start",
             nanos(windowStart),
             "--window-end",
             nanos(windowEnd),
             "--result",
             resultPaths.back(),
             "--spin",
             options_.spin ? "1" : "0"},
            clientCpus_[static_cast<std::size_t>(k) % clientCpus_.size()], options_.niceness)));
    }

    // The driver reads the CPU clocks at the window's edges.
    std::this_thread::sleep_until(windowStart);
    const Clock::time_point readStart = Clock::now();
    const double serverCpuStart = server.cpuSeconds();
    const double coreStart = Machine::cpuBusySeconds(serverCpu_);
    const double allStart = Machine::cpuBusySeconds(-1);
    std::vector<double> swarmCpuStart;
    for (const auto& swarm : swarms) {
        swarmCpuStart.push_back(Machine::processCpuSeconds(swarm->pid()));
    }
    const auto dropsStart = Machine::udpDropsByPort();
    std::unique_ptr<ChildProcess> recorder;
    if (!options_.perfPrefix.empty()) {
        const std::string file = options_.perfPrefix + "-" + scenarioName(scenario) + "-" +
                                 std::to_string(players) + ".data";
        recorder = std::make_unique<ChildProcess>(childOptions(
            "/usr/bin/perf",
            {"record", "-e", "cpu-clock", "-g", "-p", std::to_string(server.pid()), "-o", file}, -1,
            0));
    }

    std::this_thread::sleep_until(windowEnd);
    const Clock::time_point readEnd = Clock::now();
    const double serverCpuEnd = server.cpuSeconds();
    const double coreEnd = Machine::cpuBusySeconds(serverCpu_);
    const double allEnd = Machine::cpuBusySeconds(-1);
    double ours = serverCpuEnd - serverCpuStart;
    for (std::size_t k = 0; k < swarms.size(); ++k) {
        const double used = Machine::processCpuSeconds(swarms[k]->pid()) - swarmCpuStart[k];
        ours += used;
        row.generatorCpuMax = std::max(
            row.generatorCpuMax, used / std::chrono::duration<double>(readEnd - readStart).count());
    }
    const auto dropsEnd = Machine::udpDropsByPort();
    if (recorder) {
        // SIGINT asks perf to finish its file.
        recorder->stop(SIGINT, std::chrono::seconds(20));
    }
    row.serverAlive = server.running() && serverCpuStart >= 0.0;
    const double window = std::chrono::duration<double>(readEnd - readStart).count();
    row.serverCpu = row.serverAlive ? (serverCpuEnd - serverCpuStart) / window : 0.0;
    row.serverCoreBusy = coreStart >= 0.0 ? (coreEnd - coreStart) / window : 0.0;
    // Whatever else ran on the machine meanwhile (the kernel's packet work for our own
    // traffic outside our processes counts here too).
    row.otherCores = allStart >= 0.0 ? std::max(0.0, (allEnd - allStart - ours) / window) : 0.0;

    SwarmResult merged;
    for (std::size_t k = 0; k < swarms.size(); ++k) {
        swarms[k]->waitForExit(std::chrono::seconds(15));
        swarms[k]->stop(SIGTERM, std::chrono::seconds(1));  // one that hangs
        std::ifstream in(resultPaths[k]);
        SwarmResult result;
        if (result.read(in)) {
            merged.merge(result);
        } else {
            merged.connectFailures += static_cast<std::uint64_t>(
                players / swarmCount + (static_cast<int>(k) < players % swarmCount ? 1 : 0));
        }
    }
    server.stop(SIGTERM, std::chrono::seconds(2));

    row.takeFigures(merged, std::chrono::duration<double>(measure).count());
    const auto dropsIn = [&](std::uint16_t localPort) -> std::uint64_t {
        const auto end = dropsEnd.find(localPort);
        if (end == dropsEnd.end()) {
            return 0;
        }
        const auto start = dropsStart.find(localPort);
        return end->second - (start == dropsStart.end() ? 0 : start->second);
    };
    row.serverDrops = dropsIn(port);
    for (const std::uint16_t playerPort : merged.ports) {
        row.playerDrops += dropsIn(playerPort);
    }

    const SendFloor::Result floor = SendFloor::measure(
        merged.datagramSizes, players, serverCpu_, self_, work, options_.niceness, options_.spin);
    row.floorOk = floor.ok;
    if (floor.ok) {
        row.floorCpu = floor.cpuSeconds / window;
        row.ratio = row.floorCpu > 0.0 ? row.serverCpu / row.floorCpu : 0.0;
    }
    if (options_.keepLogs) {
        std::ofstream(work + "/server.log") << server.output();
        for (std::size_t k = 0; k < swarms.size(); ++k) {
            std::ofstream(work + "/swarm-" + std::to_string(k) + ".log") << swarms[k]->output();
        }
        if (recorder) {
            std::ofstream(work + "/perf.log") << recorder->output();
        }
        std::printf("  logs: %s\n", work.c_str());
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(work, ignored);
    }
    return row;
}
