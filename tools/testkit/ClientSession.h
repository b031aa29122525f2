#pragma once
// The game's protocol as a client speaks it, without the sockets: joining (the Welcome gives
// the qport and the ship's id), the datagram of a ClientUpdate with the qport in front, and the
// server's TCP stream and datagrams cut into frames. The scripted players, the load generator
// and the raw client of the hostile tests each run it on sockets of their own.

#include <cstdint>
#include <string>

#include "Common/FrameCodec.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/Quaternion.h"
#include "tools/testkit/FrameScanner.h"

class ClientSession {
public:
    // Takes the server's TCP bytes as they come and calls onFrame(type, body, size) for every
    // whole frame, after taking in the first Welcome. False once a zero length has made the
    // stream unreadable: the connection is lost then.
    template <typename OnFrame>
    bool readTcp(const std::uint8_t* data, std::size_t size, OnFrame&& onFrame);

    bool welcomed() const { return welcomed_; }
    const Morvik::Welcome& welcome() const { return welcome_; }
    // The server hands out 16-bit numbers; only the low half goes in front of a datagram.
    std::uint16_t qport() const { return static_cast<std::uint16_t>(welcome_.qport()); }

    // The datagram of update with the qport of the Welcome (0 before it), built in a buffer
    // that the next call reuses.
    const std::string& datagram(const Morvik::ClientUpdate& update);

private:
    void takeWelcome(const std::uint8_t* body, std::size_t size);

    std::string pending_;  // bytes of a frame not yet complete
    Morvik::Welcome welcome_;
    bool welcomed_ = false;
    std::string datagram_;
};

// One datagram from the server: calls onFrame(type, body, size) for every frame. False when
// bytes are left over or a length is zero, as a frame never spans datagrams.
template <typename OnFrame>
bool readDatagram(const std::uint8_t* data, std::size_t size, OnFrame&& onFrame) {
    bool malformed = false;
    const std::size_t used = forEachFrame(data, size, malformed, onFrame);
    return !malformed && used == size;
}

// What a client writes, also wrongly on purpose: a frame exactly as given (length, type byte,
// body), the qport prefix of a datagram, well-formed frames and datagrams.
std::string rawFrame(std::uint16_t length, std::uint8_t type, const std::string& body);
std::string qportPrefix(std::uint16_t qport);
std::string frameOf(MessageType type, const google::protobuf::Message& message);
Morvik::ClientUpdate makeClientUpdate(const Quaternion& orientation, std::uint32_t controls);
std::string clientUpdateFrame(const Quaternion& orientation, std::uint32_t controls);
std::string clientDatagram(std::uint16_t qport, const Morvik::ClientUpdate& update);

template <typename OnFrame>
bool ClientSession::readTcp(const std::uint8_t* data, std::size_t size, OnFrame&& onFrame) {
    // Most reads end on a frame boundary: cut them where they lie, without a copy.
    std::size_t length = size;
    if (!pending_.empty()) {
        pending_.append(reinterpret_cast<const char*>(data), size);
        data = reinterpret_cast<const std::uint8_t*>(pending_.data());
        length = pending_.size();
    }
    bool malformed = false;
    const std::size_t used = forEachFrame(
        data, length, malformed,
        [&](std::uint8_t type, const std::uint8_t* body, std::size_t bodySize) {
            if (!welcomed_ && type == static_cast<std::uint8_t>(MessageType::Welcome)) {
                takeWelcome(body, bodySize);
            }
            onFrame(type, body, bodySize);
        });
    if (malformed) {
        pending_.clear();
        return false;
    }
    if (pending_.empty()) {
        pending_.assign(reinterpret_cast<const char*>(data) + used, length - used);
    } else {
        pending_.erase(0, used);
    }
    return true;
}
