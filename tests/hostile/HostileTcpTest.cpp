// Clients that send the server bad bytes over TCP, while a well-behaved player keeps playing.
#include <random>

#include "Common/FrameCodec.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "tests/hostile/ServedPlayerFixture.h"

namespace {

std::string randomBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

// Valid messages of every type a client has no business sending over TCP.
std::string framesOfEveryType() {
    Morvik::ObjectInfo info;
    info.set_id(99);
    info.set_objecttype(kPlayerType);
    info.set_timestamp(1);
    info.mutable_position()->set_x(1);
    info.mutable_position()->set_y(2);
    info.mutable_position()->set_z(3);
    info.mutable_orientation()->set_w(1);
    info.mutable_orientation()->set_x(0);
    info.mutable_orientation()->set_y(0);
    info.mutable_orientation()->set_z(0);
    Morvik::ObjectUpdate update;
    update.set_id(99);
    update.set_timestamp(2);
    Morvik::ObjectDestroy destroy;
    destroy.set_id(99);
    Morvik::Welcome welcome;
    welcome.set_id(99);
    welcome.set_qport(7);
    welcome.mutable_playerdata()->set_health(100);
    return frameOf(MessageType::ObjectInfo, info) + frameOf(MessageType::ObjectUpdate, update) +
           frameOf(MessageType::ObjectDestroy, destroy) + frameOf(MessageType::Welcome, welcome) +
           clientUpdateFrame(Quaternion(1, 0, 0, 0), 0x40000001u);
}

// True when client is still served over TCP: a player joining now is announced to it.
::testing::AssertionResult stillReceivesAnnouncements(RawClient& client,
                                                      const ScriptedClient& newcomer) {
    const std::uint64_t id = newcomer.playerId();
    const std::int64_t end = monotonicMs() + 5000;
    while (monotonicMs() < end) {
        for (const scripted::ReceivedMessage& received : client.readFor(100)) {
            if (received.is(MessageType::ObjectInfo) &&
                received.as<Morvik::ObjectInfo>().id() == id) {
                return ::testing::AssertionSuccess();
            }
        }
    }
    return ::testing::AssertionFailure() << "the newcomer " << id << " was not announced";
}

}  // namespace

class HostileTcp : public ServedPlayerFixture {};

TEST_F(HostileTcp, GarbageBytesEndOnlyTheSendersConnection) {
    player->markServed();
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
        auto hostile = joinRaw();
        ASSERT_TRUE(hostile);
        const std::string garbage = randomBytes(64 * 1024, seed);
        for (std::size_t at = 0; at < garbage.size(); at += 1000) {
            if (!hostile->sendAll(garbage.substr(at, 1000), 1000)) {
                break;  // the server gave up on the stream: fine
            }
        }
        hostile->close();
        EXPECT_TRUE(playerSeesDeparture(hostile->ownId())) << server->output();
    }
    expectServed(1.0);
}

TEST_F(HostileTcp, UnknownTypesAndUnexpectedMessagesAreDroppedAndTheConnectionStays) {
    auto hostile = joinRaw();
    ASSERT_TRUE(hostile);
    player->markServed();
    std::string bytes;
    for (std::uint8_t type : {0, 6, 7, 127, 128, 200, 255}) {
        bytes += rawFrame(4, type, "\x08\x01\x10");
    }
    bytes += rawFrame(1, 0, "");                      // unknown type, no body
    bytes += rawFrame(1, 4, "");                      // ClientUpdate lacking its required fields
    bytes += rawFrame(6, 1, "\xff\xff\xff\xff\xff");  // a known type with a body that is no message
    bytes += framesOfEveryType();                     // ClientUpdate over TCP carries no sender
    ASSERT_TRUE(hostile->sendAll(bytes));

    auto newcomer = joinProbe();
    ASSERT_TRUE(newcomer);
    EXPECT_TRUE(stillReceivesAnnouncements(*hostile, *newcomer));
    expectServed(0.5);
    newcomer->close();
}

TEST_F(HostileTcp, ZeroLengthClosesOnlyThatConnection) {
    auto hostile = joinRaw();
    ASSERT_TRUE(hostile);
    player->markServed();
    // Past a zero length the frame boundaries of the stream are lost for good.
    ASSERT_TRUE(hostile->sendAll(std::string("\x00\x00", 2) +
                                 clientUpdateFrame(Quaternion(1, 0, 0, 0), 1)));
    EXPECT_TRUE(hostile->waitClosedByServer(5000));
    EXPECT_TRUE(playerSeesDeparture(hostile->ownId())) << server->output();
    expectServed(0.5);
}

