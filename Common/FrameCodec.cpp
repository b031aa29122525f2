// Frames on the wire.
//
//   frame (TCP stream and datagrams alike; frames follow each other with nothing between):
//
//     0        1        2        3                                   2 + N
//     +--------+--------+--------+-------- ... ---------------------+
//     | N low  | N high |  type  |  body: the encoded message,       |
//     |   u16 little-end |  u8    |  N - 1 bytes                      |
//     +--------+--------+--------+-------- ... ---------------------+
//
//     N counts the type byte and the body, not the two length bytes; a writer sets
//     N = body size + 1, so N >= 1 and N <= 65535. A zero length never comes from a writer:
//     it marks the stream as malformed.
//
//   type: 1 ObjectInfo, 2 ObjectUpdate, 3 ObjectDestroy, 4 ClientUpdate, 5 Welcome.
//
//   client -> server datagram:
//
//     +--------+--------+--------- ... ----------+
//     | qport (u16 LE)  |  frames                 |
//     +--------+--------+--------- ... ----------+
//
//   server -> client datagram: frames only.
//
//   A datagram fits the receiver's 2048-byte buffer and a frame never spans two datagrams;
//   on TCP a frame may span any number of reads.

#include "Common/FrameCodec.h"

#include <cstdio>
#include <memory>

#include "Common/ConsoleLog.h"
#include "Common/Protobuf/Object.pb.h"

namespace {

constexpr std::size_t kLengthBytes = 2;
constexpr std::size_t kMaxFrameLength = 0xFFFF;

// The caller makes sure both length bytes are there.
std::uint16_t lengthFieldAt(const std::string& buffer, std::size_t offset) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(buffer[offset]) |
                                      (static_cast<std::uint8_t>(buffer[offset + 1]) << 8));
}

std::unique_ptr<google::protobuf::Message> newMessage(std::uint8_t type) {
    switch (type) {
        case static_cast<std::uint8_t>(MessageType::ObjectInfo):
            return std::make_unique<Morvik::ObjectInfo>();
        case static_cast<std::uint8_t>(MessageType::ObjectUpdate):
            return std::make_unique<Morvik::ObjectUpdate>();
        case static_cast<std::uint8_t>(MessageType::ObjectDestroy):
            return std::make_unique<Morvik::ObjectDestroy>();
        case static_cast<std::uint8_t>(MessageType::ClientUpdate):
            return std::make_unique<Morvik::ClientUpdate>();
        case static_cast<std::uint8_t>(MessageType::Welcome):
            return std::make_unique<Morvik::Welcome>();
        default:
            return nullptr;
    }
}

}  // namespace

std::uint16_t frameLength(const std::string& buffer) {
    if (buffer.size() < kLengthBytes) {
        return 0;
    }
    const std::uint16_t n = lengthFieldAt(buffer, 0);
    if (n > buffer.size() - kLengthBytes) {
        return 0;
    }
    return n;
}

std::vector<NetworkEventPtr> splitFrames(const std::uint8_t* data, std::size_t size,
                                         std::string& leftover, bool& malformed) {
    malformed = false;
    std::string work;
    work.swap(leftover);
    if (size > 0) {
        work.append(reinterpret_cast<const char*>(data), size);
    }

    std::vector<NetworkEventPtr> events;
    std::size_t offset = 0;
    while (work.size() - offset >= kLengthBytes) {
        const std::uint16_t n = lengthFieldAt(work, offset);
        if (n == 0) {
            // Nothing after this can be cut reliably; waiting for more would only let the
            // stream stall and the leftover grow.
            consoleLog("Error in deserializing of message\n");
            malformed = true;
            return events;
        }
        if (n > work.size() - offset - kLengthBytes) {
            break;
        }
        offset += kLengthBytes;
        auto event = std::make_shared<NetworkEvent>();
        if (parseFrame(work.substr(offset, n), event)) {
            events.push_back(std::move(event));
        } else {
            consoleLog("Error in deserializing of message\n");
        }
        offset += n;
    }
    if (offset == 0) {
        // Nothing was cut: hand the bytes back without copying them, so a frame arriving a
        // byte at a time costs linear, not quadratic, time.
        leftover.swap(work);
    } else {
        leftover.assign(work, offset, std::string::npos);
    }
    return events;
}

bool parseFrame(std::string frame, const NetworkEventPtr& event) {
    return parseMessage(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size(), event,
                        "");
}

bool parseMessage(const std::uint8_t* bytes, std::size_t length, const NetworkEventPtr& event,
                  const char* info) {
    if (length == 0) {
        consoleLog("Error in parseing message %s\n", info);
        return false;
    }
    const std::uint8_t type = bytes[0];
    std::unique_ptr<google::protobuf::Message> message = newMessage(type);
    if (!message) {
        // Printed as a signed byte, as the log readers know it: 0xc8 shows as ffffffc8.
        consoleLog("Unknown message type received (type byte: 0x%x) info %s\n",
                   static_cast<unsigned>(static_cast<int>(static_cast<std::int8_t>(type))), info);
        return false;
    }
    event->kind = MessageReceived;
    event->type = type;
    if (!message->ParseFromArray(bytes + 1, static_cast<int>(length - 1))) {
        consoleLog("Error in parseing message %s\n", info);
        return false;
    }
    event->message = std::move(message);
    return true;
}

void appendFrame(std::string& out, MessageType type, const google::protobuf::Message& message) {
    const std::size_t bodySize = message.ByteSizeLong();
    if (bodySize + 1 > kMaxFrameLength) {
        // A wrong length would desynchronise the whole stream; better to lose one message.
        consoleLog("Error in appendFrame: message of %zu bytes does not fit a frame\n", bodySize);
        return;
    }
    const std::size_t n = bodySize + 1;
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>((n >> 8) & 0xFF));
    out.push_back(static_cast<char>(type));
    // Required fields are not checked here: the receiver's parse is the one check.
    message.AppendPartialToString(&out);
}

std::string escapeBytes(const char* bytes, std::size_t length) {
    std::string text;
    text.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F) {
            text.push_back(static_cast<char>(c));
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text.append(escaped, 4);
        }
    }
    return text;
}
