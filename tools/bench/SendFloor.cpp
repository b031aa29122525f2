#include "tools/bench/SendFloor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>
#include <thread>
#include <vector>

#include "tools/testkit/ChildProcess.h"
#include "tools/testkit/Machine.h"

namespace {

int openReceiver(std::uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    const int size = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Receives like a swarm of players: every socket in one epoll set (edge-triggered, as the
// players' event loop files them), read until empty when it reports data. The kernel's work
// for a datagram depends on how its receiver waits, so the floor's receivers wait alike.
void drain(const std::vector<int>& fds, const std::atomic<bool>& stop, bool spin) {
    const int set = epoll_create1(EPOLL_CLOEXEC);
    if (set < 0) {
        return;
    }
    for (const int fd : fds) {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLERR | EPOLLET;
        event.data.fd = fd;
        epoll_ctl(set, EPOLL_CTL_ADD, fd, &event);
    }
    std::vector<epoll_event> ready(128);
    char buffer[2048];
    while (!stop.load(std::memory_order_relaxed)) {
        const int count =
            epoll_wait(set, ready.data(), static_cast<int>(ready.size()), spin ? 0 : 20);
        for (int i = 0; i < count; ++i) {
            while (recv(ready[i].data.fd, buffer, sizeof(buffer), MSG_DONTWAIT) >= 0) {
            }
        }
    }
    close(set);
}

}  // namespace

SendFloor::Result SendFloor::measure(const std::map<std::uint32_t, std::uint64_t>& sizes,
                                     int destinations, int senderCpu, const std::string& program,
                                     const std::string& workDir, int niceness, bool spin) {
    Result result;
    for (const auto& entry : sizes) {
        result.datagrams += entry.second;
    }
    if (result.datagrams == 0 || destinations <= 0) {
        return result;
    }
    const double scale = static_cast<double>(std::clamp(result.datagrams, kMinSample, kMaxSample)) /
                         static_cast<double>(result.datagrams);

    std::vector<int> fds;
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < destinations; ++i) {
        std::uint16_t port = 0;
        const int fd = openReceiver(port);
        if (fd < 0) {
            break;
        }
        fds.push_back(fd);
        ports.push_back(port);
    }

    const std::string planPath = workDir + "/floor-plan.txt";
    const std::string resultPath = workDir + "/floor-result.txt";
    {
        std::ofstream plan(planPath);
        plan << ports.size();
        for (const std::uint16_t port : ports) {
            plan << ' ' << port;
        }
        plan << '\n';
        for (const auto& [size, count] : sizes) {
            const auto scaled = static_cast<std::uint64_t>(std::llround(count * scale));
            plan << size << ' ' << std::max<std::uint64_t>(scaled, 1) << '\n';
        }
    }

    // One drain thread per CPU other than the sender's, each with its share of the sockets.
    std::vector<int> cpus;
    for (const int cpu : Machine::allowedCpus()) {
        if (cpu != senderCpu) {
            cpus.push_back(cpu);
        }
    }
    if (cpus.empty()) {
        cpus.push_back(-1);
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> drains;
    const std::size_t threads = std::min(cpus.size(), fds.size());
    for (std::size_t t = 0; t < threads; ++t) {
        std::vector<int> share;
        for (std::size_t i = t; i < fds.size(); i += threads) {
            share.push_back(fds[i]);
        }
        const int cpu = cpus[t];
        drains.emplace_back([share, cpu, spin, &stop]() {
            if (cpu >= 0) {
                Machine::pinThisThread(cpu);
            }
            drain(share, stop, spin);
        });
    }

    ChildProcess::Options senderOptions;
    senderOptions.program = program;
    senderOptions.args = {"floor-send", planPath, resultPath};
    senderOptions.cpu = senderCpu;
    senderOptions.niceness = niceness;
    ChildProcess sender(senderOptions);
    const bool finished = sender.waitForExit(std::chrono::seconds(120)) == 0;
    sender.stop(SIGTERM, std::chrono::seconds(1));  // one that hangs
    stop = true;
    for (std::thread& thread : drains) {
        thread.join();
    }
    for (const int fd : fds) {
        close(fd);
    }

    std::ifstream in(resultPath);
    double cpu = 0.0;
    if (finished && (in >> result.sent >> cpu) && result.sent > 0) {
        result.ok = true;
        result.cpuSeconds =
            cpu * static_cast<double>(result.datagrams) / static_cast<double>(result.sent);
    }
    return result;
}

int SendFloor::sendFromPlan(const std::string& planPath, const std::string& resultPath) {
    std::ifstream plan(planPath);
    std::size_t portCount = 0;
    if (!(plan >> portCount) || portCount == 0) {
        return 1;
    }
    std::vector<sockaddr_in> targets(portCount);
    for (sockaddr_in& target : targets) {
        unsigned port = 0;
        plan >> port;
        target = sockaddr_in{};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        target.sin_port = htons(static_cast<std::uint16_t>(port));
    }
    std::vector<std::pair<std::uint32_t, std::uint64_t>> sizes;
    std::uint32_t size = 0;
    std::uint64_t count = 0;
    while (plan >> size >> count) {
        sizes.emplace_back(std::min<std::uint32_t>(size, 65507), count);
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return 1;
    }
    std::vector<char> payload(65536, 0);

    const double before = Machine::processCpuSeconds(getpid());
    std::uint64_t sent = 0;
    std::size_t next = 0;
    // Like the server: each datagram goes to the players in turn.
    for (const auto& [bytes, times] : sizes) {
        for (std::uint64_t i = 0; i < times; ++i) {
            const sockaddr_in& target = targets[next];
            next = next + 1 == targets.size() ? 0 : next + 1;
            if (sendto(fd, payload.data(), bytes, 0, reinterpret_cast<const sockaddr*>(&target),
                       sizeof(target)) >= 0) {
                ++sent;
            }
        }
    }
    const double after = Machine::processCpuSeconds(getpid());
    close(fd);
    std::ofstream out(resultPath);
    out << sent << ' ' << (after - before) << '\n';
    return out ? 0 : 1;
}