TEST_F(HostileTcp, HugeFramesAreCompletedAcrossReadsAndTheConnectionStays) {
    auto hostile = joinRaw();
    ASSERT_TRUE(hostile);
    player->markServed();
    // The largest frame a length field can announce, its body arriving slowly.
    const std::string body = randomBytes(65534, 11);
    ASSERT_TRUE(hostile->sendAll(rawFrame(65535, 1, body.substr(0, 20000))));
    sleepForMs(500);
    ASSERT_TRUE(hostile->sendAll(body.substr(20000)));
    for (std::uint32_t seed = 20; seed < 30; ++seed) {
        ASSERT_TRUE(hostile->sendAll(rawFrame(65535, 2, randomBytes(65534, seed))));
    }
    // And one announced huge but never finished: it just waits.
    ASSERT_TRUE(hostile->sendAll(rawFrame(65535, 3, randomBytes(100, 99))));

    auto newcomer = joinProbe();
    ASSERT_TRUE(newcomer);
    EXPECT_TRUE(stillReceivesAnnouncements(*hostile, *newcomer));
    expectServed(0.5);
    newcomer->close();
}

TEST_F(HostileTcp, HalfFramesWaitWithoutHarmAndLeaveNothingBehind) {
    const int baseline = server->openDescriptors();
    player->markServed();
    std::vector<std::unique_ptr<RawClient>> hostiles;
    const std::string frame = clientUpdateFrame(Quaternion(1, 0, 0, 0), 1);
    for (std::size_t cut = 1; cut < frame.size(); cut += 3) {
        hostiles.push_back(joinRaw());
        ASSERT_TRUE(hostiles.back());
        ASSERT_TRUE(hostiles.back()->sendAll(frame.substr(0, cut)));
    }
    expectServed(1.5);
    for (auto& hostile : hostiles) {
        hostile->close();
        EXPECT_TRUE(playerSeesDeparture(hostile->ownId())) << server->output();
    }
    EXPECT_TRUE(waitUntil([&] { return server->openDescriptors() == baseline; }, 5s))
        << server->openDescriptors() << " descriptors open, " << baseline << " before";
}

TEST_F(HostileTcp, ResetInTheMiddleOfAFrameRemovesOnlyThatPlayer) {
    const int baseline = server->openDescriptors();
    player->markServed();
    const std::string frame = clientUpdateFrame(Quaternion(1, 0, 0, 0), 1);
    // Cut between the two length bytes, after the type byte, and inside the body.
    for (std::size_t cut : {std::size_t{1}, std::size_t{3}, frame.size() / 2, frame.size() - 1}) {
        auto hostile = joinRaw();
        ASSERT_TRUE(hostile);
        ASSERT_TRUE(hostile->sendAll(frame.substr(0, cut)));
        sleepForMs(50);
        hostile->reset();
        EXPECT_TRUE(playerSeesDeparture(hostile->ownId())) << server->output();
    }
    expectServed(0.5);
    EXPECT_TRUE(waitUntil([&] { return server->openDescriptors() == baseline; }, 5s))
        << server->openDescriptors() << " descriptors open, " << baseline << " before";
}

TEST_F(HostileTcp, FloodOfValidFramesFromOneClient) {
    auto hostile = joinRaw();
    ASSERT_TRUE(hostile);
    std::string burst;
    while (burst.size() < 64 * 1024) {
        burst += framesOfEveryType();
    }
    const std::int64_t residentBefore = server->residentBytes();
    player->markServed();
    const std::int64_t end = monotonicMs() + 3000;
    std::uint64_t sent = 0;
    while (monotonicMs() < end && hostile->sendAll(burst, 1000)) {
        sent += burst.size();
    }
    std::printf("flooded %llu MB\n", static_cast<unsigned long long>(sent >> 20));
    expectServed(0.5);
    EXPECT_LT(server->residentBytes() - residentBefore, 64 << 20);
    // Valid frames, if unexpected ones: the flooder stays in the game.
    auto newcomer = joinProbe();
    ASSERT_TRUE(newcomer);
    EXPECT_TRUE(stillReceivesAnnouncements(*hostile, *newcomer));
    newcomer->close();
}
