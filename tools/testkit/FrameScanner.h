#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace google::protobuf {
class Message;
}

// Readers of the server's frames as a client receives them. A load generator receives hundreds
// of thousands of frames per second and needs only a few fields of each: the scanners walk the
// encoded fields with the protobuf library's stream reader and stop early, instead of building
// a message. A player that keeps what it receives decodes whole messages.

// The fields of an ObjectInfo that the players look at.
struct ObjectInfoHead {
    std::uint64_t id = 0;
    std::uint32_t objectType = 0;
    std::uint32_t timestamp = 0;
    bool hasOrientation = false;
    // As encoded: x, y, z, w.
    float orientation[4] = {0, 0, 0, 0};
};

// Calls back once per whole frame of a datagram or of a TCP byte run. Returns the number of
// bytes consumed (whole frames only); malformed is set when a frame has length 0, which no
// writer produces and which would otherwise stall the stream.
template <typename OnFrame>
std::size_t forEachFrame(const std::uint8_t* data, std::size_t size, bool& malformed,
                         OnFrame&& onFrame) {
    std::size_t offset = 0;
    malformed = false;
    while (size - offset >= 2) {
        const std::size_t length = data[offset] | (static_cast<std::size_t>(data[offset + 1]) << 8);
        if (length == 0) {
            malformed = true;
            return size;
        }
        if (size - offset - 2 < length) {
            break;
        }
        onFrame(data[offset + 2], data + offset + 3, length - 1);
        offset += 2 + length;
    }
    return offset;
}

// ObjectUpdate body: its timestamp (field 2). False when the body is malformed or lacks it.
bool scanObjectUpdate(const std::uint8_t* body, std::size_t size, std::uint32_t& timestamp);

// ObjectInfo body: id, objectType, timestamp and orientation; the rest is skipped.
// False when the body is malformed or lacks one of the first three.
bool scanObjectInfo(const std::uint8_t* body, std::size_t size, ObjectInfoHead& head);

// The whole message of a frame, decoded by the game's own codec; null when it does not decode
// (the codec says why on the console).
std::shared_ptr<const google::protobuf::Message> decodeMessage(std::uint8_t type,
                                                               const std::uint8_t* body,
                                                               std::size_t size);
