#include "tools/testkit/ClientSession.h"

#include "Common/MessageConversions.h"

void ClientSession::takeWelcome(const std::uint8_t* body, std::size_t size) {
    welcomed_ = welcome_.ParseFromArray(body, static_cast<int>(size));
}

const std::string& ClientSession::datagram(const Morvik::ClientUpdate& update) {
    datagram_ = qportPrefix(qport());
    appendFrame(datagram_, MessageType::ClientUpdate, update);
    return datagram_;
}

std::string rawFrame(std::uint16_t length, std::uint8_t type, const std::string& body) {
    std::string frame;
    frame.push_back(static_cast<char>(length & 0xFF));
    frame.push_back(static_cast<char>(length >> 8));
    frame.push_back(static_cast<char>(type));
    return frame + body;
}

std::string qportPrefix(std::uint16_t qport) {
    return std::string{static_cast<char>(qport & 0xFF), static_cast<char>(qport >> 8)};
}

std::string frameOf(MessageType type, const google::protobuf::Message& message) {
    std::string frame;
    appendFrame(frame, type, message);
    return frame;
}

Morvik::ClientUpdate makeClientUpdate(const Quaternion& orientation, std::uint32_t controls) {
    Morvik::ClientUpdate update;
    setOrientation(update.mutable_orientation(), orientation);
    update.set_boosterson(controls);
    return update;
}

std::string clientUpdateFrame(const Quaternion& orientation, std::uint32_t controls) {
    return frameOf(MessageType::ClientUpdate, makeClientUpdate(orientation, controls));
}

std::string clientDatagram(std::uint16_t qport, const Morvik::ClientUpdate& update) {
    return qportPrefix(qport) + frameOf(MessageType::ClientUpdate, update);
}
