#include "Server/PlayerKey.h"

std::int64_t playerKey(const boost::asio::ip::address& address, std::uint16_t qport) {
    std::uint32_t host = 0;
    if (address.is_v4()) {
        host = address.to_v4().to_uint();
    } else {
        // The server listens on IPv4 only; for anything else take the last four bytes, as an
        // IPv4-mapped address would give.
        const auto bytes = address.to_v6().to_bytes();
        host = (std::uint32_t{bytes[12]} << 24) | (std::uint32_t{bytes[13]} << 16) |
               (std::uint32_t{bytes[14]} << 8) | std::uint32_t{bytes[15]};
    }
    const std::uint32_t key = (host << 16) | qport;
    return static_cast<std::int64_t>(key);
}
