#include "Server/ServerPacketReceiver.h"

#include <boost/asio/error.hpp>
#include <boost/asio/placeholders.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/bind/bind.hpp>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "Common/ConsoleLog.h"
#include "Common/FrameCodec.h"

namespace {

constexpr std::size_t kQportSize = 2;

// A port the system picked for TCP may be taken for UDP; a few more picks settle it.
constexpr int kSharedPortAttempts = 16;

// Errors that mean the process (or the system) is out of descriptors or memory: accepting
// again at once would fail the same way, in a tight loop.
bool isResourceExhaustion(const boost::system::error_code& error) {
    if (error.category() != boost::system::system_category()) {
        return false;
    }
    switch (error.value()) {
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            return true;
        default:
            return false;
    }
}

}  // namespace

ServerPacketReceiver::ServerPacketReceiver(boost::asio::io_service& io, std::uint16_t udpPort,
                                           std::uint16_t tcpPort)
    : AbstractPacketReceiver(io), acceptor(io), acceptRetryTimer(io) {
    // With no port given the system picks one for TCP, and UDP has to take that same number:
    // clients send their datagrams to the port they connected to.
    const bool sharedPort = udpPort == 0 && tcpPort == 0;
    // A picked port found taken for UDP stays held for TCP until a pick succeeds: released at
    // once, the system may hand the same one back every time.
    std::vector<boost::asio::ip::tcp::acceptor> takenForUdp;
    for (int attempt = 1;; ++attempt) {
        bool listening = false;
        try {
            listenOn(tcpPort);
            listening = true;
            udpSocket.open(udp::v4());
            udpSocket.bind(udp::endpoint(udp::v4(), sharedPort ? this->tcpPort() : udpPort));
            break;
        } catch (const boost::system::system_error& error) {
            boost::system::error_code ignored;
            udpSocket.close(ignored);
            const bool udpTaken = listening && error.code() == boost::asio::error::address_in_use;
            if (sharedPort && udpTaken && attempt < kSharedPortAttempts) {
                takenForUdp.push_back(std::move(acceptor));  // leaves `acceptor` closed
                continue;
            }
            // The port must not stay half taken by a server that failed to start.
            acceptor.close(ignored);
            throw;
        }
    }

    startAccept();
    armUDPReceive(udpSocket);
}

void ServerPacketReceiver::listenOn(std::uint16_t port) {
    using boost::asio::ip::tcp;
    const tcp::endpoint endpoint(tcp::v4(), port);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(boost::asio::socket_base::max_listen_connections);
}

ServerPacketReceiver::~ServerPacketReceiver() {
    boost::system::error_code ignored;
    acceptRetryTimer.cancel(ignored);
    acceptor.close(ignored);
}

void ServerPacketReceiver::startAccept() {
    const TcpConnection::Ptr connection = TcpConnection::create(ioService);
    acceptor.async_accept(connection->socket(),
                          boost::bind(&ServerPacketReceiver::handleTCPConnection, this,
                                      boost::asio::placeholders::error, connection));
}

void ServerPacketReceiver::acceptLater() {
    acceptRetryTimer.expires_from_now(boost::posix_time::milliseconds(kAcceptBackoffMs));
    acceptRetryTimer.async_wait([this](const boost::system::error_code& error) {
        if (!error) {
            startAccept();
        }
    });
}

void ServerPacketReceiver::handleTCPConnection(const boost::system::error_code& error,
                                               const TcpConnection::Ptr& connection) {
    if (error) {
        consoleLog("Error in ServerPacketReceiver::handleTCPConnection: %s\n",
                   error.message().c_str());
        handleTCPClose(error, connection);
        if (error == boost::asio::error::operation_aborted || !acceptor.is_open()) {
            return;  // the acceptor itself was closed
        }
        // One failed accept must not end accepting for the rest of the run.
        if (isResourceExhaustion(error)) {
            acceptLater();
        } else {
            startAccept();
        }
        return;
    }

    boost::system::error_code peerError;
    const boost::asio::ip::tcp::endpoint peer = connection->socket().remote_endpoint(peerError);
    if (peerError) {
        // The peer is gone already; there is nobody to make a player for.
        consoleLog("Error in ServerPacketReceiver::handleTCPConnection: %s\n",
                   peerError.message().c_str());
        connection->close();
        startAccept();
        return;
    }
    consoleLog("New TCP connection from: %s\n", peer.address().to_string().c_str());
    {
        boost::mutex::scoped_lock lock(peersMutex);
        peers[connection.get()] = peer.address();
    }

    // A client that stops reading must not make the server buffer without bound.
    connection->setOverflowHandler([this](const TcpConnection::Ptr& stalled) {
        handleTCPClose(boost::asio::error::no_buffer_space, stalled);
    });
    armTCPReceive(connection);
    startAccept();

    auto event = std::make_shared<NetworkEvent>();
    event->kind = NewConnection;
    event->connection = connection;
    pushTCPEvent(event);
}

void ServerPacketReceiver::handleTCPClose(const boost::system::error_code& error,
                                          const TcpConnection::Ptr& connection) {
    {
        boost::mutex::scoped_lock lock(peersMutex);
        peers.erase(connection.get());
    }
    AbstractPacketReceiver::handleTCPClose(error, connection);
}

bool ServerPacketReceiver::peerAddress(const TcpConnection::Ptr& connection,
                                       boost::asio::ip::address& address) {
    boost::mutex::scoped_lock lock(peersMutex);
    const auto it = peers.find(connection.get());
    if (it == peers.end()) {
        return false;
    }
    address = it->second;
    return true;
}

std::uint16_t ServerPacketReceiver::tcpPort() const {
    boost::system::error_code ignored;
    return acceptor.local_endpoint(ignored).port();
}

std::uint16_t ServerPacketReceiver::udpPort() const {
    boost::system::error_code ignored;
    return udpSocket.local_endpoint(ignored).port();
}

void ServerPacketReceiver::handleUDPReceive(const boost::system::error_code& error,
                                            const std::uint8_t* data, std::size_t count,
                                            udp::socket& socket) {
    if (!checkUDPCompletion(error, count, socket)) {
        return;
    }

    // Without a whole qport there is nothing to read; the datagram is dropped.
    if (count >= kQportSize) {
        const std::uint16_t qport = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
        for (const NetworkEventPtr& event : splitDatagram(data + kQportSize, count - kQportSize)) {
            if (event->type == static_cast<int>(MessageType::ClientUpdate)) {
                event->qport = qport;
                event->sender = std::make_unique<udp::endpoint>(senderEndpoint);
            }
            pushUDPEvent(event);
        }
    }
    armUDPReceive(socket);
}

bool ServerPacketReceiver::onConnectionClosed(const TcpConnection::Ptr& connection) {
    if (connection) {
        // The receive side closed it already; closing twice is harmless, and only the
        // network thread may touch the socket.
        ioService.post([connection] { connection->close(); });
    }
    return true;
}
