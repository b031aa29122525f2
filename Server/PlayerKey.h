#pragma once

#include <boost/asio/ip/address.hpp>
#include <cstdint>

// The key under which a player is filed and a ClientUpdate finds it:
// ((IPv4 address, host order) << 16) | qport in 32-bit arithmetic, zero-extended. Only the low
// 16 bits of the address take part; the UDP port takes none.
std::int64_t playerKey(const boost::asio::ip::address& address, std::uint16_t qport);
