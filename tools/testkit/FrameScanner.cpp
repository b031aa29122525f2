#include "tools/testkit/FrameScanner.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/wire_format_lite.h>

#include <cstring>
#include <string>

#include "Common/FrameCodec.h"
#include "Common/NetworkEvent.h"
#include "Common/Protobuf/Object.pb.h"

using google::protobuf::internal::WireFormatLite;
using google::protobuf::io::CodedInputStream;

namespace {

float asFloat(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

// Orientation sub-message: x, y, z, w are fields 1 to 4, each a fixed32 float.
bool readOrientation(CodedInputStream& in, float (&out)[4]) {
    std::uint32_t length = 0;
    if (!in.ReadVarint32(&length)) {
        return false;
    }
    const CodedInputStream::Limit limit = in.PushLimit(static_cast<int>(length));
    bool seen[4] = {false, false, false, false};
    while (std::uint32_t tag = in.ReadTag()) {
        const int field = WireFormatLite::GetTagFieldNumber(tag);
        if (field >= 1 && field <= 4 &&
            WireFormatLite::GetTagWireType(tag) == WireFormatLite::WIRETYPE_FIXED32) {
            std::uint32_t bits = 0;
            if (!in.ReadLittleEndian32(&bits)) {
                return false;
            }
            out[field - 1] = asFloat(bits);
            seen[field - 1] = true;
        } else if (!WireFormatLite::SkipField(&in, tag)) {
            return false;
        }
    }
    if (!in.ConsumedEntireMessage()) {
        return false;
    }
    in.PopLimit(limit);
    return seen[0] && seen[1] && seen[2] && seen[3];
}

}  // namespace

bool scanObjectUpdate(const std::uint8_t* body, std::size_t size, std::uint32_t& timestamp) {
    CodedInputStream in(body, static_cast<int>(size));
    while (std::uint32_t tag = in.ReadTag()) {
        if (tag == WireFormatLite::MakeTag(2, WireFormatLite::WIRETYPE_VARINT)) {
            return in.ReadVarint32(&timestamp);
        }
        if (!WireFormatLite::SkipField(&in, tag)) {
            return false;
        }
    }
    return false;
}

bool scanObjectInfo(const std::uint8_t* body, std::size_t size, ObjectInfoHead& head) {
    CodedInputStream in(body, static_cast<int>(size));
    head = ObjectInfoHead();
    bool hasId = false;
    bool hasType = false;
    bool hasTimestamp = false;
    while (std::uint32_t tag = in.ReadTag()) {
        const int field = WireFormatLite::GetTagFieldNumber(tag);
        const auto wireType = WireFormatLite::GetTagWireType(tag);
        if (field == 1 && wireType == WireFormatLite::WIRETYPE_VARINT) {
            hasId = in.ReadVarint64(&head.id);
            if (!hasId) {
                return false;
            }
        } else if (field == 2 && wireType == WireFormatLite::WIRETYPE_VARINT) {
            hasType = in.ReadVarint32(&head.objectType);
            if (!hasType) {
                return false;
            }
        } else if (field == 3 && wireType == WireFormatLite::WIRETYPE_VARINT) {
            hasTimestamp = in.ReadVarint32(&head.timestamp);
            if (!hasTimestamp) {
                return false;
            }
        } else if (field == 5 && wireType == WireFormatLite::WIRETYPE_LENGTH_DELIMITED) {
            head.hasOrientation = readOrientation(in, head.orientation);
            if (!head.hasOrientation) {
                return false;
            }
            // Nothing after the orientation is needed.
            break;
        } else if (!WireFormatLite::SkipField(&in, tag)) {
            return false;
        }
    }
    return hasId && hasType && hasTimestamp;
}

std::shared_ptr<const google::protobuf::Message> decodeMessage(std::uint8_t type,
                                                               const std::uint8_t* body,
                                                               std::size_t size) {
    std::string frame(1, static_cast<char>(type));
    frame.append(reinterpret_cast<const char*>(body), size);
    auto event = std::make_shared<NetworkEvent>();
    if (!parseMessage(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size(), event,
                      "")) {
        return nullptr;
    }
    return std::shared_ptr<const google::protobuf::Message>(event->message.release());
}
