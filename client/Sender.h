#pragma once

#include <boost/asio/ip/udp.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Common/FrameCodec.h"
#include "Common/Quaternion.h"

namespace google::protobuf {
class Message;
}
namespace Morvik {
class ClientUpdate;
class Orientation;
}  // namespace Morvik
class TcpConnection;

// The client's only way of sending: one schema message per datagram, qport in front, to the
// server's UDP endpoint. Unwired (no socket or endpoint yet) it drops everything silently.
//
// The setters, buildPacket and send run on the main thread; the socket itself is only used on
// the network thread, to which send hands each datagram.
class Sender {
public:
    static Sender* getInstance();

    void setQport(std::uint16_t qport);
    void setServerEndpoint(boost::asio::ip::udp::endpoint* endpoint);
    void setUdpSocket(boost::asio::ip::udp::socket* socket);
    void setTcpSocket(TcpConnection* connection);

    // qport (u16 LE), then one frame. The caller owns the result.
    std::string* buildPacket(MessageType type, const google::protobuf::Message& message);
    // Returns at once: the message's bytes are already in the datagram.
    void send(MessageType type, const google::protobuf::Message& message);
    void sendClientUpdate(const Morvik::ClientUpdate& update);
    // Network thread: the send completion. Counts a sent datagram, or reports the error.
    // The datagram is freed by the completion that owns it, right after this returns.
    void handleSend(const boost::system::error_code& error, std::size_t bytesSent,
                    const std::string& datagram);

    TcpConnection* tcpSocket = nullptr;  // not owned; nothing is sent over it from here
    boost::asio::ip::udp::socket* udpSocket = nullptr;
    boost::asio::ip::udp::endpoint* serverEndpoint = nullptr;
    std::uint16_t qport = 0;  // 0 until the first Welcome

private:
    Sender() = default;
};

// Fills a ClientUpdate's orientation from the camera's quaternion.
void toOrientation(Morvik::Orientation* out, const Quaternion& q);
