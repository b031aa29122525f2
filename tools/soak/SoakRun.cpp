// soak: runs the server (normally its sanitizer build) for a few minutes with players joining,
// playing and leaving at random, plus a few misbehaving clients, and checks that it serves
// throughout, holds no more descriptors or memory at the end than after warming up, and ends
// by its time limit cleanly (no sanitizer report, leak check included).
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <boost/program_options.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Common/Controls.h"
#include "tools/testkit/IoThread.h"
#include "tools/testkit/Loopback.h"
#include "tools/testkit/MonotonicClock.h"
#include "tools/testkit/RawClient.h"
#include "tools/testkit/ScriptedClient.h"
#include "tools/testkit/ServerProcess.h"

namespace po = boost::program_options;
using scripted::ScriptedClient;

namespace {

// As in the hostile tests: the send rule updates every ship at least every 1.03 s; the bound
// allows one missed send for a busy machine.
constexpr double kMaxOwnUpdateGapSeconds = 2.1;

struct Settings {
    std::string server;
    std::string preload;
    int minutes = 3;
    std::uint32_t seed = 1;
    int maxPlayers = 10;
    double memoryBoundMb = 32;
};

class Soak {
public:
    explicit Soak(const Settings& settings) : settings_(settings), random_(settings.seed) {}

    int run();

private:
    ScriptedClient::Ptr newPlayer(bool fire) {
        const std::uint32_t thrust = random_() & controls::kAllThrust;
        const double turnRate = (random_() % 200) / 100.0;
        // It keeps only a summary of what it receives, however long it plays.
        auto player = ScriptedClient::create(io_.service(), {false});
        if (!player->connect("127.0.0.1", server_->port(), std::chrono::seconds(5))) {
            fail("a player could not connect");
            return nullptr;
        }
        player->steer({Quaternion(), thrust | (fire ? controls::kFire : 0u), turnRate});
        ++joins_;
        return player;
    }

    void fail(const std::string& why) {
        std::printf("soak: FAIL: %s\n", why.c_str());
        std::fflush(stdout);
        ++failures_;
    }

    void randomAction();
    void hostileBlip();
    void dropTransients();
    bool measure(int& descriptors, std::int64_t& resident);
    void checkSteadyServed();

    Settings settings_;
    std::mt19937 random_;
    std::unique_ptr<ServerProcess> server_;
    IoThread io_;  // outlives the players
    std::vector<ScriptedClient::Ptr> steady_;
    std::vector<ScriptedClient::Ptr> transient_;
    int failures_ = 0;
    int joins_ = 0;
    int leaves_ = 0;
    int blips_ = 0;
};

void Soak::hostileBlip() {
    ++blips_;
    switch (random_() % 4) {
        case 0: {  // garbage on TCP
            RawClient client;
            if (client.connectTo(server_->port()) && client.readWelcome(2000)) {
                std::string garbage(1 + random_() % 3000, '\0');
                for (char& byte : garbage) {
                    byte = static_cast<char>(random_());
                }
                client.sendAll(garbage, 1000);
            }
            break;
        }
        case 1: {  // half a frame, then a reset
            RawClient client;
            if (client.connectTo(server_->port())) {
                client.sendAll(rawFrame(40, 4, "\x0a\x05"), 1000);
                client.reset();
            }
            break;
        }
        case 2: {  // random datagrams
            const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const sockaddr_in to = loopbackAddress(server_->port());
            for (int i = 0; i < 50; ++i) {
                std::string bytes(random_() % 1200, '\0');
                for (char& byte : bytes) {
                    byte = static_cast<char>(random_());
                }
                sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                       sizeof to);
            }
            close(fd);
            break;
        }
        default: {  // connect and go at once
            RawClient client;
            client.connectTo(server_->port());
            break;
        }
    }
}

void Soak::randomAction() {
    const unsigned roll = random_() % 10;
    if (roll < 4 && transient_.size() < static_cast<std::size_t>(settings_.maxPlayers)) {
        if (auto player = newPlayer(random_() % 2 == 0)) {
            transient_.push_back(std::move(player));
        }
    } else if (roll < 7 && !transient_.empty()) {
        const std::size_t index = random_() % transient_.size();
        transient_[index]->close();
        transient_.erase(transient_.begin() + static_cast<std::ptrdiff_t>(index));
        ++leaves_;
    } else if (roll < 9 && !transient_.empty()) {
        ScriptedClient& player = *transient_[random_() % transient_.size()];
        const std::uint32_t held =
            (random_() & controls::kAllThrust) | (random_() % 2 ? controls::kFire : 0u);
        player.steer({Quaternion(), held, (random_() % 300) / 100.0 - 1.5});
    } else {
        hostileBlip();
    }
}

void Soak::dropTransients() {
    leaves_ += static_cast<int>(transient_.size());
    for (auto& player : transient_) {
        player->close();
    }
    transient_.clear();
}

bool Soak::measure(int& descriptors, std::int64_t& resident) {
    // Leaving players are removed within a tick or two; give the allocator a moment too.
    sleepForMs(3000);
    descriptors = server_->openDescriptors();
    resident = server_->residentBytes();
    return descriptors > 0 && resident > 0;
}

