#include "Server/CpuSampler.h"

#include <limits>

#include "Common/Platform.h"

CpuSampler* CpuSampler::getInstance() {
    static CpuSampler* instance = new CpuSampler();
    return instance;
}

std::int16_t cpuPercent(CpuSampler& sampler) {
    CpuTimes now{};
    std::uint64_t idle = 0;
    if (!platform::systemTimes(idle, now.systemKernel, now.systemUser)) {
        return sampler.lastPercent;
    }
    if (!platform::processTimes(now.processKernel, now.processUser)) {
        return sampler.lastPercent;
    }
    return cpuPercent(sampler, now, platform::processorCount());
}

std::int16_t cpuPercent(CpuSampler& sampler, const CpuTimes& now, unsigned processors) {
    const std::uint64_t systemDelta = (now.systemKernel - sampler.previousSystemKernel) +
                                      (now.systemUser - sampler.previousSystemUser);
    const std::uint64_t oldProcessUser = sampler.previousProcessUser;
    const std::uint64_t oldProcessKernel = sampler.previousProcessKernel;
    sampler.previousSystemUser = now.systemUser;
    sampler.previousSystemKernel = now.systemKernel;
    sampler.previousProcessUser = now.processUser;
    sampler.previousProcessKernel = now.processKernel;
    if (systemDelta == 0) {
        return sampler.lastPercent;
    }
    const std::uint64_t processDelta =
        (now.processUser - oldProcessUser) + (now.processKernel - oldProcessKernel);
    double percent = static_cast<double>(processDelta) * 100.0 / static_cast<double>(systemDelta) *
                     static_cast<double>(processors);
    // 100 per processor can pass the 16-bit range on a machine with very many of them.
    const double limit = std::numeric_limits<std::int16_t>::max();
    if (percent > limit) {
        percent = limit;
    }
    sampler.lastPercent = static_cast<std::int16_t>(percent);
    return sampler.lastPercent;
}

std::uint64_t sampleWorkingSet(CpuSampler& sampler) {
    std::uint64_t bytes = 0;
    if (platform::workingSetBytes(bytes)) {
        sampler.lastWorkingSet = bytes;
    }
    return sampler.lastWorkingSet;
}
