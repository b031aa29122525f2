#pragma once
// Real sockets on 127.0.0.1 for the outgoing-queue tests: a network thread, TCP peers and
// UDP peers that the test reads itself.

#include <gtest/gtest.h>

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

namespace loopback {

constexpr std::chrono::seconds kWaitLimit{5};

// Polls until done holds or the limit passes; arrivals over sockets cannot be driven.
inline bool waitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// One io_service run by one thread, like the server's network thread.
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

    // Runs f on the network thread and waits for its result.
    template <typename F>
    auto run(F f) -> decltype(f()) {
        std::packaged_task<decltype(f())()> task(std::move(f));
        auto result = task.get_future();
        io.post([&task] { task(); });
        if (result.wait_for(kWaitLimit) != std::future_status::ready) {
            throw std::runtime_error("the network thread did not answer");
        }
        return result.get();
    }

    boost::asio::io_service io;

private:
    std::optional<boost::asio::io_service::work> work_;
    std::thread thread_;
};

// Standard output captured until take(), or until the end of the scope.
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

// Reads until size bytes have come or the limit passes; returns what came.
inline std::string readBytes(boost::asio::ip::tcp::socket& peer, std::size_t size) {
    std::string received;
    peer.non_blocking(true);
    char chunk[4096];
    waitUntil([&] {
        boost::system::error_code error;
        const std::size_t want = std::min(sizeof chunk, size - received.size());
        const std::size_t got = peer.read_some(boost::asio::buffer(chunk, want), error);
        if (!error) {
            received.append(chunk, got);
        }
        return received.size() >= size || (error && error != boost::asio::error::would_block);
    });
    return received;
}

// The next datagram, or nothing when none comes within the limit.
inline std::optional<std::string> receiveDatagram(boost::asio::ip::udp::socket& peer) {
    std::optional<std::string> datagram;
    peer.non_blocking(true);
    char buffer[65536];
    waitUntil([&] {
        boost::system::error_code error;
        boost::asio::ip::udp::endpoint from;
        const std::size_t got = peer.receive_from(boost::asio::buffer(buffer), from, 0, error);
        if (!error) {
            datagram = std::string(buffer, got);
        }
        return datagram.has_value();
    });
    return datagram;
}

// True when a datagram is already waiting.
inline bool datagramWaiting(boost::asio::ip::udp::socket& peer) {
    boost::system::error_code error;
    return peer.available(error) > 0;
}

}  // namespace loopback
