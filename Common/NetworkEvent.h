#pragma once

#include <boost/asio/ip/udp.hpp>
#include <cstdint>
#include <memory>

namespace google::protobuf {
class Message;
}
class TcpConnection;

enum EventKind { MessageReceived = 0, NewConnection = 1, ConnectionClosed = 2 };

// One received message or connection event, handed from the network thread to the main
// thread by shared pointer. Filled before it is published, only read afterwards.
struct NetworkEvent {
    std::uint16_t qport = 0;  // ClientUpdates from the server's UDP receive only
    std::int32_t kind = MessageReceived;
    std::int32_t type = 0;  // MessageType; MessageReceived only
    std::unique_ptr<google::protobuf::Message> message;
    std::unique_ptr<boost::asio::ip::udp::endpoint> sender;  // server UDP ClientUpdates only
    // The connection a NewConnection or ConnectionClosed concerns. Shared, so that a socket
    // never dies under a pending network-thread operation.
    std::shared_ptr<TcpConnection> connection;

    NetworkEvent();
    ~NetworkEvent();
};

using NetworkEventPtr = std::shared_ptr<NetworkEvent>;
