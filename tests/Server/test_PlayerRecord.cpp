#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/address.hpp>

#include "Common/TcpConnection.h"
#include "Server/PlayerKey.h"
#include "ServerTestSupport.h"

using namespace servertest;
using boost::asio::ip::make_address;
using boost::asio::ip::udp;

class PlayerRecordTest : public ServerWorldTest {
protected:
    boost::asio::io_service io;  // outlives the players, which TearDown deletes
};

TEST_F(PlayerRecordTest, TheKeyIsTheLowAddressBytesThenTheQport) {
    EXPECT_EQ(playerKey(make_address("192.168.1.20"), 2), (1 << 24) + (20 << 16) + 2);
    EXPECT_EQ(playerKey(make_address("127.0.0.1"), 0xFFFF), (1 << 16) | 0xFFFF);
    // 32-bit arithmetic, zero-extended: never negative.
    EXPECT_EQ(playerKey(make_address("10.0.255.255"), 0xFFFF), std::int64_t{0xFFFFFFFF});
}

TEST_F(PlayerRecordTest, AddressesAgreeingInTheirLowBytesShareAKey) {
    EXPECT_EQ(playerKey(make_address("10.1.7.9"), 5), playerKey(make_address("172.16.7.9"), 5));
    EXPECT_NE(playerKey(make_address("10.1.7.9"), 5), playerKey(make_address("10.1.7.9"), 6));
}

TEST_F(PlayerRecordTest, APlayersKeyIgnoresTheUdpPort) {
    Player* player = ObjectFactory::getInstance()->createPlayer();
    player->qport = 3;
    player->udpEndpoint = udp::endpoint(make_address("127.0.0.1"), 9001);
    const std::int64_t key = player->getKey();
    EXPECT_EQ(key, playerKey(make_address("127.0.0.1"), 3));
    player->udpEndpoint = udp::endpoint(make_address("127.0.0.1"), 40000);
    EXPECT_EQ(player->getKey(), key);
    delete player;
}

TEST_F(PlayerRecordTest, APlayerIsFoundByKeyAndByConnectionUntilItLeaves) {
    SceneGraph* world = SceneGraph::getInstance();
    Player* player = ObjectFactory::getInstance()->createPlayer();
    player->qport = 2;
    player->udpEndpoint = udp::endpoint(make_address("127.0.0.1"), 9001);
    player->connection = TcpConnection::create(io);
    void* connection = player->getConnectionKey();
    ASSERT_NE(connection, nullptr);
    world->add(player);

    EXPECT_EQ(world->findByKey(playerKey(make_address("127.0.0.1"), 2)), player);
    EXPECT_EQ(world->findByKey(playerKey(make_address("127.0.0.1"), 3)), nullptr);
    EXPECT_EQ(world->findByConnection(connection), player);
    EXPECT_EQ(world->findByConnection(nullptr), nullptr);

    // Leaving: the connection entry goes first, then the player is removed.
    world->unfileConnection(connection);
    player->connection.reset();
    EXPECT_EQ(world->findByConnection(connection), nullptr);
    EXPECT_EQ(player->getConnectionKey(), nullptr);
    world->remove(player);
    EXPECT_EQ(world->findByKey(playerKey(make_address("127.0.0.1"), 2)), player);
    world->flushRemovals();
    EXPECT_EQ(world->findByKey(playerKey(make_address("127.0.0.1"), 2)), nullptr);
}
