#include "Common/Statistics.h"

#include "Common/Platform.h"

namespace {

bool validChannel(int channel) {
    return channel >= 0 && channel < 4;
}

}  // namespace

Statistics* Statistics::getInstance() {
    // Never deleted: threads may still count while the process ends.
    static Statistics* const instance = new Statistics();
    return instance;
}

Statistics::Statistics() {
    resetForTesting();
}

void Statistics::resetForTesting() {
    for (float& rate : rates) {
        rate = 0.0f;
    }
    rowCount = 0;
    for (int channel = 0; channel < 4; ++channel) {
        packets[channel].store(0, std::memory_order_relaxed);
        messages[channel].store(0, std::memory_order_relaxed);
        bytes[channel].store(0, std::memory_order_relaxed);
    }
    lastTick = getTickCount();
    for (std::uint64_t& snapshot : snapshots) {
        snapshot = 0;
    }
    setFileName("log.csv");
}

void Statistics::setFileName(const std::string& name) {
    fileName = name;
}

void Statistics::addPackets(std::uint64_t amount, int channel) {
    if (validChannel(channel)) {
        packets[channel].fetch_add(amount, std::memory_order_relaxed);
    }
}

void Statistics::addMessages(std::uint64_t amount, int channel) {
    if (validChannel(channel)) {
        messages[channel].fetch_add(amount, std::memory_order_relaxed);
    }
}

void Statistics::addBytes(std::uint64_t amount, int channel) {
    if (validChannel(channel)) {
        bytes[channel].fetch_add(amount, std::memory_order_relaxed);
    }
}

std::uint64_t Statistics::getPackets(int channel) const {
    return validChannel(channel) ? packets[channel].load(std::memory_order_relaxed) : 0;
}

std::uint64_t Statistics::getMessages(int channel) const {
    return validChannel(channel) ? messages[channel].load(std::memory_order_relaxed) : 0;
}

std::uint64_t Statistics::getBytes(int channel) const {
    return validChannel(channel) ? bytes[channel].load(std::memory_order_relaxed) : 0;
}
