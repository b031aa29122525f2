#include "Common/AbstractPacketReceiver.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/error_code.hpp>
#include <cstring>
#include <utility>

#include "Common/ConsoleLog.h"
#include "Common/FrameCodec.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/Statistics.h"

namespace {

// Clears the list when the drain ends, also when a handler throws, so that no event is
// dispatched twice.
class ClearOnExit {
public:
    explicit ClearOnExit(AbstractPacketReceiver::EventList& list) : list_(list) {}
    ~ClearOnExit() { list_.clear(); }
    ClearOnExit(const ClearOnExit&) = delete;
    ClearOnExit& operator=(const ClearOnExit&) = delete;

private:
    AbstractPacketReceiver::EventList& list_;
};

template <typename T>
const T* messageAs(const NetworkEvent& event) {
    return dynamic_cast<const T*>(event.message.get());
}

}  // namespace

AbstractPacketReceiver::AbstractPacketReceiver(boost::asio::io_service& io)
    : ioService(io), udpSocket(io), senderEndpoint(udp::v4(), 0), leftovers(11) {}

AbstractPacketReceiver::~AbstractPacketReceiver() = default;

void AbstractPacketReceiver::handleTCPReceive(const boost::system::error_code& error,
                                              const std::uint8_t* data, std::size_t count,
                                              const TcpConnection::Ptr& connection) {
    Statistics* stats = Statistics::getInstance();
    stats->addBytes(count, tcp_rcvd);
    stats->addPackets(1, tcp_rcvd);

    // A connection closed by its owner meanwhile is over, whatever this read brought.
    if (error || connection->isClosed()) {
        handleTCPClose(error, connection);
        return;
    }

    std::string leftover;
    const auto entry = leftovers.find(connection.get());
    if (entry != leftovers.end()) {
        leftover.swap(entry->second);
        leftovers.erase(entry);
    }

    bool malformed = false;
    for (NetworkEventPtr& event : splitFrames(data, count, leftover, malformed)) {
        pushTCPEvent(std::move(event));
    }
    if (malformed) {
        // Frame boundaries are lost for good on this stream.
        handleTCPClose(boost::system::errc::make_error_code(boost::system::errc::bad_message),
                       connection);
        return;
    }
    if (!leftover.empty()) {
        leftovers.emplace(connection.get(), std::move(leftover));
    }
    armTCPReceive(connection);
}

void AbstractPacketReceiver::handleTCPClose(const boost::system::error_code& error,
                                            const TcpConnection::Ptr& connection) {
    if (!connection) {
        return;
    }
    leftovers.erase(connection.get());
    // Several completions may report the end of one connection; it is closed and reported
    // once.
    if (!connection->close()) {
        return;
    }
    consoleLog("TCP connection CLOSED err:%s\n", error.message().c_str());
    auto event = std::make_shared<NetworkEvent>();
    event->kind = ConnectionClosed;
    event->connection = connection;
    pushTCPEvent(std::move(event));
}

void AbstractPacketReceiver::handleUDPReceive(const boost::system::error_code& error,
                                              const std::uint8_t* data, std::size_t count,
                                              udp::socket& socket) {
    if (!checkUDPCompletion(error, count, socket)) {
        return;
    }
    for (NetworkEventPtr& event : splitDatagram(data, count)) {
        pushUDPEvent(std::move(event));
    }
    armUDPReceive(socket);
}

bool AbstractPacketReceiver::checkUDPCompletion(const boost::system::error_code& error,
                                                std::size_t count, udp::socket& socket) {
    Statistics* stats = Statistics::getInstance();
    stats->addBytes(count, udp_rcvd);
    stats->addPackets(1, udp_rcvd);
    if (!error) {
        return true;
    }
    consoleLog("Error in handleUDPReceive: %s (%d)\n", error.message().c_str(), error.value());
    // One failed receive must not end everyone's input; only a socket that is going away does.
    if (error != boost::asio::error::operation_aborted && socket.is_open()) {
        armUDPReceive(socket);
    }
    return false;
}

std::vector<NetworkEventPtr> AbstractPacketReceiver::splitDatagram(const std::uint8_t* data,
                                                                   std::size_t size) {
    std::string leftover;
    bool malformed = false;
    std::vector<NetworkEventPtr> events = splitFrames(data, size, leftover, malformed);
    if (!leftover.empty()) {
        // Network bytes: print up to the first zero byte, and nothing unprintable.
        const std::size_t textLength = strnlen(leftover.data(), leftover.size());
        consoleLog("Error has leftovers after UDP %d of %d - %s\n",
                   static_cast<int>(leftover.size()), static_cast<int>(size),
                   escapeBytes(leftover.data(), textLength).c_str());
    }
    return events;
}

