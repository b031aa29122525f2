#pragma once

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/udp.hpp>
#include <cstdint>

#include "Server/ServerPacketReceiver.h"

class OutgoingQueues;
class SceneGraph;

// The server's packet receiver: a new connection becomes a player, a closed one leaves, and a
// ClientUpdate steers its player. Its handlers run on the main thread inside the tick's drain.
class PacketHandler : public ServerPacketReceiver {
public:
    // Where a player's datagrams go until its first ClientUpdate shows its real port.
    static constexpr std::uint16_t clientUdpPort = 9001;

    using ServerPacketReceiver::ServerPacketReceiver;

    bool onNewConnection(const TcpConnection::Ptr& connection) override;
    bool onConnectionClosed(const TcpConnection::Ptr& connection) override;
    bool onClientUpdate(const Morvik::ClientUpdate& message, std::uint16_t qport,
                        udp::endpoint sender) override;

    // address at clientUdpPort, in the address's own family.
    static udp::endpoint clientEndpoint(const boost::asio::ip::address& address);

    SceneGraph* world = nullptr;
    OutgoingQueues* queues = nullptr;
    std::uint16_t nextQport = 1;  // the last qport handed out
};
