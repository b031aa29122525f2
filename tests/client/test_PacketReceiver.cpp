#include "client/PacketReceiver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "ClientTestSupport.h"
#include "Common/GameState.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "client/NetworkManager.h"
#include "client/ObjectFactory.h"
#include "client/Player.h"
#include "client/Projectile.h"
#include "client/Sender.h"
#include "client/TestCube.h"

using boost::asio::ip::udp;
using clienttest::FakeServer;
using ::testing::HasSubstr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

constexpr std::uint64_t kServerId = 1ull << 32;  // ids as the server with id 1 makes them

Morvik::ObjectInfo playerInfo(std::uint64_t id, std::uint32_t timestamp, Vec3 at) {
    Morvik::ObjectInfo info;
    info.set_id(id);
    info.set_objecttype(kPlayerType);
    info.set_timestamp(timestamp);
    clienttest::setPosition(info.mutable_position(), at.x, at.y, at.z);
    clienttest::setOrientation(info.mutable_orientation(), 1, 0, 0, 0);
    return info;
}

Morvik::ObjectInfo namedPlayerInfo(std::uint64_t id, const std::string& name, Vec3 at) {
    Morvik::ObjectInfo info = playerInfo(id, 1000, at);
    info.mutable_playerdata()->set_health(100);
    info.mutable_playerdata()->set_blueteam(true);
    info.mutable_playerdata()->set_name(name);
    return info;
}

Morvik::ObjectInfo shotInfo(std::uint64_t id, Vec3 at) {
    Morvik::ObjectInfo info = playerInfo(id, 1000, at);
    info.set_objecttype(kProjectileType);
    return info;
}

Morvik::ObjectUpdate update(std::uint64_t id, std::uint32_t timestamp, Vec3 at,
                            const Quaternion& q = Quaternion()) {
    Morvik::ObjectUpdate message;
    message.set_id(id);
    message.set_timestamp(timestamp);
    clienttest::setPosition(message.mutable_position(), at.x, at.y, at.z);
    clienttest::setOrientation(message.mutable_orientation(), q.w, q.x, q.y, q.z);
    return message;
}

Morvik::ObjectDestroy destroy(std::uint64_t id) {
    Morvik::ObjectDestroy message;
    message.set_id(id);
    return message;
}

void expectVec(const Vec3& actual, float x, float y, float z) {
    EXPECT_FLOAT_EQ(actual.x, x);
    EXPECT_FLOAT_EQ(actual.y, y);
    EXPECT_FLOAT_EQ(actual.z, z);
}

// ---- the receiver on its own ----

TEST(PacketReceiverSetupTest, NamesNoObjectAndListensOnASystemChosenIPv4Port) {
    boost::asio::io_service io;
    PacketReceiver receiver(io, SceneGraph::getInstance(), 10);

    EXPECT_EQ(receiver.ownObjectId, kNoObjectId);
    EXPECT_NE(receiver.ownObjectId, 0u);  // the carriers' id
    const udp::endpoint local = receiver.getUDPSocket().local_endpoint();
    EXPECT_TRUE(local.address().is_v4());
    EXPECT_TRUE(local.address().to_v4().is_unspecified());
    EXPECT_NE(local.port(), 0);
}

// ---- handlers, against a stand-in server ----

// One connection for the whole suite through NetworkManager::connect, as the client makes it.
// The stand-in server learns the client's UDP address from the first ClientUpdate.
class PacketReceiverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        clienttest::useNoResources();
        server = new FakeServer();
        NetworkManager* network = NetworkManager::getInstance();
        connected = network->connect("127.0.0.1", server->port(), 600);
        if (!connected) {
            return;
        }
        server->accept();
        ownIdBeforeWelcome = network->getOwnObjectId();
        Morvik::ClientUpdate hello;
        clienttest::setOrientation(hello.mutable_orientation(), 1, 0, 0, 0);
        hello.set_boosterson(0);
        Sender::getInstance()->sendClientUpdate(hello);
        connected = server->receiveUdp(firstDatagram, clientUdp);
    }

    void SetUp() override {
        ASSERT_TRUE(connected) << "the client could not connect to the stand-in server";
        clienttest::useNoResources();
        scene = SceneGraph::getInstance();
        scene->resetForTesting();
        GameState::getInstance()->resetForTesting();
        NetworkManager::getInstance()->processEvents();
    }
    void TearDown() override { scene->resetForTesting(); }

    bool pumpUntil(const std::function<bool()>& done) {
        return clienttest::pumpUntil(done, [] { NetworkManager::getInstance()->processEvents(); });
    }
    bool queuedForRemoval(Transform* object) const {
        return std::find(scene->pendingRemovals.begin(), scene->pendingRemovals.end(), object) !=
               scene->pendingRemovals.end();
    }
    // Creates a player over TCP and waits for it.
    Player* arrive(std::uint64_t id, const std::string& name, Vec3 at = Vec3()) {
        server->sendTcp(MessageType::ObjectInfo, namedPlayerInfo(id, name, at));
        EXPECT_TRUE(pumpUntil([&] { return scene->find(id) != nullptr; }));
        return dynamic_cast<Player*>(scene->find(id));
    }

    static FakeServer* server;
    static bool connected;
    static std::uint64_t ownIdBeforeWelcome;
    static std::string firstDatagram;
    static udp::endpoint clientUdp;
    SceneGraph* scene = nullptr;
};

