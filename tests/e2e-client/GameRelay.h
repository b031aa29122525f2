#pragma once
// A relay between the client and the server on 127.0.0.1: it listens for TCP and UDP on one
// port of its own, as the server does, forwards both to the server's port and back, and
// records what passes. It can hold the server's TCP bytes back, as a slow link would, until the
// client's datagrams have been flowing for a while, so that the first ones leave before its
// Welcome has arrived however slowly the client starts.

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2eclient {

class GameRelay {
public:
    using Clock = std::chrono::steady_clock;

    struct Datagram {
        Clock::time_point arrival;
        std::uint16_t qport;
        int type;  // the first frame's type byte, -1 when there is none
    };

    // holdServerTcp: how long server TCP bytes wait after the client's first datagram (zero:
    // not at all); they are let go after 30 s regardless.
    GameRelay(std::uint16_t serverPort, std::chrono::milliseconds holdServerTcp);
    ~GameRelay();

    std::uint16_t port() const { return port_; }
    // Client-to-server datagrams so far.
    std::vector<Datagram> clientDatagrams() const;
    // Set once a server's Welcome has been passed on to a client; the latest one.
    bool welcomeForwarded(std::uint16_t& qport, std::uint64_t& id, Clock::time_point& when) const;

private:
    struct TcpPair;
    void accept();
    void pump(std::shared_ptr<TcpPair> pair, bool fromServer);
    void forwardWhenReleased(std::shared_ptr<TcpPair> pair, std::size_t n);
    bool holding();
    void receiveFromClient();
    void receiveFromServer();
    void noteServerBytes(TcpPair& pair, const std::uint8_t* data, std::size_t size);

    boost::asio::io_service io_;
    std::unique_ptr<boost::asio::io_service::work> work_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::ip::udp::socket clientSide_;  // on port_, facing the client
    boost::asio::ip::udp::socket serverSide_;  // ephemeral, facing the server
    boost::asio::ip::udp::endpoint server_;
    boost::asio::ip::udp::endpoint client_;
    boost::asio::ip::udp::endpoint fromClient_;
    boost::asio::ip::udp::endpoint fromServer_;
    std::uint8_t clientBuffer_[2048];
    std::uint8_t serverBuffer_[2048];
    std::uint16_t serverPort_;
    std::uint16_t port_ = 0;
    std::chrono::milliseconds hold_;
    Clock::time_point holdLimit_;
    std::vector<std::shared_ptr<TcpPair>> pairs_;

    mutable std::mutex mutex_;
    std::vector<Datagram> datagrams_;
    bool welcome_ = false;
    std::uint16_t welcomeQport_ = 0;
    std::uint64_t welcomeId_ = 0;
    Clock::time_point welcomeTime_;

    std::thread thread_;
};

}  // namespace e2eclient
