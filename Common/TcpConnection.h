#pragma once

#include <array>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

// One TCP connection: the socket, its receive buffer and its write queue. Held by shared
// pointer: the network thread's pending operations keep it alive, so the main thread can let
// go of a connection at any moment without a socket dying under a completion.
//
// Only the network thread touches the socket. Other threads hand bytes over with write(),
// which posts them to the network thread; there exactly one write is in flight at a time and
// the bytes go out completely, in the order write() was called.
class TcpConnection : public std::enable_shared_from_this<TcpConnection> {
public:
    using Ptr = std::shared_ptr<TcpConnection>;
    // The error, the bytes written, and whether this is the connection's first failed write:
    // a stream whose write failed once is dead, so its owner reports that write and only
    // counts the ones after it.
    using WriteDone =
        std::function<void(const boost::system::error_code&, std::size_t, bool firstFailure)>;
    using OverflowHandler = std::function<void(const Ptr&)>;

    static constexpr std::size_t kReceiveBufferSize = 2048;
    static constexpr std::size_t kDefaultBacklogCap = 1 << 20;

    static Ptr create(boost::asio::io_service& io);

    boost::asio::ip::tcp::socket& socket() { return socket_; }
    std::uint8_t* receiveBuffer() { return receiveBuffer_.data(); }

    // Any thread. done runs on the network thread once the bytes are written or failed; a
    // write that never started because the connection was closed fails with 0 bytes.
    void write(std::shared_ptr<const std::string> bytes, WriteDone done);

    // Network thread: runs once, when the unsent backlog grows past the cap. The owner
    // closes the connection through its normal close path.
    void setOverflowHandler(OverflowHandler handler);
    void setBacklogCap(std::size_t bytes);

    // Network thread: cancels and closes the socket and drops unsent bytes (their done
    // reports operation_aborted).
    // Returns true only for the first call, so a connection is reported closed once.
    bool close();
    bool isClosed() const { return closed_; }

    // Network thread: bytes queued but not yet written.
    std::size_t backlog() const { return backlog_; }

private:
    explicit TcpConnection(boost::asio::io_service& io);
    void enqueue(std::shared_ptr<const std::string> bytes, WriteDone done);
    void writeNext();
    // Network thread: true for the first failed write handed to a done, false ever after.
    bool firstFailure(const boost::system::error_code& error);

    struct PendingWrite {
        std::shared_ptr<const std::string> bytes;
        WriteDone done;
    };

    boost::asio::io_service& io_;
    boost::asio::ip::tcp::socket socket_;
    std::array<std::uint8_t, kReceiveBufferSize> receiveBuffer_{};
    std::deque<PendingWrite> pending_;
    std::size_t backlog_ = 0;
    std::size_t backlogCap_ = kDefaultBacklogCap;
    bool writing_ = false;
    bool closed_ = false;
    bool overflowed_ = false;
    bool writeFailed_ = false;
    OverflowHandler overflowHandler_;
};
