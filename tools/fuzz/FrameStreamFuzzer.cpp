// Fuzz target: a TCP byte stream cut into frames by the codec, arriving in random chunks.
//
// Input: one byte that seeds the chunk sizes, then the stream. The chunked run must give
// exactly what the whole stream gives in one read (TCP may cut a stream anywhere), the
// leftover must never hold a whole frame or more than one frame's bytes, and every event must
// be a complete message of a known type.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <google/protobuf/message.h>
#include <google/protobuf/stubs/logging.h>

#include "Common/FrameCodec.h"

namespace {

struct Decoded {
    int type;
    std::string body;
    bool operator==(const Decoded& other) const { return type == other.type && body == other.body; }
};

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Feeds chunks to splitFrames as a receiver would, up to the first malformed read.
std::vector<Decoded> feed(const std::uint8_t* data, std::size_t size,
                          const std::vector<std::size_t>& cuts, bool& malformedSeen) {
    std::vector<Decoded> decoded;
    std::string leftover;
    std::size_t at = 0;
    malformedSeen = false;
    for (std::size_t index = 0; index <= cuts.size() && !malformedSeen; ++index) {
        const std::size_t end = index < cuts.size() ? cuts[index] : size;
        bool malformed = false;
        std::vector<NetworkEventPtr> events = splitFrames(data + at, end - at, leftover, malformed);
        at = end;
        for (const NetworkEventPtr& event : events) {
            check(event && event->kind == MessageReceived);
            check(event->type >= 1 && event->type <= 5);
            check(event->message != nullptr && event->message->IsInitialized());
            check(!event->sender && !event->connection);
            decoded.push_back(Decoded{event->type, event->message->SerializeAsString()});
        }
        if (malformed) {
            malformedSeen = true;
            check(leftover.empty());
            break;
        }
        // What is kept is an incomplete frame: fewer bytes than its length field asks for.
        check(leftover.size() <= 2 + 65535);
        check(frameLength(leftover) == 0);
        if (leftover.size() >= 2) {
            const std::size_t announced = static_cast<std::uint8_t>(leftover[0]) +
                                          256u * static_cast<std::uint8_t>(leftover[1]);
            check(announced > 0 && leftover.size() < 2 + announced);
        }
    }
    return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every malformed body would log a line: millions of them.
    google::protobuf::SetLogHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::minstd_rand random(data[0]);
    const std::uint8_t* stream = data + 1;
    const std::size_t length = size - 1;

    // Cut points, empty reads and one-byte reads included.
    std::vector<std::size_t> cuts;
    std::size_t at = 0;
    while (at < length) {
        at += random() % 8 == 0 ? 0 : 1 + random() % 97;
        cuts.push_back(std::min(at, length));
    }

    bool chunkedMalformed = false;
    bool wholeMalformed = false;
    const std::vector<Decoded> chunked = feed(stream, length, cuts, chunkedMalformed);
    const std::vector<Decoded> whole = feed(stream, length, {}, wholeMalformed);
    check(chunkedMalformed == wholeMalformed);
    check(chunked == whole);
    return 0;
}
