#include "tools/testkit/ServerProcess.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

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

ServerProcess::ServerProcess(Options options) : options_(std::move(options)) {}

ServerProcess::~ServerProcess() {
    stop();
    if (!logPath_.empty()) {
        std::remove(logPath_.c_str());
    }
}

bool ServerProcess::start() {
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freeGamePort();
        if (port_ == 0) {
            error_ = "no free port";
            return false;
        }
        if (!launch()) {
            return false;
        }
        const std::int64_t end = monotonicMs() + options_.startTimeoutMs;
        while (monotonicMs() < end) {
            if (countInLog("Listening on udp:") > 0) {
                return true;
            }
            if (!running()) {
                break;
            }
            sleepForMs(10);
        }
        const bool portTaken = countInLog("Could not start PacketHandler") > 0;
        stop();
        if (!portTaken) {
            error_ = "the server did not start; its output:\n" + log();
            return false;
        }
    }
    error_ = "no port could be bound";
    return false;
}

bool ServerProcess::launch() {
    if (logPath_.empty()) {
        char path[] = "/tmp/morvik-server-XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0) {
            error_ = "cannot create a log file";
            return false;
        }
        close(fd);
        logPath_ = path;
    }
    int console[2];
    if (pipe2(console, O_CLOEXEC) != 0) {
        error_ = "cannot create the console pipe";
        return false;
    }
    const int logFd = open(logPath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);

    // Everything the child needs is built before fork: after it only exec-safe calls run.
    std::vector<std::string> args = {options_.binary, "--port", std::to_string(port_)};
    args.insert(args.end(), options_.extraArgs.begin(), options_.extraArgs.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> env(options_.extraEnv);
    for (char** entry = environ; *entry; ++entry) {
        env.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const rlimit limit{options_.openFilesLimit, options_.openFilesLimit};

    pid_ = fork();
    if (pid_ == 0) {
        dup2(console[0], 0);
        dup2(logFd, 1);
        dup2(logFd, 2);
        if (options_.openFilesLimit > 0) {
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(console[0]);
    close(logFd);
    consoleFd_ = console[1];
    status_ = -1;
    if (pid_ < 0) {
        error_ = std::string("fork failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool ServerProcess::running() {
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        if (consoleFd_ >= 0) {
            close(consoleFd_);
            consoleFd_ = -1;
        }
        return false;
    }
    return true;
}

int ServerProcess::exitStatus() {
    running();
    return pid_ > 0 ? -1 : status_;
}

bool ServerProcess::waitExit(int timeoutMs) {
    return waitUntil([this] { return !running(); }, timeoutMs);
}

int ServerProcess::stop(int signal, int timeoutMs) {
    if (running()) {
        kill(pid_, signal);
        if (!waitExit(timeoutMs)) {
            kill(pid_, SIGKILL);
            waitExit(5000);
        }
    }
    return status_;
}

void ServerProcess::sendConsoleLine(const std::string& line) {
    if (consoleFd_ >= 0) {
        const std::string text = line + "\n";
        (void)!write(consoleFd_, text.data(), text.size());
    }
}

std::string ServerProcess::log() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int ServerProcess::countInLog(const std::string& text) const {
    std::ifstream in(logPath_);
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
    if (pid_ <= 0) {
        return -1;
    }
    const std::string path = "/proc/" + std::to_string(pid_) + "/fd";
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
    std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
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
    std::ifstream in("/proc/" + std::to_string(pid_) + "/statm");
    long long size = 0, resident = 0;
    if (!(in >> size >> resident)) {
        return -1;
    }
    return resident * sysconf(_SC_PAGESIZE);
}
