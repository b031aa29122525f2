#include "Server/OutgoingQueues.h"

#include <boost/asio/error.hpp>
#include <boost/asio/socket_base.hpp>

#include "Common/ConsoleLog.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "Common/Statistics.h"
#include "Common/TcpConnection.h"
#include "Server/Player.h"
#include "Server/ServerClock.h"

namespace {

// The players at this moment, in group order.
std::vector<Player*> currentPlayers() {
    std::vector<Player*> players;
    SceneGraph::ObjectList* group = SceneGraph::getInstance()->getObjectsOfType(kPlayerType);
    if (group == nullptr) {
        return players;
    }
    players.reserve(group->size());
    for (Transform* object : *group) {
        if (auto* player = dynamic_cast<Player*>(object)) {
            players.push_back(player);
        }
    }
    return players;
}

std::uint64_t playerCount() {
    SceneGraph::ObjectList* group = SceneGraph::getInstance()->getObjectsOfType(kPlayerType);
    return group != nullptr ? group->size() : 0;
}

// Counting happens when the network thread has written the bytes (or failed to). One write
// may carry several buffers; it counts as that many sends. Only a connection's first failed
// write prints its line: a cut connection fails every write still queued and every one handed
// over until its player is gone, and one line tells of that.
TcpConnection::WriteDone countTcpWrite(const char* errorFormat, std::size_t buffers) {
    return [errorFormat, buffers](const boost::system::error_code& error, std::size_t written,
                                  bool firstFailure) {
        Statistics* stats = Statistics::getInstance();
        stats->addBytes(written, tcp_sent);
        stats->addPackets(buffers, tcp_sent);
        if (firstFailure) {
            consoleLog(errorFormat, error.message().c_str(), error.value());
        }
    };
}

// A tick's buffers for one connection as one write: the stream carries the same bytes in the
// same order, but the kernel and the network thread see one send instead of several.
std::shared_ptr<std::string> joinBuffers(const OutgoingQueues::BufferList& list) {
    if (list.size() == 1) {
        return list.front();
    }
    std::size_t total = 0;
    for (const OutgoingQueues::Buffer& buffer : list) {
        total += buffer->size();
    }
    auto joined = std::make_shared<std::string>();
    joined->reserve(total);
    for (const OutgoingQueues::Buffer& buffer : list) {
        joined->append(*buffer);
    }
    return joined;
}

const char kSendError[] = "Error while sending: %s (%i)\n";
const char kBroadcastError[] = "Error while broadcasting: %s (%i)\n";

}  // namespace

OutgoingQueues* OutgoingQueues::getInstance() {
    static OutgoingQueues* instance = new OutgoingQueues();
    return instance;
}

void OutgoingQueues::openSocket(boost::asio::io_service& io) {
    udpSocket = std::make_unique<boost::asio::ip::udp::socket>(io);
    udpSocket->open(boost::asio::ip::udp::v4());
    // The tick must never wait for the kernel: a datagram that does not fit is dropped.
    udpSocket->non_blocking(true);
}

OutgoingQueues::BufferList& OutgoingQueues::clientQueue(Player* player) {
    return tcpQueues[player];
}

void OutgoingQueues::appendFrame(const google::protobuf::Message& message, std::string& buffer,
                                 MessageType type) {
    ::appendFrame(buffer, type, message);
}

void OutgoingQueues::enqueueMessage(const google::protobuf::Message& message, BufferList& list,
                                    MessageType type) {
    const std::size_t frameLength = message.ByteSizeLong() + 1;
    // A frame too big for the limit gets a buffer of its own, but never leaves an empty one
    // behind: an empty buffer would go out as an empty datagram.
    if (list.empty() ||
        (!list.back()->empty() && list.back()->size() + frameLength > kBatchLimit)) {
        list.push_back(std::make_shared<std::string>());
    }
    appendFrame(message, *list.back(), type);
}

void OutgoingQueues::sendObjectInfoTo(Morvik::ObjectInfo& info, Player* player) {
    info.set_timestamp(serverClock());
    enqueueMessage(info, clientQueue(player), MessageType::ObjectInfo);
    Statistics::getInstance()->addMessages(1, tcp_sent);
}

void OutgoingQueues::broadcastObjectInfo(Morvik::ObjectInfo& info) {
    info.set_timestamp(serverClock());
    enqueueMessage(info, tcpBroadcast, MessageType::ObjectInfo);
    Statistics::getInstance()->addMessages(playerCount(), tcp_sent);
}

void OutgoingQueues::broadcastObjectUpdate(Morvik::ObjectUpdate& update) {
    update.set_timestamp(serverClock());
    enqueueMessage(update, udpBroadcast, MessageType::ObjectUpdate);
    Statistics::getInstance()->addMessages(playerCount(), udp_sent);
}

void OutgoingQueues::broadcastObjectDestroy(Morvik::ObjectDestroy& destroy, int objectType) {
    if (objectType == kProjectileType) {
        enqueueMessage(destroy, udpBroadcast, MessageType::ObjectDestroy);
        Statistics::getInstance()->addMessages(playerCount(), udp_sent);
    } else {
        enqueueMessage(destroy, tcpBroadcast, MessageType::ObjectDestroy);
        Statistics::getInstance()->addMessages(playerCount(), tcp_sent);
    }
}

void OutgoingQueues::flush() {
    const std::vector<Player*> players = currentPlayers();
    Statistics* stats = Statistics::getInstance();

    // Per-client data is handed over before the broadcasts, and each connection writes in
    // call order, so a client gets its Welcome and snapshot ahead of this tick's broadcasts.
    for (auto& entry : tcpQueues) {
        const std::shared_ptr<TcpConnection>& connection = entry.first->connection;
        if (!connection) {
            continue;  // the player left; its data goes nowhere
        }
        if (!entry.second.empty()) {
            connection->write(joinBuffers(entry.second),
                              countTcpWrite(kSendError, entry.second.size()));
        }
    }
    tcpQueues.clear();

    for (const Buffer& buffer : udpBroadcast) {
        for (Player* player : players) {
            boost::system::error_code error = boost::asio::error::bad_descriptor;
            std::size_t sent = 0;
            if (udpSocket) {
                sent =
                    udpSocket->send_to(boost::asio::buffer(*buffer), player->udpEndpoint, 0, error);
            }
            stats->addBytes(error ? 0 : sent, udp_sent);
            stats->addPackets(1, udp_sent);
            if (error) {
                consoleLog(kBroadcastError, error.message().c_str(), error.value());
            }
        }
    }

    // One buffer object is shared by every connection it goes to.
    if (!tcpBroadcast.empty()) {
        const Buffer joined = joinBuffers(tcpBroadcast);
        for (Player* player : players) {
            if (player->connection) {
                player->connection->write(joined,
                                          countTcpWrite(kBroadcastError, tcpBroadcast.size()));
            }
        }
    }
    udpBroadcast.clear();
    tcpBroadcast.clear();
}

void OutgoingQueues::resetForTesting() {
    tcpQueues.clear();
    tcpBroadcast.clear();
    udpBroadcast.clear();
    udpSocket.reset();
}
