#include "tools/testkit/ProcessControl.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace ProcessControl {

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

pid_t spawn(const std::string& program, const std::vector<std::string>& args, int cpu, int stdinFd,
            const std::string& outputPath, int niceness) {
    // Everything the child needs is prepared before the fork: after it only async-signal-safe
    // calls are allowed.
    std::vector<std::string> argStore;
    argStore.push_back(program);
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStore) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    cpu_set_t set;
    CPU_ZERO(&set);
    if (cpu >= 0) {
        CPU_SET(cpu, &set);
    }
    const char* output = outputPath.empty() ? nullptr : outputPath.c_str();
    const std::string nice = std::to_string(niceness);

    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    if (cpu >= 0) {
        sched_setaffinity(0, sizeof(set), &set);
    }
    if (niceness != 0) {
        // With autogroup scheduling a nice value only counts within the session, so the child
        // gets a session of its own and gives that group the nice value too.
        setsid();
        const int group = open("/proc/self/autogroup", O_WRONLY);
        if (group >= 0) {
            if (write(group, nice.data(), nice.size()) < 0) {
                // Without autogroup scheduling the process's own value below is enough.
            }
            close(group);
        }
        setpriority(PRIO_PROCESS, 0, niceness);
    }
    const int in = stdinFd >= 0 ? stdinFd : open("/dev/null", O_RDONLY);
    if (in >= 0) {
        dup2(in, 0);
    }
    if (output != nullptr) {
        const int out = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
    }
    execv(argv[0], argv.data());
    _exit(127);
}

bool waitFor(pid_t pid, int timeoutMs, int& exitCode) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        }
        if (done < 0) {
            exitCode = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void interrupt(pid_t pid) {
    kill(pid, SIGINT);
}

void stop(pid_t pid, int graceMs) {
    int code = 0;
    kill(pid, SIGTERM);
    if (!waitFor(pid, graceMs, code)) {
        kill(pid, SIGKILL);
        waitFor(pid, 5000, code);
    }
}

namespace {

// The fields after the command name in /proc/<pid>/stat (the name may hold spaces).
bool statFields(pid_t pid, std::vector<std::string>& fields) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return false;
    }
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    fields.clear();
    while (rest >> field) {
        fields.push_back(field);
    }
    return true;
}

}  // namespace

bool isRunning(pid_t pid) {
    std::vector<std::string> fields;
    // fields[0] is the state (field 3 of the file).
    return statFields(pid, fields) && !fields.empty() && fields[0] != "Z" && fields[0] != "X";
}

double processCpuSeconds(pid_t pid) {
    std::vector<std::string> fields;
    // utime and stime are fields 14 and 15 of the file, 11 and 12 after the name.
    if (!statFields(pid, fields) || fields.size() < 13) {
        return -1.0;
    }
    const double ticks = std::stod(fields[11]) + std::stod(fields[12]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
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

bool openPipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    readEnd = fds[0];
    writeEnd = fds[1];
    return true;
}

void closeDescriptor(int fd) {
    if (fd >= 0) {
        close(fd);
    }
}

std::string makeTempDirectory() {
    char pattern[] = "/tmp/morvik-bench-XXXXXX";
    const char* path = mkdtemp(pattern);
    return path != nullptr ? std::string(path) : std::string();
}

void removeTempDirectory(const std::string& path) {
    if (path.empty()) {
        return;
    }
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                unlink((path + "/" + name).c_str());
            }
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

}  // namespace ProcessControl
