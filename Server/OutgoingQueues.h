#pragma once

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/unordered_map.hpp>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Common/FrameCodec.h"

namespace google::protobuf {
class Message;
}
namespace Morvik {
class ObjectDestroy;
class ObjectInfo;
class ObjectUpdate;
}  // namespace Morvik
class Player;

// Everything the server sends in one tick, framed and batched by destination, sent by flush.
// Main thread only; TCP bytes reach the network thread through TcpConnection::write.
class OutgoingQueues {
public:
    using Buffer = std::shared_ptr<std::string>;
    using BufferList = std::vector<Buffer>;

    // A buffer takes frames while its length plus the frame's length value stays within this.
    static constexpr std::size_t kBatchLimit = 1000;

    static OutgoingQueues* getInstance();

    // The unbound, non-blocking IPv4 socket every server datagram leaves by.
    void openSocket(boost::asio::io_service& io);

    // The player's own TCP list, created on first use.
    BufferList& clientQueue(Player* player);
    // One frame of the message at the end of the buffer.
    static void appendFrame(const google::protobuf::Message& message, std::string& buffer,
                            MessageType type);
    void enqueueMessage(const google::protobuf::Message& message, BufferList& list,
                        MessageType type);

    void sendObjectInfoTo(Morvik::ObjectInfo& info, Player* player);
    void broadcastObjectInfo(Morvik::ObjectInfo& info);
    void broadcastObjectUpdate(Morvik::ObjectUpdate& update);
    // Projectiles go by UDP, anything else by TCP.
    void broadcastObjectDestroy(Morvik::ObjectDestroy& destroy, int objectType);

    // Per-client TCP lists first, then the UDP broadcasts, then the TCP broadcasts. Never
    // blocks: TCP buffers are handed to the network thread, and a datagram that does not fit
    // the socket buffer is dropped as a failed send.
    void flush();

    std::unique_ptr<boost::asio::ip::udp::socket> udpSocket;
    boost::unordered_map<Player*, BufferList> tcpQueues;
    BufferList tcpBroadcast;
    BufferList udpBroadcast;

    // Tests only: drops everything queued and closes the socket.
    void resetForTesting();

private:
    OutgoingQueues() = default;
};
