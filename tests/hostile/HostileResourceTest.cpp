// Clients that use up the server's resources: connections, descriptors.
#include "tests/hostile/ServedPlayerFixture.h"

namespace {

// Every player the observer saw arrive, except itself, has been seen leaving.
bool everyArrivalHasLeft(ProbePlayer& observer) {
    const ProbePlayer::View view = observer.snapshot();
    for (const auto& [id, known] : view.objects) {
        if (id != view.ownId && known.announced && known.objectType == 0 && !known.destroyed) {
            return false;
        }
    }
    return true;
}

}  // namespace

class HostileResources : public ServedPlayerFixture {};

TEST_F(HostileResources, ThousandConnectionsOpenedAndDroppedLeaveNothingBehind) {
    const int baseline = server->openDescriptors();
    ASSERT_GT(baseline, 0);
    const double from = player->secondsSinceStart();
    for (int batch = 0; batch < 20; ++batch) {
        std::vector<RawClient> clients(50);
        for (RawClient& client : clients) {
            ASSERT_TRUE(client.connectTo(server->port()));
        }
        // Some leave before they are even welcomed, some after; half orderly, half reset.
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (i % 3 == 0) {
                clients[i].readWelcome(1000);
            }
            if (i % 2 == 0) {
                clients[i].reset();
            } else {
                clients[i].close();
            }
        }
    }
    EXPECT_TRUE(waitUntil([&] { return server->openDescriptors() == baseline; }, 10000))
        << server->openDescriptors() << " descriptors open, " << baseline << " before";
    // Whoever was announced as joining was announced as leaving too: no ghost ships.
    EXPECT_TRUE(waitUntil([&] { return everyArrivalHasLeft(*player); }, 10000));
    expectServedSince(from);
}

// The server started with few descriptors: when they are used up it cannot accept, but it
// must keep serving the players it has, not spin, and accept again once some are free.
class LowOpenFilesLimit : public ServedPlayerFixture {
protected:
    std::uint64_t openFilesLimit() const override { return kLimit; }
    static constexpr int kLimit = 40;
};

TEST_F(LowOpenFilesLimit, KeepsServingDoesNotSpinAndAcceptsAgain) {
    const int baseline = server->openDescriptors();
    ASSERT_GT(baseline, 0);
    ASSERT_LT(baseline, kLimit);
    const double from = player->secondsSinceStart();

    // More connections than descriptors are left; the rest wait in the listen queue.
    std::vector<RawClient> hostiles(kLimit);
    for (RawClient& hostile : hostiles) {
        ASSERT_TRUE(hostile.connectTo(server->port()));
    }
    ASSERT_TRUE(waitUntil([&] { return server->openDescriptors() >= kLimit; }, 5000))
        << server->openDescriptors() << " descriptors open";

    const double cpuBefore = server->cpuSeconds();
    const std::int64_t startMs = monotonicMs();
    sleepForMs(3000);
    const double cpuUsed = server->cpuSeconds() - cpuBefore;
    const double elapsed = (monotonicMs() - startMs) / 1000.0;
    // A 30 Hz tick for a handful of players needs a few percent of one processor; a retry
    // loop on a full descriptor table would take all of it.
    EXPECT_LT(cpuUsed, 0.25 * elapsed) << cpuUsed << " s of CPU in " << elapsed << " s";
    expectServedSince(from);

    for (RawClient& hostile : hostiles) {
        hostile.close();
    }
    ASSERT_TRUE(waitUntil([&] { return server->openDescriptors() <= baseline; }, 10000))
        << server->openDescriptors() << " descriptors open, " << baseline << " before";
    auto newcomer = joinProbe();
    ASSERT_TRUE(newcomer) << "the server did not accept again";
    newcomer->stop();
}