FakeServer* PacketReceiverTest::server = nullptr;
bool PacketReceiverTest::connected = false;
std::uint64_t PacketReceiverTest::ownIdBeforeWelcome = 0;
std::string PacketReceiverTest::firstDatagram;
udp::endpoint PacketReceiverTest::clientUdp;

TEST_F(PacketReceiverTest, WelcomeGivesTheOwnIdAndTheQport) {
    EXPECT_EQ(ownIdBeforeWelcome, kNoObjectId);
    ASSERT_GE(firstDatagram.size(), 2u);
    EXPECT_EQ(firstDatagram.substr(0, 2), std::string("\x00\x00", 2));

    Morvik::Welcome welcome;
    welcome.set_id(kServerId | 7);
    welcome.set_qport(0x1234);
    welcome.mutable_playerdata()->set_health(100);
    server->sendTcp(MessageType::Welcome, welcome);
    ASSERT_TRUE(
        pumpUntil([] { return NetworkManager::getInstance()->getOwnObjectId() != kNoObjectId; }));

    EXPECT_EQ(NetworkManager::getInstance()->getOwnObjectId(), kServerId | 7);
    Morvik::ClientUpdate next;
    clienttest::setOrientation(next.mutable_orientation(), 1, 0, 0, 0);
    next.set_boosterson(1);
    Sender::getInstance()->sendClientUpdate(next);
    std::string datagram;
    udp::endpoint from;
    ASSERT_TRUE(server->receiveUdp(datagram, from));
    EXPECT_EQ(datagram.substr(0, 2), "\x34\x12");
    EXPECT_EQ(from.port(), clientUdp.port());
}

TEST_F(PacketReceiverTest, PlayerIsCreatedOnlyWithTeamAndName) {
    Morvik::ObjectInfo noName = playerInfo(kServerId | 1, 1000, Vec3());
    noName.mutable_playerdata()->set_health(80);
    noName.mutable_playerdata()->set_blueteam(true);
    Morvik::ObjectInfo noTeam = playerInfo(kServerId | 2, 1000, Vec3());
    noTeam.mutable_playerdata()->set_health(80);
    noTeam.mutable_playerdata()->set_name("Bob");
    Morvik::ObjectInfo noData = playerInfo(kServerId | 3, 1000, Vec3());
    Morvik::ObjectInfo carrier = playerInfo(kServerId | 4, 1000, Vec3());
    carrier.set_objecttype(kCarrierType);
    Morvik::ObjectInfo unknownType = playerInfo(kServerId | 5, 1000, Vec3());
    unknownType.set_objecttype(7);
    Morvik::ObjectInfo complete = playerInfo(kServerId | 6, 5000, Vec3(1, 2, 3));
    complete.mutable_playerdata()->set_health(73.5f);
    complete.mutable_playerdata()->set_blueteam(true);
    complete.mutable_playerdata()->set_name("Carol");
    complete.mutable_playerdata()->set_score(4);

    for (const Morvik::ObjectInfo* info :
         {&noName, &noTeam, &noData, &carrier, &unknownType, &complete}) {
        server->sendTcp(MessageType::ObjectInfo, *info);
    }
    ASSERT_TRUE(pumpUntil([&] { return scene->find(kServerId | 6) != nullptr; }));

    for (std::uint64_t low = 1; low <= 5; ++low) {
        EXPECT_EQ(scene->find(kServerId | low), nullptr) << "object " << low;
    }
    auto* carol = dynamic_cast<Player*>(scene->find(kServerId | 6));
    ASSERT_NE(carol, nullptr);
    EXPECT_EQ(carol->objectType, 0);
    EXPECT_EQ(carol->name, "Carol");
    EXPECT_TRUE(carol->blueTeam);
    EXPECT_EQ(carol->health, 73.5f);
    EXPECT_EQ(carol->score, 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(carol->sampleTimes[i], 5000u);
        expectVec(carol->samplePositions[i], 1, 2, 3);
    }
    expectVec(carol->shownPosition, 1, 2, 3);
    EXPECT_EQ(scene->children.size(), 1u);
}

