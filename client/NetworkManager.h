#pragma once

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <cstdint>
#include <string>

#include "Common/TcpConnection.h"

class PacketReceiver;

// The client's network front: the event loop and its thread, the connection to the server and
// the receiver. connect, processEvents, getOwnObjectId and stop run on the main thread.
class NetworkManager {
public:
    static NetworkManager* getInstance();

    // UDP socket and watchdog, the network thread, name resolution, a blocking TCP connect,
    // then the Sender wired. False after a reported failure.
    bool connect(std::string host, std::string port, std::uint32_t udpTimeout);
    // The receiver's TCP events, then its UDP events, dispatched on this thread.
    void processEvents();
    // kNoObjectId until the first Welcome.
    std::uint64_t getOwnObjectId();
    // Makes the network thread's loop return; the thread is not joined.
    void stop();

    // The network thread's body.
    static void runIoService();

    boost::asio::io_service ioService;
    TcpConnection::Ptr tcpSocket;
    boost::asio::ip::udp::socket* udpSocket = nullptr;
    PacketReceiver* receiver = nullptr;

private:
    NetworkManager() = default;
};
