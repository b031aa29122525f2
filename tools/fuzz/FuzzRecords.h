#pragma once
// The input layout of the receiver fuzz targets, shared with the seed generator:
// a sequence of records [op: u8][length: u16 little-endian][payload: length bytes]. A record
// cut short by the end of the input takes what is left as its payload.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzrecords {

// Server target: op % 4, with (op >> 2) choosing a player connection where one is named.
enum ServerOp : std::uint8_t {
    kServerDatagram = 0,  // payload: one datagram to the server's UDP port (qport first)
    kServerTcp = 1,       // payload: bytes on one player's TCP connection
    kServerTick = 2,      // payload ignored: one server tick
    kServerRejoin = 3,    // payload ignored: one player leaves and a new one joins
};

// Client target: op % 3.
enum ClientOp : std::uint8_t {
    kClientDatagram = 0,  // payload: one datagram from the server
    kClientTcp = 1,       // payload: bytes on the TCP connection from the server
    kClientFrame = 2,     // payload ignored: the client's frame steps that touch the world
};

struct Record {
    std::uint8_t op;
    const std::uint8_t* payload;
    std::size_t length;
};

// Reads the record at offset; false at the end of the input.
inline bool next(const std::uint8_t* data, std::size_t size, std::size_t& offset, Record& out) {
    if (offset >= size) {
        return false;
    }
    out.op = data[offset++];
    std::size_t length = 0;
    if (offset + 2 <= size) {
        length = data[offset] | (std::size_t{data[offset + 1]} << 8);
        offset += 2;
    } else {
        offset = size;
    }
    if (length > size - offset) {
        length = size - offset;
    }
    out.payload = data + offset;
    out.length = length;
    offset += length;
    return true;
}

// Calls onRecord for every record of an input, in order.
template <typename OnRecord>
void forEachRecord(const std::uint8_t* data, std::size_t size, OnRecord&& onRecord) {
    std::size_t offset = 0;
    Record record;
    while (next(data, size, offset, record)) {
        onRecord(record);
    }
}

inline std::string record(std::uint8_t op, const std::string& payload) {
    std::string bytes;
    bytes.push_back(static_cast<char>(op));
    bytes.push_back(static_cast<char>(payload.size() & 0xFF));
    bytes.push_back(static_cast<char>((payload.size() >> 8) & 0xFF));
    return bytes + payload;
}

}  // namespace fuzzrecords