TEST_F(PacketReceiverTest, ProjectileTakesItsVelocityAndTeam) {
    Morvik::ObjectInfo blueShot = shotInfo(kServerId | 10, Vec3(10, 0, 0));
    clienttest::setPosition(blueShot.mutable_projectiledata()->mutable_velocity(), 3, 0, -4);
    blueShot.mutable_projectiledata()->set_blueteam(true);
    const Morvik::ObjectInfo bareShot = shotInfo(kServerId | 11, Vec3(0, 5, 0));
    server->sendTcp(MessageType::ObjectInfo, blueShot);
    server->sendTcp(MessageType::ObjectInfo, bareShot);
    ASSERT_TRUE(pumpUntil([&] { return scene->find(kServerId | 11) != nullptr; }));

    auto* shot = dynamic_cast<Projectile*>(scene->find(kServerId | 10));
    ASSERT_NE(shot, nullptr);
    EXPECT_TRUE(shot->blueTeam);
    EXPECT_EQ(shot->lifetime, 20.0f);
    expectVec(shot->sampleVelocity, 3, 0, -4);
    expectVec(shot->extrapolationVelocity, 3, 0, -4);
    expectVec(shot->shownPosition, 10, 0, 0);

    auto* bare = dynamic_cast<Projectile*>(scene->find(kServerId | 11));
    ASSERT_NE(bare, nullptr);
    EXPECT_FALSE(bare->blueTeam);
    expectVec(bare->sampleVelocity, 0, 0, 0);
}

TEST_F(PacketReceiverTest, SecondInfoSnapsAKnownPlayerAndAppliesTheScores) {
    Player* carol = arrive(kServerId | 6, "Carol");
    ASSERT_NE(carol, nullptr);

    Morvik::ObjectInfo again = playerInfo(kServerId | 6, 7000, Vec3(100, 0, 0));
    again.mutable_playerdata()->set_health(50);
    again.mutable_playerdata()->set_score(9);
    again.mutable_playerdata()->set_redteamscore(3);
    again.mutable_playerdata()->set_blueteamscore(4);
    server->sendTcp(MessageType::ObjectInfo, again);
    ASSERT_TRUE(pumpUntil([&] { return carol->score == 9; }));

    EXPECT_EQ(scene->find(kServerId | 6), carol);
    ASSERT_NE(scene->getObjectsOfType(kPlayerType), nullptr);
    EXPECT_EQ(scene->getObjectsOfType(kPlayerType)->size(), 1u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(carol->sampleTimes[i], 7000u);
        expectVec(carol->samplePositions[i], 100, 0, 0);
    }
    expectVec(carol->shownPosition, 100, 0, 0);
    EXPECT_EQ(carol->health, 50.0f);
    EXPECT_EQ(carol->name, "Carol");
    EXPECT_EQ(GameState::getInstance()->redTeamScore, 3);
    EXPECT_EQ(GameState::getInstance()->blueTeamScore, 4);
}

TEST_F(PacketReceiverTest, UpdatesMoveKnownObjectsAndUnknownOnesAreDropped) {
    Player* carol = arrive(kServerId | 6, "Carol");
    ASSERT_NE(carol, nullptr);
    const float half = 3.14159265f / 4;
    const Quaternion quarterTurn(std::cos(half), 0, std::sin(half), 0);

    server->sendUdp(MessageType::ObjectUpdate, update(kServerId | 99, 1100, Vec3(5, 0, 0)),
                    clientUdp);
    server->sendUdp(MessageType::ObjectUpdate,
                    update(kServerId | 6, 1100, Vec3(5, 0, 0), quarterTurn), clientUdp);
    ASSERT_TRUE(pumpUntil([&] { return carol->sampleTimes[0] == 1100u; }));

    EXPECT_EQ(scene->find(kServerId | 99), nullptr);
    EXPECT_EQ(scene->children.size(), 1u);
    EXPECT_EQ(carol->sampleTimes[1], 1000u);
    expectVec(carol->samplePositions[0], 5, 0, 0);
    expectVec(carol->sampleVelocity, 50, 0, 0);  // 5 units in 100 ms
    // The ship turns toward the new orientation from where it is shown.
    EXPECT_NEAR(carol->catchUpRotation.w, quarterTurn.w, 1e-6f);
    EXPECT_NEAR(carol->catchUpRotation.y, quarterTurn.y, 1e-6f);
}

