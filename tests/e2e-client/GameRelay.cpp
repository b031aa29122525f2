#include "tests/e2e-client/GameRelay.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include "tools/testkit/ClientSession.h"
#include "tools/testkit/Loopback.h"

namespace e2eclient {

using boost::asio::ip::tcp;
using boost::asio::ip::udp;

struct GameRelay::TcpPair {
    explicit TcpPair(boost::asio::io_service& io) : client(io), server(io), timer(io) {}
    tcp::socket client;
    tcp::socket server;
    boost::asio::steady_timer timer;
    std::uint8_t fromClient[4096];
    std::uint8_t fromServer[4096];
    ClientSession session;  // the server's side of the conversation, as the client reads it
};

GameRelay::GameRelay(std::uint16_t serverPort, std::chrono::milliseconds holdServerTcp)
    : work_(std::make_unique<boost::asio::io_service::work>(io_)),
      acceptor_(io_),
      clientSide_(io_),
      serverSide_(io_, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0)),
      server_(boost::asio::ip::address_v4::loopback(), serverPort),
      serverPort_(serverPort),
      hold_(holdServerTcp),
      holdLimit_(Clock::now() + std::chrono::seconds(30)) {
    // One port for both transports, as the game uses.
    if (openGamePort(acceptor_, clientSide_)) {
        port_ = acceptor_.local_endpoint().port();
        accept();
        receiveFromClient();
        receiveFromServer();
    }
    thread_ = std::thread([this] { io_.run(); });
}

GameRelay::~GameRelay() {
    io_.post([this] {
        boost::system::error_code ec;
        acceptor_.close(ec);
        clientSide_.close(ec);
        serverSide_.close(ec);
        for (auto& pair : pairs_) {
            pair->client.close(ec);
            pair->server.close(ec);
            pair->timer.cancel();
        }
    });
    work_.reset();  // run() returns once the closed sockets' handlers have run
    thread_.join();
}

void GameRelay::accept() {
    auto pair = std::make_shared<TcpPair>(io_);
    acceptor_.async_accept(pair->client, [this, pair](const boost::system::error_code& ec) {
        if (ec) {
            return;
        }
        boost::system::error_code connectError;
        pair->server.connect(tcp::endpoint(boost::asio::ip::address_v4::loopback(), serverPort_),
                             connectError);
        if (connectError) {
            pair->client.close(connectError);
        } else {
            pairs_.push_back(pair);
            pump(pair, false);
            pump(pair, true);
        }
        accept();
    });
}

void GameRelay::pump(std::shared_ptr<TcpPair> pair, bool fromServer) {
    tcp::socket& source = fromServer ? pair->server : pair->client;
    std::uint8_t* buffer = fromServer ? pair->fromServer : pair->fromClient;
    source.async_read_some(
        boost::asio::buffer(buffer, sizeof pair->fromServer),
        [this, pair, fromServer, buffer](const boost::system::error_code& ec, std::size_t n) {
            tcp::socket& sink = fromServer ? pair->client : pair->server;
            boost::system::error_code ignored;
            if (ec) {
                // One side went away: so does the other, as with a direct connection.
                sink.shutdown(tcp::socket::shutdown_both, ignored);
                sink.close(ignored);
                return;
            }
            if (fromServer) {
                forwardWhenReleased(pair, n);
                return;
            }
            boost::asio::write(sink, boost::asio::buffer(buffer, n), ignored);
            if (!ignored) {
                pump(pair, false);
            }
        });
}

bool GameRelay::holding() {
    if (hold_.count() == 0 || Clock::now() >= holdLimit_) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return datagrams_.empty() || Clock::now() < datagrams_.front().arrival + hold_;
}

void GameRelay::forwardWhenReleased(std::shared_ptr<TcpPair> pair, std::size_t n) {
    if (holding()) {
        pair->timer.expires_after(std::chrono::milliseconds(20));
        pair->timer.async_wait([this, pair, n](const boost::system::error_code& ec) {
            if (!ec) {
                forwardWhenReleased(pair, n);
            }
        });
        return;
    }
    boost::system::error_code error;
    boost::asio::write(pair->client, boost::asio::buffer(pair->fromServer, n), error);
    noteServerBytes(*pair, pair->fromServer, n);
    if (!error) {
        pump(pair, true);
    }
}

void GameRelay::noteServerBytes(TcpPair& pair, const std::uint8_t* data, std::size_t size) {
    const bool welcomed = pair.session.welcomed();
    pair.session.readTcp(data, size, [](std::uint8_t, const std::uint8_t*, std::size_t) {});
    // A client started again leaves its first connection behind, whose held-back Welcome may
    // pass only after the new one's: the newest connection is the one that plays.
    if (!welcomed && pair.session.welcomed() && &pair == pairs_.back().get()) {
        std::lock_guard<std::mutex> lock(mutex_);
        welcome_ = true;
        welcomeQport_ = pair.session.qport();
        welcomeId_ = pair.session.welcome().id();
        welcomeTime_ = Clock::now();
    }
}

void GameRelay::receiveFromClient() {
    clientSide_.async_receive_from(
        boost::asio::buffer(clientBuffer_), fromClient_,
        [this](const boost::system::error_code& ec, std::size_t n) {
            if (ec == boost::asio::error::operation_aborted || !clientSide_.is_open()) {
                return;
            }
            if (!ec) {
                client_ = fromClient_;
                Datagram d{Clock::now(), 0, -1};
                if (n >= 2) {
                    d.qport =
                        static_cast<std::uint16_t>(clientBuffer_[0] | (clientBuffer_[1] << 8));
                }
                if (n >= 5) {
                    d.type = clientBuffer_[4];
                }
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    datagrams_.push_back(d);
                }
                boost::system::error_code ignored;
                serverSide_.send_to(boost::asio::buffer(clientBuffer_, n), server_, 0, ignored);
            }
            receiveFromClient();
        });
}

void GameRelay::receiveFromServer() {
    serverSide_.async_receive_from(
        boost::asio::buffer(serverBuffer_), fromServer_,
        [this](const boost::system::error_code& ec, std::size_t n) {
            if (ec == boost::asio::error::operation_aborted || !serverSide_.is_open()) {
                return;
            }
            if (!ec && client_.port() != 0) {
                boost::system::error_code ignored;
                clientSide_.send_to(boost::asio::buffer(serverBuffer_, n), client_, 0, ignored);
            }
            receiveFromServer();
        });
}

std::vector<GameRelay::Datagram> GameRelay::clientDatagrams() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return datagrams_;
}

bool GameRelay::welcomeForwarded(std::uint16_t& qport, std::uint64_t& id,
                                 Clock::time_point& when) const {
    std::lock_guard<std::mutex> lock(mutex_);
    qport = welcomeQport_;
    id = welcomeId_;
    when = welcomeTime_;
    return welcome_;
}

}  // namespace e2eclient
