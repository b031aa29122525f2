#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Common/Controls.h"
#include "tools/testkit/IoThread.h"
#include "tools/testkit/MonotonicClock.h"
#include "tools/testkit/RawClient.h"
#include "tools/testkit/ScriptedClient.h"
#include "tools/testkit/ServerProcess.h"

// The send rule sends every player's state at least once a second (the first tick after 1 s
// without a send, so every 31 ticks at 30 Hz: 1.03 s). A served player therefore never waits
// much longer than that for an update of its own ship. The bound allows one missed send, for
// scheduling on a test machine busy with other tests; a tick held up for longer fails it.
constexpr double kMaxOwnUpdateGapSeconds = 2.1;

// In a sanitizer build of the server: a report it printed (thread reports do not stop it).
// UBSan's check of a virtual call needs a free descriptor (it tests memory through a pipe);
// at the descriptor limit it reports a correct call as a bad one and stops the program.
inline bool vptrCheckStarved(const std::string& log) {
    return log.find("object has invalid vptr") != std::string::npos &&
           log.find("<memory cannot be printed>") != std::string::npos;
}

inline bool hasSanitizerReport(const std::string& log) {
    for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                               "WARNING: ThreadSanitizer", "runtime error:"}) {
        if (log.find(report) != std::string::npos) {
            return true;
        }
    }
    return false;
}

using scripted::ScriptedClient;
using scripted::View;
using namespace std::chrono_literals;

// A real server with one well-behaved player that keeps playing; the tests add a hostile
// client and check that the player keeps being served.
class ServedPlayerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ChildProcess::Options options;
        options.program = MORVIK_SERVER_BINARY;
        options.args = serverArgs();
        options.maxOpenFiles = openFilesLimit();
        // In a sanitizer build: a small quarantine, so that memory figures mean something.
        options.env = {"ASAN_OPTIONS=quarantine_size_mb=8"};
        options.mergeErrorIntoOutput = true;
        server = std::make_unique<ServerProcess>(options);
        ASSERT_NE(server->port(), 0) << server->error();
        player = joinProbe();
        ASSERT_TRUE(player);
    }

    void TearDown() override {
        if (player) {
            player->close();
        }
        for (auto& probe : extraProbes) {
            probe->close();
        }
        if (server && vptrCheckStarved(server->output())) {
            server->stop(SIGKILL);
        } else if (server) {
            // A fault report, if any, is the most useful thing to show on failure.
            EXPECT_TRUE(server->running()) << server->output();
            server->stop(SIGKILL);
            EXPECT_FALSE(hasSanitizerReport(server->output())) << server->output();
        }
    }

    virtual std::vector<std::string> serverArgs() const { return {}; }
    virtual std::uint64_t openFilesLimit() const { return 0; }

    // A new well-behaved player, joined, steering and receiving its own updates; null on
    // failure (with the test failed).
    ScriptedClient::Ptr joinProbe(bool fire = false) {
        auto probe = ScriptedClient::create(io.service(), {false});
        if (!probe->join("127.0.0.1", server->port(), 5s)) {
            ADD_FAILURE() << "probe could not join\n" << server->output();
            return nullptr;
        }
        probe->steer({Quaternion(), controls::kForward | (fire ? controls::kFire : 0u), 0.6});
        // UDP reaches the player only after the server has seen its first ClientUpdate.
        if (!waitUntil([&] { return probe->view().ownUpdates > 0; }, 5s)) {
            ADD_FAILURE() << "probe got no ObjectUpdate of its ship\n" << server->output();
            return nullptr;
        }
        return probe;
    }

    // Plays on for seconds, then checks that the player was served all along since its
    // markServed().
    void expectServed(double seconds = 0) {
        if (seconds > 0) {
            sleepForMs(static_cast<int>(seconds * 1000));
        }
        EXPECT_FALSE(player->tcpClosed());
        EXPECT_EQ(player->view().badFrames, 0u);
        EXPECT_LE(player->longestOwnWait(), kMaxOwnUpdateGapSeconds)
            << "the player waited too long for updates of its ship";
    }

    // Waits until the player has seen the departure of the player with this id (announced
    // over TCP).
    bool playerSeesDeparture(std::uint64_t id, std::chrono::milliseconds timeout = 5s) {
        return waitUntil(
            [&] {
                const View view = player->view();
                auto found = view.objects.find(id);
                return found != view.objects.end() && found->second.destroyed &&
                       found->second.destroyedOverTcp;
            },
            timeout);
    }

    bool playerSeesArrival(std::uint64_t id, std::chrono::milliseconds timeout = 5s) {
        return waitUntil(
            [&] {
                const View view = player->view();
                auto found = view.objects.find(id);
                return found != view.objects.end() && found->second.announced;
            },
            timeout);
    }

    // Hostile client that has joined and read its Welcome.
    std::unique_ptr<RawClient> joinRaw(int receiveBuffer = 0) {
        auto client = std::make_unique<RawClient>();
        if (!client->connectTo(server->port(), receiveBuffer) || !client->readWelcome(5000)) {
            ADD_FAILURE() << "raw client could not join\n" << server->output();
            return nullptr;
        }
        return client;
    }

    IoThread io;  // declared first: outlives the players
    std::unique_ptr<ServerProcess> server;
    ScriptedClient::Ptr player;
    std::vector<ScriptedClient::Ptr> extraProbes;
};
