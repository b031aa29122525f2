#pragma once
// Helpers for tests that use real sockets on 127.0.0.1 with a network thread, shared by the
// tests of the shared library and of the server.

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "Common/TcpConnection.h"
#include "tools/testkit/Loopback.h"
#include "tools/testkit/MonotonicClock.h"

namespace nettest {

// How long a test waits for what only the network brings; loopback delivers at once.
constexpr std::chrono::seconds kWaitLimit{5};

// An io_service run by one thread, like each program's network thread.
class NetworkThread {
public:
    NetworkThread() : work_(std::in_place, io) {}
    ~NetworkThread() { stop(); }
    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;

    void start() {
        thread_ = std::thread([this] { io.run(); });
    }

    void stop() {
        if (thread_.joinable()) {
            work_.reset();
            io.stop();
            thread_.join();
        }
    }

    // Runs f on the network thread and returns its result. Everything posted before has run
    // by then, since one thread runs the handlers in order.
    template <typename F>
    auto run(F f) -> decltype(f()) {
        std::packaged_task<decltype(f())()> task(std::move(f));
        auto result = task.get_future();
        io.post([&task] { task(); });
        if (result.wait_for(kWaitLimit) != std::future_status::ready) {
            throw std::runtime_error("network thread did not answer");
        }
        return result.get();
    }

    boost::asio::io_service io;

private:
    std::optional<boost::asio::io_service::work> work_;
    std::thread thread_;
};

// Captures standard output; ends the capture also when an assertion leaves a test early, so
// the rest of the run is not swallowed.
class StdoutCapture {
public:
    StdoutCapture() { testing::internal::CaptureStdout(); }
    ~StdoutCapture() {
        if (!taken_) {
            testing::internal::GetCapturedStdout();
        }
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string take() {
        taken_ = true;
        return testing::internal::GetCapturedStdout();
    }

private:
    bool taken_ = false;
};

struct TcpPair {
    TcpConnection::Ptr connection;                       // on the network thread's io_service
    std::unique_ptr<boost::asio::ip::tcp::socket> peer;  // blocking, used by the test
};

// A connected pair over 127.0.0.1. peerReceiveBuffer > 0 shrinks the peer's receive window.
inline TcpPair connectPair(boost::asio::io_service& io, boost::asio::io_service& peerIo,
                           int peerReceiveBuffer = 0) {
    using boost::asio::ip::tcp;
    tcp::acceptor acceptor(io, tcp::endpoint(loopback(), 0));
    TcpPair pair{TcpConnection::create(io), std::make_unique<tcp::socket>(peerIo)};
    pair.peer->open(tcp::v4());
    if (peerReceiveBuffer > 0) {
        pair.peer->set_option(boost::asio::socket_base::receive_buffer_size(peerReceiveBuffer));
    }
    pair.peer->connect(acceptor.local_endpoint());
    acceptor.accept(pair.connection->socket());
    return pair;
}

// Reads until size bytes have come or the limit passes; returns what came.
inline std::string readBytes(boost::asio::ip::tcp::socket& peer, std::size_t size) {
    std::string received;
    peer.non_blocking(true);
    char chunk[4096];
    waitUntil(
        [&] {
            boost::system::error_code error;
            const std::size_t want = std::min(sizeof chunk, size - received.size());
            const std::size_t got = peer.read_some(boost::asio::buffer(chunk, want), error);
            if (!error) {
                received.append(chunk, got);
            }
            return received.size() >= size || (error && error != boost::asio::error::would_block);
        },
        kWaitLimit);
    return received;
}

// The next datagram, or nothing when none comes within the limit.
inline std::optional<std::string> receiveDatagram(boost::asio::ip::udp::socket& peer) {
    std::optional<std::string> datagram;
    peer.non_blocking(true);
    char buffer[65536];
    waitUntil(
        [&] {
            boost::system::error_code error;
            boost::asio::ip::udp::endpoint from;
            const std::size_t got = peer.receive_from(boost::asio::buffer(buffer), from, 0, error);
            if (!error) {
                datagram = std::string(buffer, got);
            }
            return datagram.has_value();
        },
        kWaitLimit);
    return datagram;
}

// True when a datagram is already waiting.
inline bool datagramWaiting(boost::asio::ip::udp::socket& peer) {
    boost::system::error_code error;
    return peer.available(error) > 0;
}

}  // namespace nettest
