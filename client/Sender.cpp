#include "client/Sender.h"

#include <boost/asio/post.hpp>
#include <memory>

#include "Common/ConsoleLog.h"
#include "Common/MessageConversions.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/Statistics.h"

namespace {
constexpr std::size_t kQportBytes = 2;
}

Sender* Sender::getInstance() {
    static Sender* instance = new Sender();
    return instance;
}

void Sender::setQport(std::uint16_t value) {
    qport = value;
}

void Sender::setServerEndpoint(boost::asio::ip::udp::endpoint* endpoint) {
    serverEndpoint = endpoint;
}

void Sender::setUdpSocket(boost::asio::ip::udp::socket* socket) {
    udpSocket = socket;
}

void Sender::setTcpSocket(TcpConnection* connection) {
    tcpSocket = connection;
}

std::string* Sender::buildPacket(MessageType type, const google::protobuf::Message& message) {
    auto* datagram = new std::string;
    datagram->push_back(static_cast<char>(qport & 0xFF));
    datagram->push_back(static_cast<char>(qport >> 8));
    appendFrame(*datagram, type, message);
    return datagram;
}

void Sender::send(MessageType type, const google::protobuf::Message& message) {
    if (udpSocket == nullptr || serverEndpoint == nullptr) {
        return;
    }
    // Owned by the handlers from here on, so a datagram still queued when the event loop is
    // torn down is freed with them.
    std::shared_ptr<std::string> datagram(buildPacket(type, message));
    if (datagram->size() == kQportBytes) {
        // The message did not fit a frame (appendFrame said so); a bare qport means nothing.
        return;
    }
    // The socket belongs to the network thread; the datagram goes there with its address.
    boost::asio::ip::udp::socket* socket = udpSocket;
    const boost::asio::ip::udp::endpoint endpoint = *serverEndpoint;
    boost::asio::post(socket->get_executor(), [this, socket, endpoint, datagram]() {
        socket->async_send_to(
            boost::asio::buffer(*datagram), endpoint,
            [this, datagram](const boost::system::error_code& error, std::size_t bytesSent) {
                handleSend(error, bytesSent, *datagram);
            });
    });
}

void Sender::sendClientUpdate(const Morvik::ClientUpdate& update) {
    send(MessageType::ClientUpdate, update);
}

void Sender::handleSend(const boost::system::error_code& error, std::size_t bytesSent,
                        const std::string& /*datagram*/) {
    if (error) {
        consoleLog("Error while sending: %s (code: %d)\n", error.message().c_str(), error.value());
    } else {
        Statistics::getInstance()->addBytes(bytesSent, udp_sent);
        Statistics::getInstance()->addPackets(1, udp_sent);
    }
}

void toOrientation(Morvik::Orientation* out, const Quaternion& q) {
    setOrientation(out, q);
}
