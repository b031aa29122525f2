#include "tools/testkit/ChildProcess.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void closeBoth(int fds[2]) {
    close(fds[0]);
    close(fds[1]);
}

}  // namespace

ChildProcess::ChildProcess(const Options& options) {
    int outPipe[2];
    int errPipe[2] = {-1, -1};
    int inPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        return;
    }
    if (!options.mergeErrorIntoOutput && pipe2(errPipe, O_CLOEXEC) != 0) {
        closeBoth(outPipe);
        return;
    }
    if (options.pipeInput) {
        if (pipe2(inPipe, O_CLOEXEC) != 0) {
            closeBoth(outPipe);
            if (errPipe[0] >= 0) {
                closeBoth(errPipe);
            }
            return;
        }
        // A child that died must fail the test, not kill it when we write to its input.
        ::signal(SIGPIPE, SIG_IGN);
    }

    // Everything the child needs is built before fork: after it only exec-safe calls run.
    const std::string program = findProgram(options.program);
    std::vector<std::string> argStrings;
    argStrings.push_back(program.empty() ? options.program : program);
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
        const bool overridden = std::any_of(
            options.env.begin(), options.env.end(),
            [&](const std::string& added) { return added.substr(0, added.find('=')) == name; });
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
    const rlimit limit{options.maxOpenFiles, options.maxOpenFiles};
    const int errWrite = options.mergeErrorIntoOutput ? outPipe[1] : errPipe[1];
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (options.cpu >= 0) {
        CPU_SET(options.cpu, &cpus);
    }
    const std::string nice = std::to_string(options.niceness);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errWrite, STDERR_FILENO);
        if (inPipe[0] >= 0) {
            dup2(inPipe[0], STDIN_FILENO);
        } else {
            const int devNull = open("/dev/null", O_RDONLY);
            if (devNull >= 0) {
                dup2(devNull, STDIN_FILENO);
            }
        }
        if (!dir.empty() && chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        if (options.maxOpenFiles > 0 && setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            _exit(126);
        }
        if (options.cpu >= 0 && sched_setaffinity(0, sizeof cpus, &cpus) != 0) {
            _exit(126);
        }
        if (options.niceness != 0) {
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
            setpriority(PRIO_PROCESS, 0, options.niceness);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    if (errPipe[1] >= 0) {
        close(errPipe[1]);
    }
    if (inPipe[0] >= 0) {
        close(inPipe[0]);
    }
    if (pid_ < 0) {
        close(outPipe[0]);
        if (errPipe[0] >= 0) {
            close(errPipe[0]);
        }
        if (inPipe[1] >= 0) {
            close(inPipe[1]);
        }
        return;
    }
    inputFd_ = inPipe[1];
    openStreams_ = errPipe[0] >= 0 ? 2 : 1;
    outReader_ = std::thread(&ChildProcess::readLoop, this, outPipe[0], &out_);
    if (errPipe[0] >= 0) {
        errReader_ = std::thread(&ChildProcess::readLoop, this, errPipe[0], &err_);
    }
    if (!options.initialInput.empty()) {
        writeInput(options.initialInput);
    }
}

ChildProcess::~ChildProcess() {
    stop();
    closeInput();
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

std::vector<std::string> ChildProcess::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return splitLines(out_);
}

bool ChildProcess::waitForOutput(const std::string& text, Milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return out_.find(text) != std::string::npos; });
}

long ChildProcess::waitForLine(const std::string& text, Milliseconds timeout,
                               std::size_t from) const {
    return waitForLineMatching(
        [&text](const std::string& line) { return line.find(text) != std::string::npos; }, timeout,
        from);
}

long ChildProcess::waitForLineMatching(const std::function<bool(const std::string&)>& pred,
                                       Milliseconds timeout, std::size_t from) const {
    long found = -1;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] {
        const std::vector<std::string> all = splitLines(out_);
        for (std::size_t i = from; i < all.size(); ++i) {
            if (pred(all[i])) {
                found = static_cast<long>(i);
                return true;
            }
        }
        return false;
    });
    return found;
}

std::size_t ChildProcess::countLines(const std::string& text) const {
    const std::vector<std::string> all = lines();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), text));
}

void ChildProcess::writeInput(const std::string& text) {
    std::size_t written = 0;
    while (inputFd_ >= 0 && written < text.size()) {
        const ssize_t n = write(inputFd_, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
}

void ChildProcess::closeInput() {
    if (inputFd_ >= 0) {
        close(inputFd_);
        inputFd_ = -1;
    }
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
        if (r < 0 || std::chrono::steady_clock::now() >= deadline) {
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

std::optional<int> ChildProcess::stop(int number, Milliseconds grace) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    if (!reaped_) {
        kill(pid_, number);
        if (!waitForExit(grace).has_value()) {
            kill(pid_, SIGKILL);
        }
    }
    return waitForExit(Milliseconds(5000));
}

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
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
