// Fuzz target: what clients send the server, through its real receive path (UDP socket with
// the qport prefix, TCP connections) into the PacketHandler's dispatch and the tick, against
// a small world of three joined players.
//
// Input: records (tools/fuzz/FuzzRecords.h): datagrams, TCP bytes on a player's connection,
// ticks, and players leaving and joining. The sockets are real, on 127.0.0.1; the fuzzer's
// thread runs the I/O service itself, so everything happens in a known order.
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <boost/asio/io_service.hpp>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "Common/SceneGraph.h"
#include "Common/Statistics.h"
#include "Server/ObjectFactory.h"
#include "Server/OutgoingQueues.h"
#include "Server/PacketHandler.h"
#include "Server/ServerTick.h"
#include "Server/World.h"
#include "tools/fuzz/FuzzHarness.h"
#include "tools/fuzz/FuzzRecords.h"

namespace {

using namespace fuzzrecords;

constexpr std::size_t kPlayers = 3;

boost::asio::io_service io;
PacketHandler* handler = nullptr;
std::uint16_t tcpPort = 0;
std::uint16_t udpPort = 0;
int datagramSocket = -1;  // the fuzzer's client UDP socket; players steered from it get
                          // their datagrams here
std::array<int, kPlayers> connections;

using fuzzharness::AlarmBlocked;
using fuzzharness::die;

void pump() {
    io.restart();
    io.poll();
}

// Reads and drops whatever the server sent, so no buffer fills up between inputs.
void drain(int fd) {
    char buffer[65536];
    while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
}

bool finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool finite(const Quaternion& q) {
    return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

// Whatever clients send, the world the server simulates and tells everybody about stays
// made of numbers: a non-finite ship would be relayed to every client.
void checkWorld() {
    for (const Transform* object : SceneGraph::getInstance()->children) {
        if (!finite(object->position) || !finite(object->velocity) ||
            !finite(object->orientation) || !finite(object->shownPosition)) {
            std::fprintf(stderr, "object %llx of type %d has a non-finite state\n",
                         static_cast<unsigned long long>(object->id), object->objectType);
            std::abort();
        }
    }
}

void tick() {
    serverTick();
    pump();
    checkWorld();
}

int join() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopbackAddress(tcpPort);
    {
        const AlarmBlocked blocked;
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            die("connect");
        }
    }
    Statistics* statistics = Statistics::getInstance();
    const std::uint64_t before = statistics->getMessages(tcp_rcvd);
    if (!fuzzharness::pumpUntil(io, [&] { return statistics->getMessages(tcp_rcvd) > before; })) {
        die("accept");
    }
    tick();  // the player is made and welcomed
    return fd;
}

// True while the server still holds the connection open.
bool alive(int fd) {
    char byte;
    const ssize_t count = recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return count > 0 || (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

void leave(std::size_t index) {
    // A connection the server gave up on has had its close event queued already.
    const bool open = alive(connections[index]);
    close(connections[index]);
    if (open) {
        Statistics* statistics = Statistics::getInstance();
        const std::uint64_t before = statistics->getMessages(tcp_rcvd);
        fuzzharness::pumpUntil(io, [&] { return statistics->getMessages(tcp_rcvd) > before; });
    }
    tick();
    connections[index] = join();
}

void sendTcp(std::size_t index, const std::uint8_t* bytes, std::size_t length) {
    const int fd = connections[index];
    fuzzharness::sendTcp(io, fd, bytes, length, [fd] { return !alive(fd); });
}

}  // namespace

void fuzzharness::setUp() {
    TeamCarriers carriers{};
    setupWorld(carriers);
    OutgoingQueues::getInstance()->openSocket(io);
    ObjectFactory* factory = ObjectFactory::getInstance();
    factory->serverId = 1;
    factory->counter = 1;
    factory->nextBlueTeam = false;
    handler = new PacketHandler(io, 0, 0);
    handler->world = SceneGraph::getInstance();
    handler->queues = OutgoingQueues::getInstance();
    handler->nextQport = 1;
    packetHandler = handler;
    tcpPort = handler->tcpPort();
    udpPort = handler->getUDPSocket().local_endpoint().port();

    datagramSocket = fuzzharness::openDatagramSocket();
    for (int& fd : connections) {
        fd = join();  // qports 2, 3 and 4
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    forEachRecord(data, size, [](const Record& record) {
        const std::size_t index = (record.op >> 2) % kPlayers;
        switch (record.op % 4) {
            case kServerDatagram:
                fuzzharness::sendDatagram(io, datagramSocket, udpPort, record.payload,
                                          record.length);
                break;
            case kServerTcp:
                sendTcp(index, record.payload, record.length);
                break;
            case kServerTick:
                tick();
                break;
            default:
                leave(index);
                break;
        }
    });
    tick();
    // Players whose streams the server gave up on come back for the next input.
    for (std::size_t i = 0; i < kPlayers; ++i) {
        drain(connections[i]);
        if (!alive(connections[i])) {
            leave(i);
        }
    }
    drain(datagramSocket);
    return 0;
}
