#pragma once

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/unordered_map.hpp>
#include <cstddef>
#include <cstdint>

#include "Common/AbstractPacketReceiver.h"

// The server's receiver: accepts players' TCP connections on the game port and reads the
// qport prefix of every client datagram on the same port number.
class ServerPacketReceiver : public AbstractPacketReceiver {
public:
    // How long accepting pauses when the process has run out of descriptors.
    static constexpr long kAcceptBackoffMs = 100;

    // Opens, binds and listens, or throws boost::system::system_error. With both ports 0,
    // TCP and UDP share one port that the system picks.
    ServerPacketReceiver(boost::asio::io_service& io, std::uint16_t udpPort, std::uint16_t tcpPort);
    ~ServerPacketReceiver() override;

    void startAccept();
    // Network thread: the accept completion.
    void handleTCPConnection(const boost::system::error_code& error,
                             const TcpConnection::Ptr& connection);
    void handleTCPClose(const boost::system::error_code& error,
                        const TcpConnection::Ptr& connection) override;
    void handleUDPReceive(const boost::system::error_code& error, const std::uint8_t* data,
                          std::size_t count, udp::socket& socket) override;

    bool onConnectionClosed(const TcpConnection::Ptr& connection) override;

    // Any thread: the peer address recorded when the connection was accepted. False once the
    // connection has closed (or when the address could not be read at all).
    bool peerAddress(const TcpConnection::Ptr& connection, boost::asio::ip::address& address);

    std::uint16_t tcpPort() const;
    std::uint16_t udpPort() const;

private:
    void listenOn(std::uint16_t port);
    void acceptLater();

    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::deadline_timer acceptRetryTimer;
    // Written on the network thread, read by the tick's handlers: the main thread never
    // touches a socket, so it learns the peer's address from here.
    boost::unordered_map<const TcpConnection*, boost::asio::ip::address> peers;
    boost::mutex peersMutex;
};
