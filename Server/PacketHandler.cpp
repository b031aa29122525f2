#include "Server/PacketHandler.h"

#include <cmath>

#include "Common/ConsoleLog.h"
#include "Common/GameState.h"
#include "Common/MessageConversions.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "Common/Statistics.h"
#include "Server/ObjectFactory.h"
#include "Server/OutgoingQueues.h"
#include "Server/Player.h"
#include "Server/PlayerKey.h"
#include "Server/ServerClock.h"

namespace {

// The pose and team data that every ObjectInfo about a player carries.
void describePlayer(Morvik::ObjectInfo& info, Player* player) {
    info.set_id(player->id);
    info.set_objecttype(kPlayerType);
    setPosition(info.mutable_position(), player->position);
    setOrientation(info.mutable_orientation(), player->orientation);
    Morvik::PlayerData* data = info.mutable_playerdata();
    data->set_blueteam(player->blueTeam);
    data->set_health(player->health);
    data->set_name(player->name);
}

// Clients send unit quaternions. Anything far from one is no rotation: rotating by it scales
// by its squared length, which overflows into infinities and NaNs for large values, and the
// ship's state would spread them to every client. So only a squared length within 20 % of 1
// is taken (as sent, not normalised).
bool isRotation(const Morvik::Orientation& orientation) {
    const double w = orientation.w();
    const double x = orientation.x();
    const double y = orientation.y();
    const double z = orientation.z();
    const double squaredLength = w * w + x * x + y * y + z * z;
    return std::isfinite(squaredLength) && squaredLength >= 0.8 && squaredLength <= 1.2;
}

}  // namespace

PacketHandler::udp::endpoint PacketHandler::clientEndpoint(
    const boost::asio::ip::address& address) {
    return udp::endpoint(address, clientUdpPort);
}

bool PacketHandler::onNewConnection(const TcpConnection::Ptr& connection) {
    // The address is known only while the connection is open. A client that is gone already
    // gets no player; its close event follows in this same list.
    boost::asio::ip::address address;
    if (!peerAddress(connection, address)) {
        return true;
    }

    Player* player = static_cast<Player*>(ObjectFactory::getInstance()->createType(kPlayerType));
    player->udpEndpoint = clientEndpoint(address);
    player->connection = connection;
    player->name = "Player";
    ++nextQport;
    player->qport = nextQport;
    world->add(player);

    Statistics* statistics = Statistics::getInstance();
    OutgoingQueues::BufferList& ownQueue = queues->clientQueue(player);

    Morvik::Welcome welcome;
    welcome.set_id(player->id);
    welcome.set_qport(nextQport);
    Morvik::PlayerData* welcomeData = welcome.mutable_playerdata();
    welcomeData->set_blueteam(player->blueTeam);
    welcomeData->set_health(player->health);
    welcomeData->set_name(player->name);
    queues->enqueueMessage(welcome, ownQueue, MessageType::Welcome);
    statistics->addMessages(1, tcp_sent);

    // Everybody, the newcomer included, learns of the new ship.
    const GameState* state = GameState::getInstance();
    Morvik::ObjectInfo announcement;
    describePlayer(announcement, player);
    Morvik::PlayerData* announced = announcement.mutable_playerdata();
    announced->set_score(player->score);
    announced->set_redteamscore(state->redTeamScore);
    announced->set_blueteamscore(state->blueTeamScore);
    queues->broadcastObjectInfo(announcement);

    // The newcomer learns of every ship, its own included.
    if (SceneGraph::ObjectList* players = world->getObjectsOfType(kPlayerType)) {
        for (Transform* object : *players) {
            Morvik::ObjectInfo info;
            describePlayer(info, static_cast<Player*>(object));
            info.set_timestamp(serverClock());
            queues->enqueueMessage(info, ownQueue, MessageType::ObjectInfo);
            statistics->addMessages(1, tcp_sent);
        }
    }
    return true;
}

bool PacketHandler::onConnectionClosed(const TcpConnection::Ptr& connection) {
    Transform* found = world->findByConnection(connection.get());
    if (!found) {
        return ServerPacketReceiver::onConnectionClosed(connection);
    }
    Player* player = static_cast<Player*>(found);
    consoleLog("Player %s left\n", player->name.c_str());

    world->unfileConnection(connection.get());
    player->connection.reset();
    world->remove(player);

    Morvik::ObjectDestroy destroy;
    destroy.set_id(player->id);
    queues->broadcastObjectDestroy(destroy, kPlayerType);
    return ServerPacketReceiver::onConnectionClosed(connection);
}

bool PacketHandler::onClientUpdate(const Morvik::ClientUpdate& message, std::uint16_t qport,
                                   udp::endpoint sender) {
    if (!isRotation(message.orientation())) {
        return true;
    }
    Transform* found = world->findByKey(playerKey(sender.address(), qport));
    if (!found) {
        return true;
    }
    Player* player = static_cast<Player*>(found);
    player->udpEndpoint = sender;
    player->orientation = toQuaternion(message.orientation());
    player->inputMask = message.boosterson();
    return true;
}