void AbstractPacketReceiver::startTCPReceive(const TcpConnection::Ptr& connection) {
    armTCPReceive(connection);
}

void AbstractPacketReceiver::armTCPReceive(const TcpConnection::Ptr& connection) {
    // The handler holds the connection, so its buffer lives as long as the receive.
    connection->socket().async_receive(
        boost::asio::buffer(connection->receiveBuffer(), TcpConnection::kReceiveBufferSize),
        [this, connection](const boost::system::error_code& error, std::size_t count) {
            handleTCPReceive(error, connection->receiveBuffer(), count, connection);
        });
}

void AbstractPacketReceiver::armUDPReceive(udp::socket& socket) {
    socket.async_receive_from(
        boost::asio::buffer(udpBuffer), senderEndpoint,
        [this, &socket](const boost::system::error_code& error, std::size_t count) {
            handleUDPReceive(error, udpBuffer.data(), count, socket);
        });
}

void AbstractPacketReceiver::pushTCPEvent(NetworkEventPtr event) {
    Statistics::getInstance()->addMessages(1, tcp_rcvd);
    boost::mutex::scoped_lock lock(tcpMutex);
    tcpEvents.push_back(std::move(event));
}

void AbstractPacketReceiver::pushUDPEvent(NetworkEventPtr event) {
    Statistics::getInstance()->addMessages(1, udp_rcvd);
    boost::mutex::scoped_lock lock(udpMutex);
    udpEvents.push_back(std::move(event));
}

void AbstractPacketReceiver::processEvents() {
    drainTCPEvents();
    drainUDPEvents();
}

void AbstractPacketReceiver::drainTCPEvents() {
    drainEventList(tcpEvents, tcpMutex);
}

void AbstractPacketReceiver::drainUDPEvents() {
    drainEventList(udpEvents, udpMutex);
}

void AbstractPacketReceiver::drainEventList(EventList& list, boost::mutex& mutex) {
    boost::mutex::scoped_lock lock(mutex);
    // Declared after the lock, so the list is cleared before the lock is released.
    ClearOnExit clear(list);
    for (const NetworkEventPtr& event : list) {
        if (!dispatchEvent(event)) {
            break;
        }
    }
}

bool AbstractPacketReceiver::dispatchEvent(NetworkEventPtr event) {
    if (!event) {
        return true;
    }
    switch (event->kind) {
        case MessageReceived:
            break;
        case NewConnection:
            return onNewConnection(event->connection);
        case ConnectionClosed:
            return onConnectionClosed(event->connection);
        default:
            return false;
    }

    // A message event whose message does not match its type is skipped; only the codec makes
    // these events, so this guards against our own mistakes, not the network.
    switch (event->type) {
        case static_cast<int>(MessageType::ObjectInfo): {
            const auto* message = messageAs<Morvik::ObjectInfo>(*event);
            return message ? onObjectInfo(*message) : true;
        }
        case static_cast<int>(MessageType::ObjectUpdate): {
            const auto* message = messageAs<Morvik::ObjectUpdate>(*event);
            return message ? onObjectUpdate(*message) : true;
        }
        case static_cast<int>(MessageType::ObjectDestroy): {
            const auto* message = messageAs<Morvik::ObjectDestroy>(*event);
            return message ? onObjectDestroy(*message) : true;
        }
        case static_cast<int>(MessageType::ClientUpdate): {
            const auto* message = messageAs<Morvik::ClientUpdate>(*event);
            // Only the server's UDP receive knows who sent a ClientUpdate; one that came any
            // other way cannot be matched to a player.
            if (!message || !event->sender) {
                return true;
            }
            return onClientUpdate(*message, event->qport, *event->sender);
        }
        case static_cast<int>(MessageType::Welcome): {
            const auto* message = messageAs<Morvik::Welcome>(*event);
            return message ? onWelcome(*message) : true;
        }
        default:
            return false;
    }
}

bool AbstractPacketReceiver::onNewConnection(const TcpConnection::Ptr&) {
    return true;
}

bool AbstractPacketReceiver::onConnectionClosed(const TcpConnection::Ptr&) {
    return true;
}

bool AbstractPacketReceiver::onWelcome(const Morvik::Welcome&) {
    return true;
}

bool AbstractPacketReceiver::onObjectInfo(const Morvik::ObjectInfo&) {
    return true;
}

bool AbstractPacketReceiver::onObjectUpdate(const Morvik::ObjectUpdate&) {
    return true;
}

bool AbstractPacketReceiver::onObjectDestroy(const Morvik::ObjectDestroy&) {
    return true;
}

bool AbstractPacketReceiver::onClientUpdate(const Morvik::ClientUpdate&, std::uint16_t,
                                            udp::endpoint) {
    return true;
}
