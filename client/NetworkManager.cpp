#include "client/NetworkManager.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>
#include <exception>
#include <memory>

#include "Common/ConsoleLog.h"
#include "Common/Platform.h"
#include "Common/SceneGraph.h"
#include "client/PacketReceiver.h"
#include "client/Sender.h"

using boost::asio::ip::tcp;
using boost::asio::ip::udp;

NetworkManager* NetworkManager::getInstance() {
    static NetworkManager* instance = new NetworkManager();
    return instance;
}

bool NetworkManager::connect(std::string host, std::string port, std::uint32_t udpTimeout) {
    try {
        // A UDP socket that cannot be opened or bound is a failed connection like any other.
        receiver = new PacketReceiver(ioService, SceneGraph::getInstance(), udpTimeout);

        boost::thread network(&NetworkManager::runIoService);
        network.detach();

        tcpSocket = TcpConnection::create(ioService);
        tcp::resolver resolver(ioService);
        // Only families this host has an address of: a name whose first answer is IPv6 must
        // not be tried on a host that only has IPv4.
        const tcp::resolver::results_type results =
            resolver.resolve(host, port, tcp::resolver::address_configured);
        if (results.empty()) {
            throw boost::system::system_error(boost::asio::error::host_not_found, "resolve");
        }
        const tcp::endpoint server = *results.begin();
        // UDP goes to the same port number as TCP.
        auto serverEndpoint = std::make_unique<udp::endpoint>(server.address(), server.port());
        udpSocket = &receiver->getUDPSocket();

        consoleLog("Attempting to connect to %s:%s\n", host.c_str(), port.c_str());
        tcpSocket->socket().connect(server);
        consoleLog("Connected!\n");
        // From here on only the network thread touches the connection.
        PacketReceiver* connectedReceiver = receiver;
        TcpConnection::Ptr connection = tcpSocket;
        boost::asio::post(ioService, [connectedReceiver, connection]() {
            connectedReceiver->startTCPReceive(connection);
        });

        Sender* sender = Sender::getInstance();
        sender->setTcpSocket(tcpSocket.get());
        sender->setUdpSocket(udpSocket);
        sender->setServerEndpoint(serverEndpoint.release());  // lives as long as the process
        return true;
    } catch (const boost::system::system_error& error) {
        tcpSocket.reset();  // closes the socket
        consoleLog("Could not connect to %s:%s\n", host.c_str(), port.c_str());
        consoleLog("Exception: %s\n", error.what());
        return false;
    }
}

void NetworkManager::processEvents() {
    if (receiver != nullptr) {
        receiver->processEvents();
    }
}

std::uint64_t NetworkManager::getOwnObjectId() {
    return receiver != nullptr ? receiver->ownObjectId : kNoObjectId;
}

void NetworkManager::stop() {
    ioService.stop();
}

void NetworkManager::runIoService() {
    try {
        getInstance()->ioService.run();
    } catch (const std::exception& error) {
        // Without its network thread the client can neither hear nor be heard.
        consoleLog("Exception: %s\n", error.what());
        platform::endProcess(1);
    }
}
