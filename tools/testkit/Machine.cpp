#include "tools/testkit/Machine.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace Machine {

std::vector<int> allowedCpus() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set)) {
                cpus.push_back(cpu);
            }
        }
    }
    if (cpus.empty()) {
        cpus.push_back(0);
    }
    return cpus;
}

double processCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    // The command name may hold spaces; the fields are counted from the ')' that ends it.
    const std::size_t name = line.rfind(')');
    if (name == std::string::npos) {
        return -1.0;
    }
    std::istringstream fields(line.substr(name + 1));
    // utime and stime are fields 14 and 15 of the file, the 12th and 13th after the name.
    std::string skipped;
    for (int i = 0; i < 11; ++i) {
        fields >> skipped;
    }
    double user = 0, system = 0;
    if (!(fields >> user >> system)) {
        return -1.0;
    }
    return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double cpuBusySeconds(int cpu) {
    std::ifstream in("/proc/stat");
    const std::string name = cpu < 0 ? "cpu" : "cpu" + std::to_string(cpu);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string label;
        fields >> label;
        if (label != name) {
            continue;
        }
        double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
        if (!(fields >> user >> nice >> system >> idle >> iowait >> irq >> softirq)) {
            return -1.0;
        }
        return (user + nice + system + irq + softirq) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return -1.0;
}

std::map<std::uint16_t, std::uint64_t> udpDropsByPort() {
    std::map<std::uint16_t, std::uint64_t> drops;
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> columns;
        std::string column;
        while (fields >> column) {
            columns.push_back(column);
        }
        // "sl local_address ... drops": the address is ADDR:PORT in hex, drops is last.
        if (columns.size() < 13) {
            continue;
        }
        const std::size_t colon = columns[1].find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const auto port =
            static_cast<std::uint16_t>(std::stoul(columns[1].substr(colon + 1), nullptr, 16));
        drops[port] += std::stoull(columns.back());
    }
    return drops;
}

std::string selfPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        return std::string();
    }
    return std::string(path, static_cast<std::size_t>(length));
}

bool pinThisThread(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
}

}  // namespace Machine
