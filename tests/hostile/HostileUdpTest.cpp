// Clients that send the server bad or too many datagrams, while a well-behaved player plays.
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <random>

#include "tests/hostile/ServedPlayerFixture.h"
#include "tools/testkit/Loopback.h"

namespace {

class DatagramSender {
public:
    explicit DatagramSender(std::uint16_t port)
        : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)), to_(loopbackAddress(port)) {}
    ~DatagramSender() { close(fd_); }

    bool send(const std::string& bytes) {
        return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to_),
                      sizeof to_) == static_cast<ssize_t>(bytes.size());
    }

private:
    int fd_ = -1;
    sockaddr_in to_{};
};

}  // namespace

class HostileUdp : public ServedPlayerFixture {};

TEST_F(HostileUdp, MalformedDatagramsDoNotStopTheServersUdpReceive) {
    player->markServed();
    DatagramSender sender(server->port());
    const std::uint16_t qport = player->qport();
    const std::string prefix = qportPrefix(qport);
    ASSERT_TRUE(sender.send(""));
    ASSERT_TRUE(sender.send("\x02"));
    ASSERT_TRUE(sender.send(prefix));
    ASSERT_TRUE(sender.send(prefix + "\x05"));
    ASSERT_TRUE(sender.send(prefix + std::string("\x00\x00", 2) +
                            clientUpdateFrame(Quaternion(1, 0, 0, 0), 0)));
    ASSERT_TRUE(sender.send(prefix + rawFrame(65535, 4, "\x0a\x00")));
    ASSERT_TRUE(sender.send(prefix + rawFrame(3, 200, "ab")));
    ASSERT_TRUE(sender.send(prefix + rawFrame(5, 4, "\xff\xff\xff\xff")));
    ASSERT_TRUE(sender.send(prefix + rawFrame(1, 4, "")));
    ASSERT_TRUE(
        sender.send(qportPrefix(60000) + clientUpdateFrame(Quaternion(1, 0, 0, 0), 0x40000001u)));
    // Larger than the receive buffer: cut short on arrival.
    std::string oversized = prefix;
    while (oversized.size() < 4000) {
        oversized += clientUpdateFrame(Quaternion(1, 0, 0, 0), 1);
    }
    ASSERT_TRUE(sender.send(oversized));
    ASSERT_TRUE(sender.send(prefix + std::string(60000, 'x')));
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        std::string bytes(random() % 1500, '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random() & 0xFF);
        }
        sender.send(bytes);
        if (i % 200 == 199) {
            sleepForMs(5);
        }
    }
    expectServed(1.0);
    // The server learns a newcomer's UDP address only from its ClientUpdates: a newcomer
    // served over UDP proves that the server still reads its socket.
    auto newcomer = joinProbe();
    ASSERT_TRUE(newcomer);
    newcomer->close();
}

TEST_F(HostileUdp, FloodOfValidClientUpdatesFromOneClient) {
    auto flooder = joinRaw();
    ASSERT_TRUE(flooder);
    DatagramSender sender(server->port());
    const std::string datagram = qportPrefix(flooder->qport()) +
                                 clientUpdateFrame(Quaternion(0.7071f, 0, 0.7071f, 0), 0x40000011u);
    const std::int64_t residentBefore = server->residentBytes();
    player->markServed();
    const std::int64_t end = monotonicMs() + 3000;
    std::uint64_t sent = 0;
    while (monotonicMs() < end) {
        for (int i = 0; i < 100; ++i) {
            sent += sender.send(datagram) ? 1 : 0;
        }
    }
    EXPECT_GT(sent, 10000u);
    expectServed(0.5);
    // Each tick takes all that came; nothing may pile up for good.
    EXPECT_LT(server->residentBytes() - residentBefore, 64 << 20);
    // The flooder was playing by the rules: it is still in the game and served.
    flooder->readFor(200);
    auto newcomer = joinProbe();
    ASSERT_TRUE(newcomer);
    const View view = newcomer->view();
    auto found = view.objects.find(flooder->ownId());
    ASSERT_NE(found, view.objects.end());
    EXPECT_FALSE(found->second.destroyed);
    newcomer->close();
}

TEST_F(HostileUdp, OversizedOrientationsDoNotMakeShipsNonFinite) {
    auto hostile = joinRaw();
    ASSERT_TRUE(hostile);
    DatagramSender sender(server->port());
    // Finite, but far from a unit quaternion: rotating by it scales by its squared length.
    for (float scale : {1e10f, 1e20f, 3e38f}) {
        for (int i = 0; i < 10; ++i) {
            sender.send(qportPrefix(hostile->qport()) +
                        clientUpdateFrame(Quaternion(scale, scale, 0, 0), 0x40000011u));
            sleepForMs(40);
        }
    }
    sleepForMs(1500);
    const View view = player->view();
    for (const auto& [id, known] : view.objects) {
        for (const scripted::Sample& sample : known.recent) {
            for (float value : sample.position) {
                EXPECT_TRUE(std::isfinite(value)) << "ship " << id;
            }
            for (float value : sample.orientation) {
                EXPECT_TRUE(std::isfinite(value)) << "ship " << id;
            }
        }
    }
}
