// The CPU share of the statistics file.

#include "Server/CpuSampler.h"

#include <gtest/gtest.h>

namespace {

TEST(CpuSamplerTest, OneOfFourProcessorsKeptBusyIsAHundred) {
    CpuSampler sampler;
    // Kernel time includes idle time, so kernel + user is the time of all four processors.
    cpuPercent(sampler, CpuTimes{1000, 1000, 0, 0}, 4);
    // 4000 units of all processors pass; the process runs 1000 of them (one processor).
    EXPECT_EQ(cpuPercent(sampler, CpuTimes{4000, 2000, 200, 800}, 4), 100);
    EXPECT_EQ(sampler.lastPercent, 100);
    EXPECT_EQ(sampler.previousProcessUser, 800u);
    EXPECT_EQ(sampler.previousSystemKernel, 4000u);
}

TEST(CpuSamplerTest, FirstCallMeasuresSinceTheStart) {
    CpuSampler sampler;
    EXPECT_EQ(cpuPercent(sampler, CpuTimes{6000, 4000, 100, 400}, 2), 10);
}

TEST(CpuSamplerTest, NoSystemTimePassedRepeatsTheLastValue) {
    CpuSampler sampler;
    cpuPercent(sampler, CpuTimes{6000, 4000, 100, 400}, 2);
    EXPECT_EQ(cpuPercent(sampler, CpuTimes{6000, 4000, 900, 900}, 2), 10);
    // The new times are kept all the same: the next delta starts from them.
    EXPECT_EQ(sampler.previousProcessUser, 900u);
    EXPECT_EQ(cpuPercent(sampler, CpuTimes{7000, 5000, 900, 1900}, 2), 100);
}

TEST(CpuSamplerTest, ShareIsTruncatedAndKeptWithinSixteenBits) {
    CpuSampler sampler;
    EXPECT_EQ(cpuPercent(sampler, CpuTimes{2000, 1000, 0, 299}, 1), 9);  // 9.97
    CpuSampler many;
    EXPECT_EQ(cpuPercent(many, CpuTimes{1, 0, 1, 0}, 1000), 32767);
}

TEST(CpuSamplerTest, RealFiguresAreReadable) {
    CpuSampler sampler;
    const int percent = cpuPercent(sampler);
    EXPECT_GE(percent, 0);
    EXPECT_GT(sampleWorkingSet(sampler), 0u);
}

}  // namespace
