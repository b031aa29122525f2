#pragma once

#include <array>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Common/FrameCodec.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/Quaternion.h"
#include "tools/testkit/ClientSession.h"

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

// One state of an object as an ObjectUpdate carried it.
struct Sample {
    std::uint32_t timestamp = 0;
    float position[3] = {0, 0, 0};
    float orientation[4] = {1, 0, 0, 0};  // w, x, y, z
    double arrival = 0;                   // monotonicSeconds() when it came
    // The state only: where and when it came plays no part.
    bool operator==(const Sample& other) const;
};

// What the client has been told of one object.
struct Known {
    std::uint32_t objectType = 0;
    bool announced = false;  // an ObjectInfo came
    bool destroyed = false;
    bool destroyedOverTcp = false;
    std::uint64_t updates = 0;
    // The newest ObjectUpdates (at most 64) in the order they came: a bad link reorders.
    std::vector<Sample> recent;
};

// A summary of everything received, of bounded size per object, kept however long the client
// plays.
struct View {
    bool tcpClosed = false;  // the server closed the connection, or it failed
    // Frames that did not decode, bytes left after a datagram's frames, a stream that cannot
    // be cut, and messages a server never sends: none from a well-behaved server.
    std::uint64_t badFrames = 0;
    std::uint64_t ownUpdates = 0;  // ObjectUpdates of the own ship
    std::map<std::uint64_t, Known> objects;
};

struct Options {
    // Every message received, for messages() and waitFor(); a long run keeps only the View.
    bool keepMessages = true;
    // Where the datagrams go when not to the server's port (a proxy in between).
    std::uint16_t udpPort = 0;
};

// How the client steers its ship: the orientation, turned about the ship's y axis at turnRate
// (radians per second), and the controls held down.
struct Steering {
    Quaternion orientation;
    std::uint32_t controls = 0;
    double turnRate = 0;
};

// A player that speaks the game protocol from code: joins over TCP, keeps the qport of its
// Welcome, sends ClientUpdates over UDP from its own socket (by hand, or steering at an
// interval), and keeps what it receives: a View always, and every message with its transport
// and arrival time unless told not to.
//
// All socket work runs on the thread(s) of the io_service given to create(); the public
// operations may be called from any thread, and every wait is bounded by its timeout. The
// io_service must outlive the client.
class ScriptedClient : public std::enable_shared_from_this<ScriptedClient> {
public:
    using Ptr = std::shared_ptr<ScriptedClient>;
    using udp = boost::asio::ip::udp;
    using tcp = boost::asio::ip::tcp;
    // Runs on the io thread for every message, after it was kept.
    using MessageCallback = std::function<void(const ReceivedMessage&)>;

    static Ptr create(boost::asio::io_service& io, Options options = Options());
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
    void sendClientUpdate(const Quaternion& orientation, std::uint32_t controls);
    void sendClientUpdate(const Morvik::ClientUpdate& update);
    // Raw bytes to the server's UDP port, from the client's UDP socket.
    void sendDatagram(std::string bytes);
    // Once joined, sends the steering's ClientUpdate now and then every interval, until
    // close(). A later call changes what is sent and keeps the angle turned so far.
    void steer(const Steering& steering, Clock::duration interval = Milliseconds(50));

    // Everything received so far, in arrival order (with keepMessages).
    std::vector<ReceivedMessage> messages() const;
    std::size_t messageCount() const;
    // Waits until pred holds for the messages received so far (checked again after each new
    // message); false on timeout. pred gets a copy and may call the client.
    bool waitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& pred,
                 Milliseconds timeout) const;
    // Waits for the first message from index `from` on that matches pred; its index, or -1.
    long waitForMessage(const std::function<bool(const ReceivedMessage&)>& pred, std::size_t from,
                        Milliseconds timeout) const;

    View view() const;
    // From now on, times the waits for updates of the own ship.
    void markServed();
    // The longest of them so far in seconds: from the mark to the first update, between two,
    // and from the last one to now.
    double longestOwnWait() const;

    // The server closed (or reset) the TCP connection.
    bool tcpClosed() const;
    bool waitForTcpClosed(Milliseconds timeout) const;

    // Stops steering and closes both sockets; waits (bounded) until the io thread has done it.
    void close();

private:
    ScriptedClient(boost::asio::io_service& io, const Options& options);

    void armTcpReceive();
    void armUdpReceive();
    void onTcpReceive(const boost::system::error_code& error, std::size_t count);
    void onUdpReceive(const boost::system::error_code& error, std::size_t count);
    void keep(Transport transport, std::uint8_t type, const std::uint8_t* body, std::size_t size,
              std::uint16_t sourcePort);
    void takeIn(const ReceivedMessage& received, double seconds);
    void countBad();
    void lostTcp();
    void sendNow(const Morvik::ClientUpdate& update);
    void steerAgain();
    void closeSockets();

    boost::asio::io_service& io_;
    const Options options_;
    // io thread only, after connect.
    tcp::socket tcpSocket_;
    udp::socket udpSocket_;
    boost::asio::steady_timer steerTimer_;
    udp::endpoint serverUdp_;
    udp::endpoint udpSender_;
    std::array<std::uint8_t, 4096> tcpBuffer_{};
    std::array<std::uint8_t, 2048> udpBuffer_{};
    ClientSession session_;
    Steering steering_;
    Clock::duration steerInterval_{};
    Clock::time_point nextSteer_;
    Clock::time_point lastSteer_;
    double turned_ = 0;  // radians about the ship's y axis
    bool steeringActive_ = false;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<ReceivedMessage> messages_;
    View view_;
    MessageCallback callback_;
    bool connected_ = false;
    bool connectDone_ = false;
    bool socketsClosed_ = false;
    bool joined_ = false;
    Morvik::Welcome welcome_;
    double servedMark_ = 0;
    double lastOwnUpdate_ = 0;
    double longestOwnWait_ = 0;
};

}  // namespace scripted
