// The server tick: its time step and the order of its steps as the console sees them.

#include "Server/ServerTick.h"

#include <boost/asio/ip/udp.hpp>

#include "Common/Controls.h"
#include "Common/ObjectTypes.h"
#include "Common/Platform.h"
#include "Server/PacketHandler.h"
#include "Server/ServerConsole.h"
#include "tests/Server/ServerTestSupport.h"

namespace {

TEST(TickTimeStepTest, IsTheTimeSinceTheLastTick) {
    EXPECT_NEAR(tickTimeStep(100.034, 100.0), 0.034, 1e-9);
    EXPECT_EQ(tickTimeStep(100.0, 100.0), 0.0);
}

TEST(TickTimeStepTest, SpansTheWrapOfTheMillisecondClock) {
    // 16 ms before the 32-bit count wraps to 16 ms after it.
    EXPECT_NEAR(tickTimeStep(0.016, 4294967.280), 0.032, 1e-6);
}

class ServerTickTest : public servertest::ServerWorldTest {
protected:
    void SetUp() override {
        ServerWorldTest::SetUp();
        handler = std::make_unique<PacketHandler>(io, 0, 0);
        handler->world = SceneGraph::getInstance();
        handler->queues = OutgoingQueues::getInstance();
        packetHandler = handler.get();
        OutgoingQueues::getInstance()->openSocket(io);
        std::string line;
        while (popConsoleLine(line)) {
        }
    }
    void TearDown() override {
        packetHandler = nullptr;
        ServerWorldTest::TearDown();  // closes the queues' socket before io goes
        handler.reset();
    }

    // One tick, right after the previous one; returns what it printed.
    std::string tick() {
        lastTickSeconds = static_cast<double>(getTickCount()) / 1000.0;
        testing::internal::CaptureStdout();
        serverTick();
        return testing::internal::GetCapturedStdout();
    }

    // A player whose datagrams go to listener.
    Player* join() {
        Player* player = servertest::joinPlayer();
        player->udpEndpoint = listener.local_endpoint();
        return player;
    }

    boost::asio::io_service io;
    std::unique_ptr<PacketHandler> handler;
    boost::asio::ip::udp::socket listener{
        io, boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::loopback(), 0)};
};

TEST_F(ServerTickTest, ConsoleSeesTheListsAsTheTickFoundThem) {
    Player* shooter = join();
    shooter->fireTimer = 1.0f;
    shooter->inputMask = controls::kFire;

    // The first shot of the run is fired during this tick's update, after the lists were
    // looked up: "shots" still answers 0. "players" is answered first, being newer.
    pushConsoleLine("shots");
    pushConsoleLine("players");
    EXPECT_EQ(tick(), "1\n0\n");
    ASSERT_NE(SceneGraph::getInstance()->getObjectsOfType(kProjectileType), nullptr);

    pushConsoleLine("sh");
    EXPECT_EQ(tick(), "1\n");
}

TEST_F(ServerTickTest, RemovalsAreCarriedOutBeforeTheConsoleCounts) {
    join();
    Player* leaves = join();
    SceneGraph::getInstance()->remove(leaves);
    pushConsoleLine("pl");
    EXPECT_EQ(tick(), "1\n");
}

}  // namespace
