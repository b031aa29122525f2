// Players whose datagrams cross a bad link (loss, duplicates, reordering, delay) in both
// directions: the game goes on, and once the link is good again every player's view of every
// ship is the same.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Common/Controls.h"
#include "Common/Transform.h"
#include "tools/testkit/IoThread.h"
#include "tools/testkit/MonotonicClock.h"
#include "tools/testkit/ScriptedClient.h"
#include "tools/testkit/ServerProcess.h"
#include "tools/udp-impair/UdpImpairProxy.h"

namespace {

using scripted::Sample;
using scripted::ScriptedClient;
using scripted::View;

constexpr int kPlayers = 3;

// The newest state of object id that every player has, or none when they hold no common one.
// A state counts as common when each player has a sample with its timestamp, and all those
// samples agree bit for bit.
struct Agreement {
    bool common = false;
    bool identical = false;
    std::uint32_t timestamp = 0;
};

Agreement agreeOn(std::uint64_t id, const std::vector<View>& views) {
    Agreement result;
    std::uint32_t newest = 0;
    bool first = true;
    for (const View& view : views) {
        auto found = view.objects.find(id);
        if (found == view.objects.end() || found->second.recent.empty()) {
            return result;
        }
        const std::uint32_t latest = found->second.recent.back().timestamp;
        newest = first ? latest : std::min(newest, latest);
        first = false;
    }
    result.timestamp = newest;
    result.identical = true;
    const Sample* reference = nullptr;
    for (const View& view : views) {
        const Sample* match = nullptr;
        for (const Sample& sample : view.objects.at(id).recent) {
            if (sample.timestamp == newest) {
                match = &sample;
            }
        }
        if (!match) {
            return result;
        }
        if (reference && !(*reference == *match)) {
            result.identical = false;
        }
        reference = match;
    }
    result.common = true;
    return result;
}

// Where a client that received these samples, in this order and at these times, shows the
// object at time `at`: the client's own prediction (Transform, client build), stepped at the
// client's 60 frames per second.
Vec3 shownAt(const std::vector<Sample>& samples, double at) {
    Transform object(std::uint64_t{1});
    constexpr double kFrame = 1.0 / 60.0;
    double now = samples.front().arrival;
    bool first = true;
    for (const Sample& sample : samples) {
        while (now + kFrame <= sample.arrival) {
            object.update(static_cast<float>(kFrame));
            now += kFrame;
        }
        object.applyNetworkState(sample.timestamp,
                                 Vec3(sample.position[0], sample.position[1], sample.position[2]),
                                 Quaternion(sample.orientation[0], sample.orientation[1],
                                            sample.orientation[2], sample.orientation[3]),
                                 first);
        first = false;
    }
    while (now + kFrame <= at) {
        object.update(static_cast<float>(kFrame));
        now += kFrame;
    }
    return object.shownPosition;
}

}  // namespace

TEST(ImpairedNetwork, GameGoesOnAndViewsConvergeOnceTheLinkRecovers) {
    ChildProcess::Options serverOptions;
    serverOptions.program = MORVIK_SERVER_BINARY;
    serverOptions.mergeErrorIntoOutput = true;
    ServerProcess server(serverOptions);
    ASSERT_NE(server.port(), 0) << server.error();

    UdpImpairProxy::Settings settings;
    settings.dropRate = 0.2;
    settings.duplicateRate = 0.1;
    settings.reorderRate = 0.1;
    settings.minDelayMs = 5;
    settings.maxDelayMs = 60;
    settings.reorderHoldMs = 80;
    settings.seed = 2024;
    UdpImpairProxy proxy(server.port(), settings);
    ASSERT_TRUE(proxy.start()) << proxy.error();

    IoThread io;
    std::vector<ScriptedClient::Ptr> players;
    for (int i = 0; i < kPlayers; ++i) {
        // Their datagrams cross the proxy; the TCP connection goes straight to the server.
        players.push_back(ScriptedClient::create(io.service(), {false, proxy.port()}));
        ASSERT_TRUE(players.back()->join("127.0.0.1", server.port(), std::chrono::seconds(5)))
            << server.output();
        const std::uint32_t thrust =
            i == 1 ? controls::kForward | controls::kUp : controls::kForward;
        players.back()->steer({Quaternion(), thrust | controls::kFire, 0.3 + 0.4 * i});
    }
    std::vector<std::uint64_t> ids;
    for (auto& player : players) {
        ids.push_back(player->playerId());
    }

    // Eight seconds of play over the bad link.
    sleepForMs(8000);
    const UdpImpairProxy::Counters counters = proxy.counters();
    EXPECT_GT(counters.dropped, 0u);
    EXPECT_GT(counters.duplicated, 0u);
    EXPECT_GT(counters.reordered, 0u);
    for (auto& player : players) {
        const View view = player->view();
        EXPECT_FALSE(view.tcpClosed);
        EXPECT_EQ(view.badFrames, 0u);
        // Datagrams are lost, but most get through: well over a hundred updates per ship in
        // eight seconds of turning and thrusting.
        for (std::uint64_t id : ids) {
            ASSERT_TRUE(view.objects.count(id));
            EXPECT_TRUE(view.objects.at(id).announced);
            EXPECT_FALSE(view.objects.at(id).destroyed);
            EXPECT_GT(view.objects.at(id).updates, 8u)
                << "player " << player->playerId() << " of " << id;
        }
    }

    // The link recovers. Every state sent from now on reaches everybody.
    proxy.setImpaired(false);
    std::uint32_t newestBefore = 0;
    for (auto& player : players) {
        for (const auto& [id, known] : player->view().objects) {
            if (!known.recent.empty()) {
                newestBefore = std::max(newestBefore, known.recent.back().timestamp);
            }
        }
    }
    // The proxy's held-back datagrams drain within 140 ms; the rest of two seconds covers at
    // least one send of every ship under the send rule.
    sleepForMs(2000);
    std::vector<View> views;
    for (auto& player : players) {
        views.push_back(player->view());
    }
    for (std::uint64_t id : ids) {
        const Agreement agreement = agreeOn(id, views);
        EXPECT_TRUE(agreement.common) << "no common recent state of " << id;
        EXPECT_TRUE(agreement.identical) << "players disagree on " << id;
        EXPECT_GT(agreement.timestamp - newestBefore, 0u)
            << "the common state of " << id << " predates the recovery";
        EXPECT_LT(agreement.timestamp - newestBefore, 0x80000000u);
    }
    // What the players see: each client's prediction from what it received, bad link
    // included, must have come together. The send rule keeps the server's own prediction
    // within 1 unit of the truth; the clients run the same prediction on the same samples.
    const double at = monotonicSeconds();
    for (std::uint64_t id : ids) {
        std::vector<Vec3> shown;
        for (const View& view : views) {
            shown.push_back(shownAt(view.objects.at(id).recent, at));
        }
        for (std::size_t i = 1; i < shown.size(); ++i) {
            const Vec3 gap = shown[i] - shown[0];
            EXPECT_LT(gap.length(), 1.0f) << "players see ship " << id << " apart";
        }
    }
    for (auto& player : players) {
        player->close();
    }
    proxy.stop();
    EXPECT_TRUE(server.running()) << server.output();
    server.stop(SIGKILL);
    const std::string log = server.output();
    for (const char* report :
         {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer", "runtime error:"}) {
        EXPECT_EQ(log.find(report), std::string::npos) << log;
    }
}
