// Fuzz target: what a server sends a client, through the client's real receive path (its
// UDP socket and its TCP connection) into the PacketReceiver's handlers and the world's
// update, as the client's frame runs them.
//
// Input: records (tools/fuzz/FuzzRecords.h): datagrams, TCP bytes and frames. Each input
// starts from an empty world. The sockets are real, on 127.0.0.1; the fuzzer's thread runs
// the I/O service itself. New ships load their textures, so the target needs an OpenGL
// context (an X server: run it under xvfb-run) and the Resources folder beside its working
// directory, as the client does.
#include <SDL/SDL.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Common/SceneGraph.h"
#include "Common/Statistics.h"
#include "client/PacketReceiver.h"
#include "tools/fuzz/FuzzHarness.h"
#include "tools/fuzz/FuzzRecords.h"

namespace {

using namespace fuzzrecords;

constexpr float kFrameSeconds = 1.0f / 60.0f;

// The client ends when its connection closes; a stream the receiver gave up on (a zero length)
// does that by design. This receiver lets the event pass instead, and the harness connects anew.
class FuzzReceiver : public PacketReceiver {
public:
    using PacketReceiver::PacketReceiver;
    bool onConnectionClosed(const TcpConnection::Ptr&) override { return true; }
};

boost::asio::io_service io;
PacketReceiver* receiver = nullptr;
std::uint16_t clientUdpPort = 0;
int listener = -1;
int datagramSocket = -1;  // the fuzzer's "server" UDP socket
int serverSide = -1;      // the fuzzer's end of the client's TCP connection
TcpConnection::Ptr connection;

using fuzzharness::AlarmBlocked;
using fuzzharness::die;

void connectClient() {
    const AlarmBlocked blocked;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    connection = TcpConnection::create(io);
    boost::system::error_code error;
    connection->socket().connect(
        boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(),
                                       ntohs(address.sin_port)),
        error);
    serverSide = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (error || serverSide < 0) {
        die("connect");
    }
    receiver->startTCPReceive(connection);
}

void sendTcp(const std::uint8_t* bytes, std::size_t length) {
    fuzzharness::sendTcp(io, serverSide, bytes, length, [] { return connection->isClosed(); });
}

void frame() {
    receiver->processEvents();
    SceneGraph* world = SceneGraph::getInstance();
    world->updateAll(kFrameSeconds);
    world->flushRemovals();
}

}  // namespace

void fuzzharness::setUp() {
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !SDL_SetVideoMode(64, 64, 0, SDL_OPENGL)) {
        std::fprintf(stderr, "no OpenGL context: %s\n", SDL_GetError());
        std::abort();
    }
    receiver = new FuzzReceiver(io, SceneGraph::getInstance(), 3600);
    clientUdpPort = receiver->getUDPSocket().local_endpoint().port();
    datagramSocket = fuzzharness::openDatagramSocket();
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any = loopbackAddress(0);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        listen(listener, 4) != 0) {
        die("sockets");
    }
    connectClient();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    forEachRecord(data, size, [](const Record& record) {
        switch (record.op % 3) {
            case kClientDatagram:
                fuzzharness::sendDatagram(io, datagramSocket, clientUdpPort, record.payload,
                                          record.length);
                break;
            case kClientTcp:
                sendTcp(record.payload, record.length);
                break;
            default:
                frame();
                break;
        }
    });
    frame();
    // The next input starts from an empty world on a connection with no leftover bytes.
    SceneGraph::getInstance()->resetForTesting();
    close(serverSide);
    fuzzharness::pumpUntil(io, [] { return connection->isClosed(); });
    connectClient();
    return 0;
}
