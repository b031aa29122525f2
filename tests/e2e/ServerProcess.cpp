#include "tests/e2e/ServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace e2e {

namespace {

constexpr Milliseconds kStartLimit{10000};
constexpr Milliseconds kTermLimit{5000};

void makePipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
}

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

}  // namespace

ServerProcess::ServerProcess(const Options& options) {
    // A server that died must fail the test, not kill it when we write to its input.
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> command;
    if (options.maxOpenFiles > 0) {
        const std::string limit = std::to_string(options.maxOpenFiles);
        command = {"prlimit", "--nofile=" + limit + ":" + limit, "--"};
    }
    command.push_back(MORVIK_SERVER_BINARY);
    command.insert(command.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& part : command) {
        argv.push_back(part.data());
    }
    argv.push_back(nullptr);

    int in[2], out[2], err[2];
    makePipe(in);
    makePipe(out);
    makePipe(err);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const int result = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (result != 0) {
        ::close(in[1]);
        ::close(out[0]);
        ::close(err[0]);
        throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(result));
    }
    stdinFd_ = in[1];
    outReader_ = std::thread([this, fd = out[0]] { readLoop(fd, true); });
    errReader_ = std::thread([this, fd = err[0]] { readLoop(fd, false); });
    if (!options.stdinText.empty()) {
        writeInput(options.stdinText);
    }
}

ServerProcess::~ServerProcess() {
    stop();
    if (stdinFd_ >= 0) {
        ::close(stdinFd_);
    }
    outReader_.join();
    errReader_.join();
}

std::unique_ptr<ServerProcess> ServerProcess::startOnFreePort(std::vector<std::string> args,
                                                              int& port, Options base) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        port = freeGamePort();
        Options options = base;
        options.args = {"--port", std::to_string(port)};
        options.args.insert(options.args.end(), args.begin(), args.end());
        auto server = std::make_unique<ServerProcess>(options);
        const long started = server->waitForLineMatching(
            [](const std::string& line) {
                return line.rfind("Listening on udp:", 0) == 0 ||
                       line.rfind("Could not start PacketHandler", 0) == 0;
            },
            kStartLimit);
        if (started < 0) {
            return nullptr;
        }
        if (server->lines()[static_cast<std::size_t>(started)].rfind("Listening", 0) == 0) {
            return server;
        }
        // Another process took the port between our probe and the server's bind.
    }
    return nullptr;
}

void ServerProcess::readLoop(int fd, bool isStdout) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        (isStdout ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
        changed_.notify_all();
    }
    ::close(fd);
}

std::vector<std::string> ServerProcess::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return splitLines(out_);
}

std::string ServerProcess::output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

std::string ServerProcess::errorOutput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}

long ServerProcess::waitForLine(const std::string& text, Milliseconds timeout,
                                std::size_t from) const {
    return waitForLineMatching(
        [&text](const std::string& line) { return line.find(text) != std::string::npos; }, timeout,
        from);
}

long ServerProcess::waitForLineMatching(const std::function<bool(const std::string&)>& pred,
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

std::size_t ServerProcess::countLines(const std::string& text) const {
    std::size_t count = 0;
    for (const std::string& line : lines()) {
        count += line == text ? 1 : 0;
    }
    return count;
}

bool ServerProcess::waitForLineCount(std::size_t count, Milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return splitLines(out_).size() >= count; });
}

void ServerProcess::writeInput(const std::string& text) {
    std::size_t written = 0;
    while (stdinFd_ >= 0 && written < text.size()) {
        const ssize_t n = ::write(stdinFd_, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
}

void ServerProcess::closeInput() {
    if (stdinFd_ >= 0) {
        ::close(stdinFd_);
        stdinFd_ = -1;
    }
}

std::optional<int> ServerProcess::waitForExit(Milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reaped_) {
        const pid_t done = waitpid(pid_, &status_, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            break;
        }
        if (done < 0 || std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(Milliseconds(10));
    }
    if (WIFEXITED(status_)) {
        return WEXITSTATUS(status_);
    }
    return std::nullopt;
}

bool ServerProcess::running() {
    if (reaped_) {
        return false;
    }
    waitForExit(Milliseconds(0));
    return !reaped_;
}

void ServerProcess::stop() {
    if (pid_ <= 0 || reaped_) {
        return;
    }
    ::kill(pid_, SIGTERM);
    waitForExit(kTermLimit);
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        waitForExit(kTermLimit);
    }
}

int freeGamePort() {
    using namespace boost::asio::ip;
    boost::asio::io_service io;
    for (int attempt = 0; attempt < 50; ++attempt) {
        tcp::acceptor probe(io, tcp::endpoint(tcp::v4(), 0));
        const unsigned short port = probe.local_endpoint().port();
        udp::socket udpProbe(io);
        boost::system::error_code error;
        udpProbe.open(udp::v4(), error);
        udpProbe.bind(udp::endpoint(udp::v4(), port), error);
        if (!error) {
            return port;
        }
    }
    throw std::runtime_error("no free port for TCP and UDP");
}

}  // namespace e2e
