#pragma once
// Addresses on 127.0.0.1, where every test and tool talks to the real programs.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <cstdint>

inline boost::asio::ip::address_v4 loopback() {
    return boost::asio::ip::address_v4::loopback();
}

inline sockaddr_in loopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Opens a listening acceptor and a UDP socket on one port of 127.0.0.1, as the game uses one
// port for both transports; for stand-ins of the server. False when no port was free for both.
bool openGamePort(boost::asio::ip::tcp::acceptor& acceptor, boost::asio::ip::udp::socket& udp);
