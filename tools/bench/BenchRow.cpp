#include "tools/bench/BenchRow.h"

#include "tools/bench/Percentiles.h"
#include "tools/bench/TickSeries.h"

namespace {
// The server ticks at 30 Hz.
constexpr double kTicksPerSecond = 30.0;
}  // namespace

void BenchRow::takeFigures(const SwarmResult& result, double seconds) {
    windowSeconds = seconds;
    joined = result.joined;
    udpActive = result.udpActive;
    disconnects = result.disconnects;
    connectFailures = result.connectFailures;
    badFrames = result.badFrames;
    sendErrors = result.sendErrors;

    const TickSeries series(result.stamps);
    const Percentiles periods(series.periods());
    ticks = series.tickStarts().size();
    tickCoverage = seconds > 0.0 ? static_cast<double>(ticks) / (seconds * kTicksPerSecond) : 0.0;
    tickP50 = periods.at(50);
    tickP99 = periods.at(99);
    tickMax = periods.max();

    const double perPlayer = players > 0 && seconds > 0.0 ? 1.0 / (players * seconds) : 0.0;
    udpDownBytes = static_cast<double>(result.udpDownBytes) * perPlayer;
    tcpDownBytes = static_cast<double>(result.tcpDownBytes) * perPlayer;
    udpUpBytes = static_cast<double>(result.udpUpBytes) * perPlayer;
    tcpUpBytes = static_cast<double>(result.tcpUpBytes) * perPlayer;
    datagramsDown = seconds > 0.0 ? static_cast<double>(result.udpDownDatagrams) / seconds : 0.0;
    datagramsUp = seconds > 0.0 ? static_cast<double>(result.udpUpDatagrams) / seconds : 0.0;

    const Percentiles latencies(result.fireLatenciesMs);
    shots = latencies.count();
    fireP50 = latencies.at(50);
    fireP99 = latencies.at(99);
}

std::vector<std::string> BenchRow::problems() const {
    std::vector<std::string> found;
    const auto n = static_cast<std::uint64_t>(players);
    if (!serverAlive) {
        found.push_back("the server was not running at the end of the window");
    }
    if (joined != n) {
        found.push_back("joined " + std::to_string(joined) + " of " + std::to_string(n));
    }
    if (udpActive != n) {
        found.push_back("datagrams reached " + std::to_string(udpActive) + " of " +
                        std::to_string(n) + " players");
    }
    if (connectFailures != 0 || disconnects != 0) {
        found.push_back(std::to_string(connectFailures) + " failed connects, " +
                        std::to_string(disconnects) + " dropped connections");
    }
    if (badFrames != 0) {
        found.push_back(std::to_string(badFrames) + " frames did not decode");
    }
    if (ticks < 3) {
        found.push_back("only " + std::to_string(ticks) + " ticks observed");
    }
    if (udpDownBytes <= 0.0 || udpUpBytes <= 0.0) {
        found.push_back("no UDP traffic in one direction");
    }
    if (scenario == ScenarioKind::Dogfight) {
        if (tcpDownBytes <= 0.0) {
            found.push_back("no TCP traffic although players fire");
        }
        if (shots == 0) {
            found.push_back("no own shot was matched to its ClientUpdate");
        }
    }
    if (!floorOk) {
        found.push_back("the send floor could not be measured");
    }
    return found;
}