TEST_F(PacketReceiverTest, DestroyOfAnUnknownIdIsDropped) {
    Player* carol = arrive(kServerId | 6, "Carol");
    ASSERT_NE(carol, nullptr);

    server->sendTcp(MessageType::ObjectDestroy, destroy(kServerId | 99));
    Player* marker = arrive(kServerId | 8, "Dan");
    ASSERT_NE(marker, nullptr);

    EXPECT_TRUE(scene->pendingRemovals.empty());
    EXPECT_EQ(scene->find(kServerId | 6), carol);
}

TEST_F(PacketReceiverTest, DestroyedShotLeavesAnExplosionWhereItWasDrawn) {
    Morvik::ObjectInfo info = shotInfo(kServerId | 10, Vec3(10, 0, 0));
    clienttest::setPosition(info.mutable_projectiledata()->mutable_velocity(), 20, 0, 0);
    info.mutable_projectiledata()->set_blueteam(false);
    server->sendTcp(MessageType::ObjectInfo, info);
    ASSERT_TRUE(pumpUntil([&] { return scene->find(kServerId | 10) != nullptr; }));
    Transform* shot = scene->find(kServerId | 10);
    // One frame: 0.2 of the glide from (10,0,0) toward (10,0,0) + 0.5 s x (20,0,0).
    scene->updateAll(0.1f);
    expectVec(shot->position, 12, 0, 0);
    const std::int32_t counterBefore = ObjectFactory::getInstance()->counter;

    server->sendUdp(MessageType::ObjectDestroy, destroy(kServerId | 10), clientUdp);
    ASSERT_TRUE(pumpUntil([&] { return queuedForRemoval(shot); }));

    const auto explosionId = static_cast<std::uint64_t>(counterBefore + 1);
    Transform* explosion = scene->find(explosionId);
    ASSERT_NE(explosion, nullptr);
    EXPECT_EQ(explosion->objectType, 2);
    expectVec(explosion->position, 12, 0, 0);
    scene->flushRemovals();
    EXPECT_EQ(scene->find(kServerId | 10), nullptr);
    EXPECT_EQ(scene->find(explosionId), explosion);
}

TEST_F(PacketReceiverTest, DestroyedPlayerIsReportedByName) {
    Player* carol = arrive(kServerId | 6, "Carol");
    ASSERT_NE(carol, nullptr);
    const std::int32_t counterBefore = ObjectFactory::getInstance()->counter;

    CaptureStdout();
    server->sendTcp(MessageType::ObjectDestroy, destroy(kServerId | 6));
    const bool removed = pumpUntil([&] { return queuedForRemoval(carol); });
    const std::string output = GetCapturedStdout();

    ASSERT_TRUE(removed);
    EXPECT_THAT(output, HasSubstr("Player Carol logged out\n"));
    EXPECT_EQ(ObjectFactory::getInstance()->counter, counterBefore);
}

TEST_F(PacketReceiverTest, DestroyedCarrierIsOnlyRemoved) {
    auto* carrier = new TestCube(kServerId | 20, true);
    scene->add(carrier);
    const std::int32_t counterBefore = ObjectFactory::getInstance()->counter;

    CaptureStdout();
    server->sendTcp(MessageType::ObjectDestroy, destroy(kServerId | 20));
    const bool removed = pumpUntil([&] { return queuedForRemoval(carrier); });
    const std::string output = GetCapturedStdout();

    ASSERT_TRUE(removed);
    EXPECT_THAT(output, ::testing::Not(HasSubstr("logged out")));
    EXPECT_EQ(ObjectFactory::getInstance()->counter, counterBefore);
    EXPECT_EQ(scene->children.size(), 1u);
}

// ---- ways out: each runs in a child process of its own ----

class PacketReceiverDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    std::string output() const { return clienttest::readFile(outputPath); }

    const std::string outputPath = clienttest::deathOutputPath();
};

// Stands for what the main thread is still using when the process ends (the window, the
// skybox): its destructor must not run under a frame.
struct InUseUntilTheEnd {
    ~InUseUntilTheEnd() {
        std::printf("torn down\n");
        std::fflush(stdout);
    }
};

// Connects to a stand-in server and drains events until something ends the process.
void connectAndDrain(const std::string& outputPath, std::uint32_t udpTimeout,
                     const std::function<void(FakeServer&)>& serverSide) {
    clienttest::redirectStdoutTo(outputPath);
    static InUseUntilTheEnd window;
    clienttest::useNoResources();
    FakeServer server;
    if (!NetworkManager::getInstance()->connect("127.0.0.1", server.port(), udpTimeout)) {
        return;
    }
    server.accept();
    // Not yet on its way out: ending the process must not lose it.
    std::printf("drawing a frame\n");
    serverSide(server);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        NetworkManager::getInstance()->processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TEST_F(PacketReceiverDeathTest, ClosedConnectionEndsWithStatusZero) {
    const std::string path = outputPath;
    EXPECT_EXIT(connectAndDrain(path, 600, [](FakeServer& server) { server.closeConnection(); }),
                ::testing::ExitedWithCode(0), "");
    const std::string text = output();
    EXPECT_THAT(text, HasSubstr("Connected!\n"));
    EXPECT_THAT(text, HasSubstr("drawing a frame\n"));
    EXPECT_THAT(text, ::testing::EndsWith("Connection closed - exiting\n"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("torn down")));
}

TEST_F(PacketReceiverDeathTest, SilenceEndsWithStatusOneAfterTheTimeout) {
    const std::string path = outputPath;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EXIT(connectAndDrain(path, 1, [](FakeServer&) {}), ::testing::ExitedWithCode(1), "");
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_GE(elapsed, std::chrono::seconds(1));
    const std::string text = output();
    EXPECT_THAT(text, HasSubstr("drawing a frame\n"));
    EXPECT_THAT(text,
                ::testing::EndsWith("No UDP packet received in 1 - exiting with error Success\n"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("torn down")));
}

TEST_F(PacketReceiverDeathTest, DatagramsPushTheTimeoutAhead) {
    const std::string path = outputPath;
    const auto start = std::chrono::steady_clock::now();
    // Five datagrams 300 ms apart keep a 1 s watchdog waiting; it ends the client 1 s after
    // the last one, at least 2.2 s after the start.
    EXPECT_EXIT(
        connectAndDrain(path, 1,
                        [](FakeServer& server) {
                            Morvik::ClientUpdate hello;
                            clienttest::setOrientation(hello.mutable_orientation(), 1, 0, 0, 0);
                            hello.set_boosterson(0);
                            Sender::getInstance()->sendClientUpdate(hello);
                            std::string bytes;
                            udp::endpoint client;
                            if (!server.receiveUdp(bytes, client)) {
                                return;
                            }
                            for (int i = 0; i < 5; ++i) {
                                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                                server.sendUdp(MessageType::ObjectDestroy, destroy(1), client);
                            }
                        }),
        ::testing::ExitedWithCode(1), "");
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_GE(elapsed, std::chrono::milliseconds(2200));
    EXPECT_THAT(output(),
                ::testing::EndsWith("No UDP packet received in 1 - exiting with error Success\n"));
}

// The timer fires and, in the same turn of the event loop, a datagram comes in: its receive
// completion runs first and finds nothing left to restart.
void expireWithADatagramWaiting(const std::string& outputPath) {
    clienttest::redirectStdoutTo(outputPath);
    boost::asio::io_service io;
    PacketReceiver receiver(io, SceneGraph::getInstance(), 0);
    udp::socket peer(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    const udp::endpoint to(boost::asio::ip::address_v4::loopback(),
                           receiver.getUDPSocket().local_endpoint().port());
    peer.send_to(boost::asio::buffer(&to, 0), to);
    io.run();
}

TEST_F(PacketReceiverDeathTest, DatagramAfterExpiryStillEndsWithStatusOne) {
    const std::string path = outputPath;
    EXPECT_EXIT(expireWithADatagramWaiting(path), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(output(),
              "Timer already expired\nNo UDP packet received in 0 - exiting with error Success\n");
}

}  // namespace
