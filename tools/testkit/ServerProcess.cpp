#include "tools/testkit/ServerProcess.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

std::int64_t monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleepForMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {

// Binds a socket of the given type to port on all addresses; returns the bound port or 0.
std::uint16_t bindLoopback(int type, std::uint16_t port, int* fdOut) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return 0;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *fdOut = fd;
    return ntohs(address.sin_port);
}

}  // namespace

std::uint16_t freeGamePort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int tcpFd = -1;
        const std::uint16_t port = bindLoopback(SOCK_STREAM, 0, &tcpFd);
        if (port == 0) {
            continue;
        }
        int udpFd = -1;
        const bool udpFree = bindLoopback(SOCK_DGRAM, port, &udpFd) == port;
        close(tcpFd);
        if (udpFd >= 0) {
            close(udpFd);
        }
        if (udpFree) {
            return port;
        }
    }
    return 0;
}

std::unique_ptr<ChildProcess> startServerOnFreePort(ChildProcess::Options options,
                                                    std::uint16_t& port,
                                                    std::chrono::milliseconds timeout,
                                                    std::string* error) {
    std::string reason = "no port could be bound";
    const auto outcome = [](const ChildProcess& server) {
        for (const std::string& line : server.lines()) {
            if (line.find("Listening on udp:") != std::string::npos) {
                return 1;
            }
            if (line.find("Could not start PacketHandler") != std::string::npos) {
                return -1;
            }
        }
        return 0;
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
        port = freeGamePort();
        if (port == 0) {
            reason = "no free port";
            break;
        }
        ChildProcess::Options launch = options;
        launch.args = {"--port", std::to_string(port)};
        launch.args.insert(launch.args.end(), options.args.begin(), options.args.end());
        auto server = std::make_unique<ChildProcess>(launch);
        if (!server->started()) {
            reason = "cannot start " + options.program;
            break;
        }
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (outcome(*server) == 0 && server->running() &&
               std::chrono::steady_clock::now() < end) {
            server->waitForLineCount(server->lines().size() + 1, std::chrono::milliseconds(50));
        }
        const int result = outcome(*server);
        if (result > 0) {
            return server;
        }
        server->stop(SIGKILL);
        if (result == 0) {
            reason = "the server did not start; its output:\n" + server->output() +
                     server->errorOutput();
            break;
        }
        // Another process took the port between our probe and the server's bind.
    }
    if (error != nullptr) {
        *error = reason;
    }
    return nullptr;
}

ServerProcess::ServerProcess(Options options) : options_(std::move(options)) {}

ServerProcess::~ServerProcess() {
    stop();
}

bool ServerProcess::start() {
    ChildProcess::Options options;
    options.program = options_.binary;
    options.args = options_.extraArgs;
    options.env = options_.extraEnv;
    options.maxOpenFiles = options_.openFilesLimit;
    options.pipeInput = true;
    options.mergeErrorIntoOutput = true;
    process_ = startServerOnFreePort(options, port_,
                                     std::chrono::milliseconds(options_.startTimeoutMs), &error_);
    return process_ != nullptr;
}

pid_t ServerProcess::pid() const {
    return process_ && !process_->reaped() ? process_->pid() : -1;
}

bool ServerProcess::running() {
    return process_ && process_->running();
}

int ServerProcess::exitStatus() {
    return process_ ? process_->waitForExit(std::chrono::milliseconds(0)).value_or(-1) : -1;
}

bool ServerProcess::waitExit(int timeoutMs) {
    return !process_ || process_->waitForExit(std::chrono::milliseconds(timeoutMs)).has_value();
}

int ServerProcess::stop(int signal, int timeoutMs) {
    return process_ ? process_->stop(signal, std::chrono::milliseconds(timeoutMs)).value_or(-1)
                    : -1;
}

void ServerProcess::sendConsoleLine(const std::string& line) {
    if (process_ && !process_->reaped()) {
        process_->writeInput(line + "\n");
    }
}

std::string ServerProcess::log() const {
    return process_ ? process_->output() : std::string();
}

int ServerProcess::countInLog(const std::string& text) const {
    std::istringstream in(log());
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        if (line.find(text) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

int ServerProcess::openDescriptors() const {
    if (pid() <= 0) {
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
    std::ifstream in("/proc/" + std::to_string(pid()) + "/stat");
    std::string text;
    std::getline(in, text);
    // The command name may hold spaces; the fields after it are plain numbers.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // State is field 3 of the line; utime and stime are 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) {
            utime = std::stoull(field);
        } else if (index == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::int64_t ServerProcess::residentBytes() const {
    std::ifstream in("/proc/" + std::to_string(pid()) + "/statm");
    long long size = 0, resident = 0;
    if (!(in >> size >> resident)) {
        return -1;
    }
    return resident * sysconf(_SC_PAGESIZE);
}
