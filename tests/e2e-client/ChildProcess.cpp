#include "tests/e2e-client/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace e2eclient {

ChildProcess::ChildProcess(const Options& options) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        return;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return;
    }
    // Everything the child needs is built before fork: after it only exec-safe calls.
    std::vector<std::string> argStrings;
    argStrings.push_back(options.program);
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& s : argStrings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (const std::string& added : options.env) {
            overridden = overridden || added.substr(0, added.find('=')) == name;
        }
        if (!overridden) {
            envStrings.push_back(entry);
        }
    }
    envStrings.insert(envStrings.end(), options.env.begin(), options.env.end());
    std::vector<char*> envp;
    for (std::string& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    const std::string dir = options.workingDirectory;

    pid_ = fork();
    if (pid_ == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) {
            dup2(devNull, STDIN_FILENO);
        }
        if (!dir.empty() && chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid_ < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return;
    }
    outReader_ = std::thread(&ChildProcess::readLoop, this, outPipe[0], &out_);
    errReader_ = std::thread(&ChildProcess::readLoop, this, errPipe[0], &err_);
}

ChildProcess::~ChildProcess() {
    stop();
    if (outReader_.joinable()) {
        outReader_.join();
    }
    if (errReader_.joinable()) {
        errReader_.join();
    }
}

void ChildProcess::readLoop(int fd, std::string* sink) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        sink->append(buffer, static_cast<std::size_t>(n));
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    --openStreams_;
    changed_.notify_all();
}

std::string ChildProcess::output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

std::string ChildProcess::errorOutput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}

bool ChildProcess::waitForOutput(const std::string& text, Milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return out_.find(text) != std::string::npos; });
}

std::optional<int> ChildProcess::waitForExit(Milliseconds timeout) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reaped_) {
        const pid_t r = waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(Milliseconds(10));
    }
    {
        // Whatever the process wrote before it ended is read in before its status is told.
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, Milliseconds(2000), [this] { return openStreams_ == 0; });
    }
    if (WIFEXITED(status_)) {
        return WEXITSTATUS(status_);
    }
    return 128 + WTERMSIG(status_);
}

bool ChildProcess::running() {
    return pid_ > 0 && !waitForExit(Milliseconds(0)).has_value();
}

void ChildProcess::signal(int number) {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, number);
    }
}

void ChildProcess::stop() {
    if (pid_ <= 0 || reaped_) {
        return;
    }
    kill(pid_, SIGTERM);
    if (!waitForExit(Milliseconds(3000)).has_value()) {
        kill(pid_, SIGKILL);
        waitForExit(Milliseconds(5000));
    }
}

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

}  // namespace e2eclient
