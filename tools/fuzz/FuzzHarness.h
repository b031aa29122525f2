#pragma once
// What the two receive-path fuzzers share: they drive real loopback sockets from inside
// libFuzzer's process, and their own thread runs the receiver's I/O service, so that
// everything happens in a known order. Included once by each target, which defines setUp().

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <google/protobuf/stubs/logging.h>
#include <algorithm>
#include <boost/asio/io_service.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Common/Statistics.h"
#include "tools/testkit/Loopback.h"

namespace fuzzharness {

// A harness whose sockets fail cannot go on; the fuzzer reports the abort.
[[noreturn]] inline void die(const char* what) {
    std::perror(what);
    std::abort();
}

// libFuzzer's watchdog alarm would interrupt a blocking connect or accept half way.
class AlarmBlocked {
public:
    AlarmBlocked() {
        sigset_t alarm;
        sigemptyset(&alarm);
        sigaddset(&alarm, SIGALRM);
        pthread_sigmask(SIG_BLOCK, &alarm, &previous_);
    }
    ~AlarmBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    AlarmBlocked(const AlarmBlocked&) = delete;
    AlarmBlocked& operator=(const AlarmBlocked&) = delete;

private:
    sigset_t previous_;
};

// Runs the receiver's network side until pred holds (bounded: loopback delivers at once).
template <typename Pred>
bool pumpUntil(boost::asio::io_service& io, Pred pred) {
    for (int round = 0; round < 200; ++round) {
        io.restart();
        io.poll();
        if (pred()) {
            return true;
        }
        if (round > 2) {
            usleep(100);
        }
    }
    return false;
}

// The fuzzer's own UDP socket on 127.0.0.1.
inline int openDatagramSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any = loopbackAddress(0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        die("udp socket");
    }
    return fd;
}

// Sends one datagram from fd to port and runs the receiver until it has taken it in.
inline void sendDatagram(boost::asio::io_service& io, int fd, std::uint16_t port,
                         const std::uint8_t* bytes, std::size_t length) {
    // Larger than any datagram a socket takes: cut to the largest one.
    length = std::min<std::size_t>(length, 65507);
    Statistics* statistics = Statistics::getInstance();
    const std::uint64_t before = statistics->getPackets(udp_rcvd);
    sockaddr_in to = loopbackAddress(port);
    if (sendto(fd, bytes, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(length)) {
        die("sendto");
    }
    pumpUntil(io, [&] { return statistics->getPackets(udp_rcvd) > before; });
}

// Sends what fits of bytes on the connected socket fd and runs the receiver until it has read
// them or closed the connection (closed() says so).
template <typename Closed>
void sendTcp(boost::asio::io_service& io, int fd, const std::uint8_t* bytes, std::size_t length,
             Closed closed) {
    if (closed()) {
        return;
    }
    Statistics* statistics = Statistics::getInstance();
    const std::uint64_t before = statistics->getBytes(tcp_rcvd);
    const ssize_t sent = send(fd, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent <= 0) {
        return;
    }
    pumpUntil(io, [&] {
        return statistics->getBytes(tcp_rcvd) >= before + static_cast<std::uint64_t>(sent) ||
               closed();
    });
}

// The target's world and sockets, made once before the first input.
void setUp();

}  // namespace fuzzharness

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every malformed body would log a line: millions of them.
    google::protobuf::SetLogHandler(nullptr);
    fuzzharness::setUp();
    return 0;
}
