#pragma once

#include <boost/asio/deadline_timer.hpp>
#include <cstdint>

#include "Common/AbstractPacketReceiver.h"

class SceneGraph;

// The own object id before the first Welcome: it names no object (the carriers use id 0).
constexpr std::uint64_t kNoObjectId = UINT64_MAX;

// The client's receiver: its UDP socket with the watchdog that ends the client after
// udpTimeout seconds without a datagram, and the handlers that turn the server's messages
// into changes of the local world (main thread).
class PacketReceiver : public AbstractPacketReceiver {
public:
    // Opens and binds the UDP socket (IPv4, a port the system picks), starts receiving and
    // arms the watchdog. Throws boost::system::system_error when the socket cannot be had.
    PacketReceiver(boost::asio::io_service& io, SceneGraph* sceneGraph, std::uint32_t udpTimeout);

    // Network thread.
    void handleUDPReceive(const boost::system::error_code& error, const std::uint8_t* data,
                          std::size_t count, udp::socket& socket) override;
    void restartUdpTimer();
    void handleUdpTimeout(const boost::system::error_code& error);

    // Main thread.
    bool onConnectionClosed(const TcpConnection::Ptr& connection) override;
    bool onWelcome(const Morvik::Welcome& message) override;
    bool onObjectInfo(const Morvik::ObjectInfo& message) override;
    bool onObjectUpdate(const Morvik::ObjectUpdate& message) override;
    bool onObjectDestroy(const Morvik::ObjectDestroy& message) override;

    std::uint64_t ownObjectId = kNoObjectId;
    SceneGraph* sceneGraph;
    boost::asio::deadline_timer udpTimer;  // network thread only, after construction
    std::uint32_t udpTimeout;

private:
    void waitForUdpTimeout();
};
