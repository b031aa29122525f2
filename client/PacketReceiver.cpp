#include "client/PacketReceiver.h"

#include <boost/asio/error.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cmath>

#include "Common/ConsoleLog.h"
#include "Common/GameState.h"
#include "Common/MessageConversions.h"
#include "Common/ObjectTypes.h"
#include "Common/Platform.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "client/ObjectFactory.h"
#include "client/Player.h"
#include "client/Projectile.h"
#include "client/Sender.h"

namespace {

// Health arrives as a float from the network; out of range or not a number gives no integer.
std::int32_t truncatedHealth(float health) {
    if (!(std::fabs(health) < 2147483648.0f)) {  // 2^31
        return 0;
    }
    return static_cast<std::int32_t>(health);
}

}  // namespace

PacketReceiver::PacketReceiver(boost::asio::io_service& io, SceneGraph* sceneGraph,
                               std::uint32_t udpTimeout)
    : AbstractPacketReceiver(io), sceneGraph(sceneGraph), udpTimer(io), udpTimeout(udpTimeout) {
    udpSocket.open(udp::v4());
    udpSocket.bind(udp::endpoint(udp::v4(), 0));
    armUDPReceive(udpSocket);
    udpTimer.expires_from_now(boost::posix_time::seconds(udpTimeout));
    waitForUdpTimeout();
}

void PacketReceiver::handleUDPReceive(const boost::system::error_code& error,
                                      const std::uint8_t* data, std::size_t count,
                                      udp::socket& socket) {
    restartUdpTimer();
    AbstractPacketReceiver::handleUDPReceive(error, data, count, socket);
}

void PacketReceiver::restartUdpTimer() {
    const std::size_t cancelled = udpTimer.expires_from_now(boost::posix_time::seconds(udpTimeout));
    if (cancelled > 0) {
        waitForUdpTimeout();
    } else {
        // The expiry is already on its way; it still ends the client.
        consoleLog("Timer already expired\n");
    }
}

void PacketReceiver::waitForUdpTimeout() {
    udpTimer.async_wait(
        [this](const boost::system::error_code& error) { handleUdpTimeout(error); });
}

void PacketReceiver::handleUdpTimeout(const boost::system::error_code& error) {
    if (error == boost::asio::error::operation_aborted) {
        return;
    }
    consoleLog("No UDP packet received in %u - exiting with error %s\n", udpTimeout,
               error.message().c_str());
    platform::endProcess(1);
}

bool PacketReceiver::onConnectionClosed(const TcpConnection::Ptr&) {
    consoleLog("Connection closed - exiting\n");
    platform::endProcess(0);
}

bool PacketReceiver::onWelcome(const Morvik::Welcome& message) {
    Sender::getInstance()->setQport(static_cast<std::uint16_t>(message.qport() & 0xFFFF));
    ownObjectId = message.id();
    return true;
}

bool PacketReceiver::onObjectInfo(const Morvik::ObjectInfo& message) {
    const std::uint64_t id = message.id();
    const std::uint32_t type = message.objecttype();
    Transform* object = sceneGraph->find(id);
    if (object == nullptr) {
        if (type == kPlayerType) {
            const Morvik::PlayerData& data = message.playerdata();
            if (!message.has_playerdata() || !data.has_blueteam() || !data.has_name()) {
                return true;
            }
            object = new Player(id, data.blueteam(), truncatedHealth(data.health()));
        } else if (type == kProjectileType) {
            auto* projectile = new Projectile(id);
            if (message.has_projectiledata()) {
                // The first sample keeps sampleVelocity, so the shot flies on from it.
                projectile->sampleVelocity = toVec3(message.projectiledata().velocity());
                projectile->blueTeam = message.projectiledata().blueteam();
            }
            object = projectile;
        } else {
            return true;
        }
        sceneGraph->add(object);
    }

    object->applyNetworkState(message.timestamp(), toVec3(message.position()),
                              toQuaternion(message.orientation()), true);

    if (type == kPlayerType) {
        const Morvik::PlayerData& data = message.playerdata();
        // An id known as something else than a ship takes no player data.
        if (auto* player = dynamic_cast<Player*>(object)) {
            player->applyPlayerData(data);
        }
        GameState* state = GameState::getInstance();
        if (data.has_redteamscore()) {
            state->redTeamScore = data.redteamscore();
        }
        if (data.has_blueteamscore()) {
            state->blueTeamScore = data.blueteamscore();
        }
    }
    return true;
}

bool PacketReceiver::onObjectUpdate(const Morvik::ObjectUpdate& message) {
    Transform* object = sceneGraph->find(message.id());
    if (object == nullptr) {
        return true;
    }
    object->applyNetworkState(message.timestamp(), toVec3(message.position()),
                              toQuaternion(message.orientation()), false);
    return true;
}

bool PacketReceiver::onObjectDestroy(const Morvik::ObjectDestroy& message) {
    Transform* object = sceneGraph->find(message.id());
    if (object == nullptr) {
        return true;
    }
    sceneGraph->remove(object);
    if (object->objectType == kPlayerType) {
        const auto* player = dynamic_cast<const Player*>(object);
        consoleLog("Player %s logged out\n", player != nullptr ? player->name.c_str() : "");
    } else if (object->objectType == kProjectileType) {
        ObjectFactory* factory = ObjectFactory::getInstance();
        Transform* explosion = factory->createType(kExplosionType);
        if (explosion != nullptr) {
            explosion->position = object->position;
            factory->addToScene(explosion);
        }
    }
    return true;
}
