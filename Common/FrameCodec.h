#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Common/NetworkEvent.h"

namespace google::protobuf {
class Message;
}

// The type byte of a frame.
enum class MessageType : std::uint8_t {
    ObjectInfo = 1,
    ObjectUpdate = 2,
    ObjectDestroy = 3,
    ClientUpdate = 4,
    Welcome = 5,
};

// Length N of the first frame in buffer when all 2 + N bytes are there, else 0.
std::uint16_t frameLength(const std::string& buffer);

// Cuts data (appended to leftover) into frames and decodes each into an event, in stream
// order. leftover keeps the bytes of an incomplete frame. A zero length field makes the rest
// of the stream unreadable: malformed is set, leftover is emptied and splitting stops.
std::vector<NetworkEventPtr> splitFrames(const std::uint8_t* data, std::size_t size,
                                         std::string& leftover, bool& malformed);

// frame: type byte and body, without the length bytes.
bool parseFrame(std::string frame, const NetworkEventPtr& event);
bool parseMessage(const std::uint8_t* bytes, std::size_t length, const NetworkEventPtr& event,
                  const char* info);

// Appends one frame of message to out: u16 LE length (body + 1), type byte, body.
void appendFrame(std::string& out, MessageType type, const google::protobuf::Message& message);

// Makes network bytes safe to print: printable ASCII kept, everything else as \xNN.
std::string escapeBytes(const char* bytes, std::size_t length);
