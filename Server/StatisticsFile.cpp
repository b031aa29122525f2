// The server's side of Statistics: per-second rates from the raw counters, and the
// statistics file.
//
// File layout (appended, one row per second):
//   !New measurement started:
//   time           ,tcp_sent pkg   ,...,MEMORY         ,
//   <15 wide>,<15 wide>,...,<15 wide>,
// A block header starts each run's first row.

#include <climits>
#include <cmath>
#include <cstdio>

#include "Common/ObjectTypes.h"
#include "Common/Platform.h"
#include "Common/SceneGraph.h"
#include "Common/Statistics.h"
#include "Server/CpuSampler.h"
#include "Server/StatisticsFile.h"

namespace {

constexpr const char* kColumnTitles[] = {
    "time           ", "tcp_sent pkg   ", "tcp_rcvd pkg   ", "udp_sent pkg   ", "udp_rcvd pkg   ",
    "tcp_sent bw    ", "tcp_rcvd bw    ", "udp_sent bw    ", "udp_rcvd bw    ", "tcp_sent msg   ",
    "tcp_rcvd msg   ", "udp_sent msg   ", "udp_rcvd msg   ", "players        ", "projectiles    ",
    "CPU            ", "MEMORY         ",
};

// Offsets of the three groups in rates and snapshots.
constexpr int kPacketRates = 0;
constexpr int kMessageRates = 4;
constexpr int kByteRates = 8;

// The file shows rates as whole numbers; truncation toward zero, kept inside int.
int truncateRate(float rate) {
    if (std::isnan(rate)) {
        return 0;
    }
    if (rate >= 2147483648.0f) {
        return INT_MAX;
    }
    if (rate <= -2147483648.0f) {
        return INT_MIN;
    }
    return static_cast<int>(rate);
}

int countObjects(std::int32_t objectType) {
    const SceneGraph::ObjectList* list = SceneGraph::getInstance()->getObjectsOfType(objectType);
    return list ? static_cast<int>(list->size()) : 0;
}

}  // namespace

void Statistics::updateRates() {
    updateRates(getTickCount());
}

void Statistics::updateRates(std::uint64_t nowMs) {
    // The tick count is a 32-bit counter: take the difference modulo 2^32, so that the
    // period across its wrap is measured like any other.
    const std::uint64_t elapsed = (nowMs - lastTick) & 0xFFFFFFFFull;
    if (elapsed <= 1000) {
        return;
    }
    const float factor = static_cast<float>(1000.0 / static_cast<double>(elapsed));
    for (int channel = 0; channel < 4; ++channel) {
        const std::uint64_t counters[3] = {packets[channel].load(std::memory_order_relaxed),
                                           messages[channel].load(std::memory_order_relaxed),
                                           bytes[channel].load(std::memory_order_relaxed)};
        const int groups[3] = {kPacketRates, kMessageRates, kByteRates};
        for (int group = 0; group < 3; ++group) {
            const int index = groups[group] + channel;
            const std::uint64_t difference = counters[group] - snapshots[index];
            rates[index] = static_cast<float>(difference) * factor;
            snapshots[index] = counters[group];
        }
    }
    lastTick = nowMs;
}

void Statistics::appendLogLine() {
    FILE* file = std::fopen(fileName.c_str(), "a+");
    if (!file) {
        return;
    }
    if (rowCount == 0) {
        std::fputs("!New measurement started:\n", file);
        std::fputs(kColumnTitles[0], file);
        for (std::size_t i = 1; i < sizeof kColumnTitles / sizeof kColumnTitles[0]; ++i) {
            std::fprintf(file, ",%s", kColumnTitles[i]);
        }
        std::fputs(",\n", file);
    }

    CpuSampler* sampler = CpuSampler::getInstance();
    std::fprintf(file, "%15llu", static_cast<unsigned long long>(getTickCount()));
    for (int group : {kPacketRates, kByteRates, kMessageRates}) {
        for (int channel = 0; channel < 4; ++channel) {
            std::fprintf(file, ",%15d", truncateRate(rates[group + channel]));
        }
    }
    std::fprintf(file, ",%15d", countObjects(kPlayerType));
    std::fprintf(file, ",%15d", countObjects(kProjectileType));
    std::fprintf(file, ",%15d", static_cast<int>(cpuPercent(*sampler)));
    std::fprintf(file, ",%15lu", static_cast<unsigned long>(sampleWorkingSet(*sampler)));
    std::fputs(",\n", file);
    std::fclose(file);
    ++rowCount;
}

void writeStatisticsRow() {
    Statistics::getInstance()->appendLogLine();
}