void Soak::checkSteadyServed() {
    for (auto& player : steady_) {
        const double longest = player->longestOwnWait();
        const bool closed = player->tcpClosed();
        if (closed || longest > kMaxOwnUpdateGapSeconds) {
            fail("a steady player was not served: longest wait " + std::to_string(longest) +
                 " s, connection " + (closed ? "closed" : "open"));
        }
    }
}

int Soak::run() {
    ChildProcess::Options options;
    options.program = settings_.server;
    options.args = {"--timelimit", std::to_string(settings_.minutes)};
    options.env = {
        "ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16:malloc_context_size=20:"
        "halt_on_error=1",
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"};
    if (!settings_.preload.empty()) {
        options.env.push_back("LD_PRELOAD=" + settings_.preload);
    }
    options.mergeErrorIntoOutput = true;
    server_ = std::make_unique<ServerProcess>(options, std::chrono::milliseconds(30000));
    if (server_->port() == 0) {
        fail(server_->error());
        return 1;
    }
    const std::int64_t startMs = monotonicMs();
    const std::int64_t endMs = startMs + settings_.minutes * 60000;
    auto elapsed = [&] { return (monotonicMs() - startMs) / 1000.0; };
    std::printf("soak: server on port %u for %d minute(s), seed %u\n", server_->port(),
                settings_.minutes, settings_.seed);
    std::fflush(stdout);

    for (int i = 0; i < 2; ++i) {
        steady_.push_back(newPlayer(true));
        if (!steady_.back() || !steady_.back()->waitForWelcome(std::chrono::seconds(10))) {
            fail("a steady player got no Welcome");
            return 1;
        }
    }
    sleepForMs(2000);
    for (auto& player : steady_) {
        player->markServed();
    }

    // Warm up (the sanitizer's allocator grows to its working size over the first minute or
    // two), then take the figures everything later is held to.
    const double warmUp = std::max(20.0, settings_.minutes * 60.0 / 3.0);
    while (elapsed() < warmUp) {
        randomAction();
        sleepForMs(50 + static_cast<int>(random_() % 300));
    }
    dropTransients();
    int descriptorsBefore = 0;
    std::int64_t residentBefore = 0;
    if (!measure(descriptorsBefore, residentBefore)) {
        fail("cannot read the server's figures");
    }

    while (monotonicMs() < endMs - 25000) {
        randomAction();
        sleepForMs(50 + static_cast<int>(random_() % 300));
        if (!server_->running()) {
            break;
        }
    }
    dropTransients();
    int descriptorsAfter = 0;
    std::int64_t residentAfter = 0;
    if (!measure(descriptorsAfter, residentAfter)) {
        fail("cannot read the server's figures");
    }
    checkSteadyServed();
    const double growthMb = (residentAfter - residentBefore) / 1048576.0;
    std::printf(
        "soak: %d joins, %d leaves, %d hostile clients; descriptors %d -> %d; "
        "resident %.1f -> %.1f MB\n",
        joins_, leaves_, blips_, descriptorsBefore, descriptorsAfter, residentBefore / 1048576.0,
        residentAfter / 1048576.0);
    if (descriptorsAfter != descriptorsBefore) {
        fail("descriptors grew from " + std::to_string(descriptorsBefore) + " to " +
             std::to_string(descriptorsAfter));
    }
    if (growthMb > settings_.memoryBoundMb) {
        fail("resident memory grew by " + std::to_string(growthMb) + " MB");
    }
    for (auto& player : steady_) {
        player->close();
    }
    steady_.clear();

    // The server ends by its time limit; the leak check runs on the way out.
    const std::optional<int> status =
        server_->waitForExit(std::chrono::milliseconds(endMs - monotonicMs() + 60000));
    if (!status) {
        fail("the server did not end at its time limit");
        server_->stop(SIGKILL);
    } else if (*status != 0) {
        fail("the server ended with status " + std::to_string(*status));
    }
    const std::string log = server_->output();
    for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                               "runtime error:", "WARNING: ThreadSanitizer"}) {
        if (log.find(report) != std::string::npos) {
            fail(std::string("the server's output holds a report: ") + report);
        }
    }
    if (failures_ > 0) {
        const std::size_t tail = log.size() > 20000 ? log.size() - 20000 : 0;
        std::printf("soak: the server's output (end):\n%s\n", log.substr(tail).c_str());
    }
    std::printf("soak: %s\n", failures_ == 0 ? "passed" : "FAILED");
    return failures_ == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    po::options_description options("Allowed options");
    options.add_options()("help", "produce help message")(
        "server", po::value<std::string>(&settings.server), "the server program")(
        "preload", po::value<std::string>(&settings.preload),
        "libraries to preload into the server (the leak check at exit)")(
        "minutes", po::value<int>(&settings.minutes)->default_value(3),
        "run time: the server's time limit")(
        "seed", po::value<std::uint32_t>(&settings.seed)->default_value(1), "random seed")(
        "max-players", po::value<int>(&settings.maxPlayers)->default_value(10),
        "most players joined at once, besides the two steady ones")(
        "memory-bound", po::value<double>(&settings.memoryBoundMb)->default_value(32),
        "MB the server's resident memory may grow between the two measurements");
    po::variables_map values;
    try {
        po::store(po::parse_command_line(argc, argv, options), values);
        po::notify(values);
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n" << options << "\n";
        return 1;
    }
    if (values.count("help") || settings.server.empty() || settings.minutes < 1) {
        std::cout << options << "\n";
        return 1;
    }
    return Soak(settings).run();
}
