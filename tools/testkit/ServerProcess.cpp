#include "tools/testkit/ServerProcess.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "tools/testkit/Machine.h"

namespace {

ChildProcess::Options onPortZero(ChildProcess::Options options) {
    options.args.insert(options.args.begin(), {"--port", "0"});
    options.pipeInput = true;
    return options;
}

}  // namespace

std::uint16_t listeningPort(const std::string& output) {
    const std::size_t line = output.find("Listening on udp:");
    int udp = 0;
    int tcp = 0;
    if (line == std::string::npos ||
        std::sscanf(output.c_str() + line, "Listening on udp:%d tcp:%d", &udp, &tcp) != 2 ||
        udp != tcp || udp <= 0 || udp > 65535) {
        return 0;
    }
    return static_cast<std::uint16_t>(udp);
}

ServerProcess::ServerProcess(Options options, Milliseconds timeout)
    : ChildProcess(onPortZero(std::move(options))) {
    if (!started()) {
        error_ = "cannot start the server program";
        return;
    }
    waitForLineMatching(
        [](const std::string& line) {
            return line.find("Listening on udp:") != std::string::npos ||
                   line.find("Could not start") != std::string::npos;
        },
        timeout);
    port_ = listeningPort(output());
    if (port_ == 0) {
        error_ = "the server did not start; its output:\n" + output() + errorOutput();
    }
}

int ServerProcess::openDescriptors() const {
    if (reaped()) {
        return -1;
    }
    const std::string path = "/proc/" + std::to_string(pid()) + "/fd";
    DIR* dir = opendir(path.c_str());
    if (!dir) {
        return -1;
    }
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(dir);
    return count;
}

double ServerProcess::cpuSeconds() const {
    return reaped() ? -1 : Machine::processCpuSeconds(pid());
}

std::int64_t ServerProcess::residentBytes() const {
    std::ifstream in("/proc/" + std::to_string(pid()) + "/statm");
    long long size = 0, resident = 0;
    if (reaped() || !(in >> size >> resident)) {
        return -1;
    }
    return resident * sysconf(_SC_PAGESIZE);
}
