// The TCP connection's write queue over real sockets on 127.0.0.1.

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/error.hpp>
#include <boost/asio/read.hpp>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Common/TcpConnection.h"
#include "tests/support/LoopbackSupport.h"

namespace {

using nettest::NetworkThread;

class TcpConnectionTest : public testing::Test {
protected:
    void SetUp() override {
        // A small receive window, so that writes go out in pieces or stall.
        pair = nettest::connectPair(net.io, peerIo, 4096);
        net.start();
    }
    void TearDown() override { net.stop(); }

    NetworkThread net;
    boost::asio::io_service peerIo;
    nettest::TcpPair pair;
};

// Chunk i holds its own letter in every byte and the sizes vary, so reordering, loss and
// interleaved partial writes all show in the bytes the peer reads.
std::string chunk(int i) {
    return std::string(1 + (i * 7919) % 40000, static_cast<char>('A' + i % 26));
}

}  // namespace

TEST_F(TcpConnectionTest, WritesFromTheMainThreadArriveCompleteAndInOrder) {
    // Small socket buffers make the writes go out in pieces.
    net.run([&] {
        pair.connection->socket().set_option(boost::asio::socket_base::send_buffer_size(4096));
        return 0;
    });
    constexpr int kChunks = 120;
    std::string expected;
    for (int i = 0; i < kChunks; ++i) {
        expected += chunk(i);
    }

    std::atomic<int> done{0};
    std::atomic<bool> failed{false};
    std::atomic<std::size_t> reported{0};
    const std::thread::id main = std::this_thread::get_id();
    std::atomic<bool> doneOnMain{false};
    for (int i = 0; i < kChunks; ++i) {
        pair.connection->write(std::make_shared<const std::string>(chunk(i)),
                               [&](const boost::system::error_code& error, std::size_t n, bool) {
                                   failed = failed || static_cast<bool>(error);
                                   reported += n;
                                   doneOnMain = doneOnMain || std::this_thread::get_id() == main;
                                   ++done;
                               });
    }

    std::string received(expected.size(), '\0');
    boost::asio::read(*pair.peer, boost::asio::buffer(received));
    EXPECT_TRUE(received == expected);
    ASSERT_TRUE(waitUntil([&] { return done == kChunks; }, nettest::kWaitLimit));
    EXPECT_FALSE(failed);
    EXPECT_FALSE(doneOnMain);
    EXPECT_EQ(reported, expected.size());
    EXPECT_EQ(net.run([&] { return pair.connection->backlog(); }), 0u);
}

TEST_F(TcpConnectionTest, CloseReportsOnlyTheFirstTimeAndLaterWritesFail) {
    const bool first = net.run([&] { return pair.connection->close(); });
    const bool second = net.run([&] { return pair.connection->close(); });
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_TRUE(net.run([&] { return pair.connection->isClosed(); }));

    // The caller counts and reports a send that could not happen like any failed send.
    std::atomic<int> done{0};
    boost::system::error_code reported;
    std::size_t written = 1;
    std::thread::id doneOn;
    pair.connection->write(std::make_shared<const std::string>("late"),
                           [&](const boost::system::error_code& error, std::size_t n, bool) {
                               reported = error;
                               written = n;
                               doneOn = std::this_thread::get_id();
                               ++done;
                           });
    // The write was posted before this marker, so it has been handled by now.
    const std::thread::id network = net.run([] { return std::this_thread::get_id(); });
    EXPECT_EQ(done, 1);
    EXPECT_EQ(reported, boost::asio::error::bad_descriptor);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(doneOn, network);

    // The peer sees the end of the stream and none of the late bytes.
    char byte = 0;
    boost::system::error_code error;
    EXPECT_EQ(pair.peer->read_some(boost::asio::buffer(&byte, 1), error), 0u);
    EXPECT_EQ(error, boost::asio::error::eof);
}

namespace {

// The peer never reads and both socket buffers are small, so the backlog has to grow.
class StalledPeerTest : public TcpConnectionTest {
protected:
    void SetUp() override {
        TcpConnectionTest::SetUp();
        net.run([&] {
            pair.connection->socket().set_option(boost::asio::socket_base::send_buffer_size(4096));
            pair.connection->setBacklogCap(kCap);
            return 0;
        });
    }

    // Well past anything the kernel buffers can take.
    void flood() {
        const auto block = std::make_shared<const std::string>(kBlock, 'z');
        for (int i = 0; i < kBlocks; ++i) {
            pair.connection->write(
                block, [&](const boost::system::error_code& error, std::size_t, bool first) {
                    ++done;
                    if (!error) {
                        ++written;
                    }
                    if (first) {
                        ++firstFailures;
                    }
                });
        }
    }

    static constexpr std::size_t kCap = 256 * 1024;
    static constexpr std::size_t kBlock = 64 * 1024;
    static constexpr int kBlocks = 160;
    std::atomic<int> written{0};
    std::atomic<int> done{0};
    std::atomic<int> firstFailures{0};
};

}  // namespace

TEST_F(StalledPeerTest, OverflowHandlerRunsOnceAndTheOwnerCloses) {
    std::atomic<int> overflows{0};
    net.run([&] {
        pair.connection->setOverflowHandler([&](const TcpConnection::Ptr& connection) {
            ++overflows;
            EXPECT_GT(connection->backlog(), kCap);
            connection->close();
        });
        return 0;
    });
    flood();
    ASSERT_TRUE(waitUntil([&] { return overflows > 0; }, nettest::kWaitLimit));
    // Let every posted write reach the closed connection.
    net.run([] { return 0; });
    EXPECT_EQ(overflows, 1);
    EXPECT_TRUE(net.run([&] { return pair.connection->isClosed(); }));
    EXPECT_EQ(net.run([&] { return pair.connection->backlog(); }), 0u);
    EXPECT_LT(written.load(), kBlocks);
    // Every write hears how it ended, also those the close dropped before they started.
    EXPECT_TRUE(waitUntil([&] { return done == kBlocks; }, nettest::kWaitLimit)) << done;
    // Of all the writes the close failed, one is marked as the connection's first failure.
    EXPECT_EQ(firstFailures, 1);
}

TEST_F(StalledPeerTest, OverflowHandlerRunsOnceEvenWhenTheOwnerKeepsTheConnection) {
    std::atomic<int> overflows{0};
    net.run([&] {
        pair.connection->setOverflowHandler([&](const TcpConnection::Ptr&) { ++overflows; });
        return 0;
    });
    flood();
    ASSERT_TRUE(waitUntil([&] { return overflows > 0; }, nettest::kWaitLimit));
    net.run([] { return 0; });
    EXPECT_EQ(overflows, 1);
    EXPECT_GT(net.run([&] { return pair.connection->backlog(); }), 2 * kCap);
    net.run([&] { return pair.connection->close(); });
}
