#pragma once

#include <cstdint>

// CPU and memory figures of the statistics file, remembered between rows so that each row
// measures the time since the previous one. Main thread only.
struct CpuSampler {
    std::int16_t lastPercent = 0;
    std::uint64_t lastWorkingSet = 0;  // bytes
    // In 100 ns units; the system's kernel time includes its idle time.
    std::uint64_t previousSystemUser = 0;
    std::uint64_t previousSystemKernel = 0;
    std::uint64_t previousProcessUser = 0;
    std::uint64_t previousProcessKernel = 0;

    // Created on first use, never freed.
    static CpuSampler* getInstance();
};

// One reading of the CPU times, in 100 ns units.
struct CpuTimes {
    std::uint64_t systemKernel;  // idle included
    std::uint64_t systemUser;
    std::uint64_t processKernel;
    std::uint64_t processUser;
};

// The process's share of the CPU since the previous call, where 100 is one processor kept
// busy; reads the platform's figures. Repeats the last value when they cannot be read.
std::int16_t cpuPercent(CpuSampler& sampler);

// The computation behind cpuPercent, for a given reading.
std::int16_t cpuPercent(CpuSampler& sampler, const CpuTimes& now, unsigned processors);

// Refreshes lastWorkingSet from the platform when it can be read; returns it.
std::uint64_t sampleWorkingSet(CpuSampler& sampler);
