#pragma once

#include <array>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Common/FrameCodec.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/Quaternion.h"

namespace scripted {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

enum class Transport { Tcp, Udp };

const char* transportName(Transport transport);
const char* messageTypeName(int type);

// One message as the client received it.
struct ReceivedMessage {
    Transport transport;
    int type;  // MessageType
    std::shared_ptr<const google::protobuf::Message> message;
    Clock::time_point arrival;
    // UDP: the port the datagram came from (0 for TCP).
    std::uint16_t sourcePort = 0;

    template <typename T>
    const T& as() const {
        return static_cast<const T&>(*message);
    }
    bool is(MessageType t) const { return type == static_cast<int>(t); }
};

// The ClientUpdate of a steering orientation and a control mask.
Morvik::ClientUpdate makeClientUpdate(const Quaternion& orientation, std::uint32_t boosters);
// A client datagram: the qport, little-endian, then one frame.
std::string encodeClientDatagram(std::uint16_t qport, const Morvik::ClientUpdate& update);

// A client that speaks the game protocol from code: joins over TCP, keeps the qport of its
// Welcome, sends ClientUpdates over UDP from its own socket, and records every message it
// receives with its transport and arrival time.
//
// All socket work runs on the thread(s) of the io_service given to create(); the public
// operations may be called from any thread, and every wait is bounded by its timeout. The
// io_service must outlive the client.
class ScriptedClient : public std::enable_shared_from_this<ScriptedClient> {
public:
    using Ptr = std::shared_ptr<ScriptedClient>;
    using udp = boost::asio::ip::udp;
    using tcp = boost::asio::ip::tcp;
    // Runs on the io thread for every recorded message, after it was recorded.
    using MessageCallback = std::function<void(const ReceivedMessage&)>;

    static Ptr create(boost::asio::io_service& io);
    ~ScriptedClient();

    void setMessageCallback(MessageCallback callback);

    // TCP connect to host:port and a UDP socket on a port the system chooses. False when the
    // connection fails or does not complete within the timeout.
    bool connect(const std::string& host, std::uint16_t port, Milliseconds timeout);
    // connect, then wait for the Welcome.
    bool join(const std::string& host, std::uint16_t port, Milliseconds timeout);
    bool waitForWelcome(Milliseconds timeout);

    bool joined() const;
    std::uint16_t qport() const;
    std::uint64_t playerId() const;
    Morvik::Welcome welcome() const;

    // Sends with the qport of the Welcome (0 before it).
    void sendClientUpdate(const Quaternion& orientation, std::uint32_t boosters);
    void sendClientUpdate(const Morvik::ClientUpdate& update);
    // Raw bytes to the server's UDP port, from the client's UDP socket.
    void sendDatagram(std::string bytes);
    // Raw bytes on the TCP connection.
    void sendTcp(std::string bytes);

    // Everything received so far, in arrival order.
    std::vector<ReceivedMessage> messages() const;
    std::size_t messageCount() const;
    // Waits until pred holds for the messages received so far (checked again after each new
    // message); false on timeout. pred gets a copy and may call the client.
    bool waitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& pred,
                 Milliseconds timeout) const;
    // Waits for the first message from index `from` on that matches pred; its index, or -1.
    long waitForMessage(const std::function<bool(const ReceivedMessage&)>& pred, std::size_t from,
                        Milliseconds timeout) const;

    // The server closed (or reset) the TCP connection.
    bool tcpClosed() const;
    bool waitForTcpClosed(Milliseconds timeout) const;
    // Frames that failed to decode and datagram bytes left over after the last frame.
    std::size_t decodeErrors() const;

    udp::endpoint udpLocalEndpoint() const;
    tcp::endpoint tcpLocalEndpoint() const;

    // Closes both sockets; waits (bounded) until the io thread has done it.
    void close();

private:
    explicit ScriptedClient(boost::asio::io_service& io);

    void armTcpReceive();
    void armUdpReceive();
    void onTcpReceive(const boost::system::error_code& error, std::size_t count);
    void onUdpReceive(const boost::system::error_code& error, std::size_t count);
    void record(Transport transport, std::vector<NetworkEventPtr>& events,
                std::uint16_t sourcePort = 0);
    void closeSockets();

    boost::asio::io_service& io_;
    // io thread only, after connect.
    tcp::socket tcpSocket_;
    udp::socket udpSocket_;
    udp::endpoint serverUdp_;
    udp::endpoint udpSender_;
    std::array<std::uint8_t, 2048> tcpBuffer_{};
    std::array<std::uint8_t, 2048> udpBuffer_{};
    std::string tcpLeftover_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<ReceivedMessage> messages_;
    MessageCallback callback_;
    bool connected_ = false;
    bool connectDone_ = false;
    bool tcpClosed_ = false;
    bool socketsClosed_ = false;
    bool joined_ = false;
    std::size_t decodeErrors_ = 0;
    Morvik::Welcome welcome_;
    udp::endpoint udpLocal_;
    tcp::endpoint tcpLocal_;
};

}  // namespace scripted
