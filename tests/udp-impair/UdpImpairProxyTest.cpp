#include "tools/udp-impair/UdpImpairProxy.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// A UDP socket on 127.0.0.1 with a system-chosen port.
class LoopbackSocket {
public:
    LoopbackSocket() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int size = 1 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackSocket() { close(fd_); }

    std::uint16_t port() const { return port_; }

    void sendTo(std::uint16_t port, const std::string& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    // Receives until nothing has come for quietMs; the source port of the last one in *from.
    std::vector<std::string> receiveAll(int quietMs, std::uint16_t* from = nullptr) {
        std::vector<std::string> received;
        char buffer[2048];
        pollfd entry{fd_, POLLIN, 0};
        while (poll(&entry, 1, quietMs) > 0) {
            sockaddr_in source{};
            socklen_t length = sizeof source;
            const ssize_t count = recvfrom(fd_, buffer, sizeof buffer, 0,
                                           reinterpret_cast<sockaddr*>(&source), &length);
            if (count < 0) {
                break;
            }
            received.emplace_back(buffer, static_cast<std::size_t>(count));
            if (from) {
                *from = ntohs(source.sin_port);
            }
        }
        return received;
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

std::string numbered(int i) {
    return "datagram " + std::to_string(i);
}

int numberOf(const std::string& bytes) {
    return std::stoi(bytes.substr(9));
}

}  // namespace

TEST(UdpImpairProxy, PassesBothWaysUnharmedWhenNotImpaired) {
    LoopbackSocket server;
    LoopbackSocket client;
    UdpImpairProxy proxy(server.port(), UdpImpairProxy::Settings{});
    ASSERT_TRUE(proxy.start()) << proxy.error();
    proxy.setImpaired(false);

    for (int i = 0; i < 50; ++i) {
        client.sendTo(proxy.port(), numbered(i));
    }
    std::uint16_t upstreamPort = 0;
    const std::vector<std::string> atServer = server.receiveAll(300, &upstreamPort);
    ASSERT_EQ(atServer.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(atServer[i], numbered(i));
    }
    // The server answers the source it saw; the answer must come back to the client.
    ASSERT_NE(upstreamPort, 0);
    ASSERT_NE(upstreamPort, client.port());
    server.sendTo(upstreamPort, "reply");
    const std::vector<std::string> atClient = client.receiveAll(300);
    ASSERT_EQ(atClient.size(), 1u);
    EXPECT_EQ(atClient[0], "reply");
}

TEST(UdpImpairProxy, GivesEachClientItsOwnUpstreamPort) {
    LoopbackSocket server;
    LoopbackSocket first;
    LoopbackSocket second;
    UdpImpairProxy proxy(server.port(), UdpImpairProxy::Settings{});
    ASSERT_TRUE(proxy.start()) << proxy.error();
    proxy.setImpaired(false);

    std::uint16_t firstUpstream = 0;
    std::uint16_t secondUpstream = 0;
    first.sendTo(proxy.port(), "one");
    ASSERT_EQ(server.receiveAll(200, &firstUpstream).size(), 1u);
    second.sendTo(proxy.port(), "two");
    ASSERT_EQ(server.receiveAll(200, &secondUpstream).size(), 1u);
    EXPECT_NE(firstUpstream, secondUpstream);

    server.sendTo(secondUpstream, "for two");
    EXPECT_TRUE(first.receiveAll(150).empty());
    const std::vector<std::string> atSecond = second.receiveAll(150);
    ASSERT_EQ(atSecond.size(), 1u);
    EXPECT_EQ(atSecond[0], "for two");
    EXPECT_EQ(proxy.counters().clients, 2u);
}

TEST(UdpImpairProxy, DropsDuplicatesAndReordersAtTheConfiguredShares) {
    LoopbackSocket server;
    LoopbackSocket client;
    UdpImpairProxy::Settings settings;
    settings.dropRate = 0.2;
    settings.duplicateRate = 0.1;
    settings.reorderRate = 0.1;
    settings.maxDelayMs = 5;
    settings.reorderHoldMs = 40;
    settings.seed = 7;
    UdpImpairProxy proxy(server.port(), settings);
    ASSERT_TRUE(proxy.start()) << proxy.error();

    const int sent = 2000;
    for (int i = 0; i < sent; ++i) {
        client.sendTo(proxy.port(), numbered(i));
        if (i % 50 == 49) {
            // Let the proxy keep up, so no socket buffer overflows and every loss is its own.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (proxy.counters().received < static_cast<std::uint64_t>(i + 1) &&
                   std::chrono::steady_clock::now() < until) {
                usleep(200);
            }
        }
    }
    const std::vector<std::string> atServer = server.receiveAll(300);
    const UdpImpairProxy::Counters counters = proxy.counters();
    EXPECT_EQ(counters.received, static_cast<std::uint64_t>(sent));
    EXPECT_EQ(counters.delivered, atServer.size());

    std::set<int> distinct;
    int outOfOrder = 0;
    int highest = -1;
    for (const std::string& bytes : atServer) {
        const int n = numberOf(bytes);
        distinct.insert(n);
        if (n < highest) {
            ++outOfOrder;
        }
        highest = std::max(highest, n);
    }
    // Shares of 2000 draws: 20 % dropped is 400 +- 18 (one sigma); allow about four sigma.
    const int lost = sent - static_cast<int>(distinct.size());
    EXPECT_GT(lost, 330);
    EXPECT_LT(lost, 470);
    EXPECT_EQ(static_cast<int>(counters.dropped), lost);
    // Duplicates: 10 % of the 1600 kept, 160 +- 12.
    const int duplicates = static_cast<int>(atServer.size() - distinct.size());
    EXPECT_GT(duplicates, 110);
    EXPECT_LT(duplicates, 210);
    EXPECT_GT(outOfOrder, 50);
}

TEST(UdpImpairProxy, SameSeedDrawsTheSameFates) {
    auto survivors = [](std::uint32_t seed) {
        LoopbackSocket server;
        LoopbackSocket client;
        UdpImpairProxy::Settings settings;
        settings.duplicateRate = 0;
        settings.reorderRate = 0;
        settings.maxDelayMs = 0;
        settings.seed = seed;
        UdpImpairProxy proxy(server.port(), settings);
        EXPECT_TRUE(proxy.start());
        std::set<int> kept;
        for (int i = 0; i < 200; ++i) {
            client.sendTo(proxy.port(), numbered(i));
            // One at a time, so the draws happen in sending order.
            for (const std::string& bytes : server.receiveAll(2)) {
                kept.insert(numberOf(bytes));
            }
        }
        for (const std::string& bytes : server.receiveAll(100)) {
            kept.insert(numberOf(bytes));
        }
        return kept;
    };
    EXPECT_EQ(survivors(3), survivors(3));
    EXPECT_NE(survivors(3), survivors(4));
}
