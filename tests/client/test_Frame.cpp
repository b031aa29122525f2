#include "client/Frame.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <memory>

#include "ClientTestSupport.h"
#include "Common/GameState.h"
#include "Common/ObjectTypes.h"
#include "Common/SceneGraph.h"
#include "Common/Statistics.h"
#include "GameTestSupport.h"
#include "client/FrameClock.h"
#include "client/MVEntryPoint.h"
#include "client/NetworkManager.h"
#include "client/PacketReceiver.h"

namespace {

using boost::asio::ip::tcp;

constexpr std::uint64_t kServerId = 1ull << 32;

// The frame clock without waiting: 16 ms pass between two frames.
std::uint64_t testTicks = 0;
std::uint64_t nextTestTick() {
    return testTicks += 16;
}

struct ProbeLog {
    int updates = 0;
    int draws = 0;
    bool deleted = false;
};

// Counts its updates and draws and tells when it is deleted.
class Probe : public Transform {
public:
    Probe(std::uint64_t id, ProbeLog* log) : Transform(id), log(log) {}
    ~Probe() override { log->deleted = true; }
    void update(float /*dt*/) override { ++log->updates; }
    void draw() override { ++log->draws; }
    ProbeLog* log;
};

// The real frame, with a receiver of the test's own installed in the NetworkManager: it runs
// on an event loop that the test turns itself and is fed over a real TCP connection by a
// stand-in server, so that what a frame finds queued is known before the frame runs.
class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        gametest::openWindow();
        gametest::resetInput();
        gametest::useGameResources();
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        scene = SceneGraph::getInstance();
        scene->resetForTesting();
        GameState::getInstance()->resetForTesting();
        controller = MVEntryPoint::getInstance();
        controller->camera = Camera();

        receiver = std::make_unique<PacketReceiver>(io, scene, 600);
        savedReceiver = NetworkManager::getInstance()->receiver;
        NetworkManager::getInstance()->receiver = receiver.get();
        connection = TcpConnection::create(io);
        connection->socket().connect(
            tcp::endpoint(boost::asio::ip::address_v4::loopback(), server.portNumber()));
        server.accept();
        receiver->armTCPReceive(connection);

        savedTicks = frameClock.ticks;
        frameClock.ticks = &nextTestTick;
        frameClock.previous = static_cast<double>(testTicks) / 1000.0;
    }
    void TearDown() override {
        if (savedTicks != nullptr) {
            frameClock.ticks = savedTicks;
            frameClock.previous = static_cast<double>(savedTicks()) / 1000.0;
        }
        NetworkManager::getInstance()->receiver = savedReceiver;
        scene->resetForTesting();
        GameState::getInstance()->resetForTesting();
        glPopAttrib();
        gametest::resetInput();
    }

    // Sends a message and turns the loop until the receiver has it queued, not yet handled.
    void deliver(MessageType type, const google::protobuf::Message& message) {
        const std::size_t before = queued();
        server.sendTcp(type, message);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (queued() == before && std::chrono::steady_clock::now() < end) {
            io.run_one_for(std::chrono::milliseconds(100));
        }
        ASSERT_EQ(queued(), before + 1);
    }
    // Every event queued on the TCP list counts as a received TCP message.
    std::uint64_t queued() { return Statistics::getInstance()->getMessages(tcp_rcvd); }

    SceneGraph* scene = nullptr;
    MVEntryPoint* controller = nullptr;
    clienttest::FakeServer server;
    boost::asio::io_service io;
    std::unique_ptr<PacketReceiver> receiver;
    PacketReceiver* savedReceiver = nullptr;
    TcpConnection::Ptr connection;
    FrameClock::TickSource savedTicks = nullptr;
    ProbeLog kept;
    ProbeLog doomed;
};

TEST_F(FrameTest, ChaseCameraSitsBehindAndAboveTheOwnShipInItsOwnFrame) {
    const std::uint64_t own = kServerId | 5;
    Morvik::Welcome welcome;
    welcome.set_id(own);
    welcome.set_qport(9);
    welcome.mutable_playerdata()->set_health(100);
    deliver(MessageType::Welcome, welcome);
    // A third of a turn about (1, 1, 1): x goes to y, y to z, z to x.
    Morvik::ObjectInfo ship;
    ship.set_id(own);
    ship.set_objecttype(kPlayerType);
    ship.set_timestamp(1000);
    clienttest::setPosition(ship.mutable_position(), 10, 20, 30);
    clienttest::setOrientation(ship.mutable_orientation(), 0.5f, 0.5f, 0.5f, 0.5f);
    ship.mutable_playerdata()->set_health(100);
    ship.mutable_playerdata()->set_blueteam(true);
    ship.mutable_playerdata()->set_name("Own");
    deliver(MessageType::ObjectInfo, ship);

    // The drawn orientation turns to the received one over a few frames.
    for (int i = 0; i < 60; ++i) {
        frame();
    }

    // (0, 2, -5) in the ship's frame is (-5, 0, 2) in the world's.
    const Vec3& eye = controller->camera.position;
    EXPECT_NEAR(eye.x, 10 - 5, 1e-3);
    EXPECT_NEAR(eye.y, 20 + 0, 1e-3);
    EXPECT_NEAR(eye.z, 30 + 2, 1e-3);
}

TEST_F(FrameTest, ObjectRemovedByAHandlerIsUpdatedOnceMoreButNotDrawnInThatFrame) {
    scene->add(new Probe(kServerId | 1, &kept));
    scene->add(new Probe(kServerId | 2, &doomed));
    Morvik::ObjectDestroy destroy;
    destroy.set_id(kServerId | 2);
    deliver(MessageType::ObjectDestroy, destroy);

    frame();

    EXPECT_EQ(kept.updates, 1);
    EXPECT_EQ(kept.draws, 1);
    // Its removal waits for the end of the frame's world update.
    EXPECT_EQ(doomed.updates, 1);
    EXPECT_EQ(doomed.draws, 0);
    EXPECT_TRUE(doomed.deleted);
    EXPECT_EQ(scene->find(kServerId | 2), nullptr);
}

}  // namespace
