#include "tools/testkit/ChildProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tools/testkit/Machine.h"

namespace {

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The benchmark's server has to be on its CPU and at its nice value from its first instruction.
TEST(ChildProcess, StartsOnItsCpuAtItsNiceValue) {
    ChildProcess::Options options;
    options.program = "sh";
    options.args = {"-c",
                    "nice; grep Cpus_allowed_list /proc/self/status; "
                    "cat /proc/self/autogroup 2>/dev/null; true"};
    options.cpu = Machine::allowedCpus().back();
    options.niceness = 19;  // the one value anyone may take
    ChildProcess child(options);

    ASSERT_EQ(child.waitForExit(ChildProcess::Milliseconds(10000)), 0) << child.errorOutput();
    const std::vector<std::string> lines = child.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "19");
    EXPECT_EQ(lines[1], "Cpus_allowed_list:\t" + std::to_string(options.cpu));
    // Under autogroup scheduling a nice value counts only within the session's group: the child
    // takes a group of its own, with the value, and leaves ours alone.
    const std::string ours = firstLine("/proc/self/autogroup");  // "/autogroup-N nice V"
    if (!ours.empty()) {
        ASSERT_EQ(lines.size(), 3u);
        const std::string group = lines[2].substr(0, lines[2].find(' '));
        EXPECT_NE(group, ours.substr(0, ours.find(' ')));
        EXPECT_EQ(lines[2], group + " nice 19");
    }
}

}  // namespace
