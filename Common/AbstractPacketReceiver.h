#pragma once

#include <array>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/unordered_map.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Common/NetworkEvent.h"
#include "Common/TcpConnection.h"

namespace Morvik {
class ClientUpdate;
class ObjectDestroy;
class ObjectInfo;
class ObjectUpdate;
class Welcome;
}  // namespace Morvik

// The receiving half of the network layer. On the network thread, receive completions are cut
// into frames and queued as events on the TCP list or the UDP list, each under its own mutex.
// On the main thread, processEvents drains TCP then UDP and dispatches every event to a
// handler by kind and type. A handler returning false drops the rest of that list.
class AbstractPacketReceiver {
public:
    using EventList = std::vector<NetworkEventPtr>;
    using udp = boost::asio::ip::udp;

    static constexpr std::size_t kUdpBufferSize = 2048;

    explicit AbstractPacketReceiver(boost::asio::io_service& io);
    virtual ~AbstractPacketReceiver();

    // Network thread.
    virtual void handleTCPReceive(const boost::system::error_code& error, const std::uint8_t* data,
                                  std::size_t count, const TcpConnection::Ptr& connection);
    virtual void handleTCPClose(const boost::system::error_code& error,
                                const TcpConnection::Ptr& connection);
    virtual void handleUDPReceive(const boost::system::error_code& error, const std::uint8_t* data,
                                  std::size_t count, udp::socket& socket);

    // Main thread. Each returns true to let the drain go on.
    virtual bool dispatchEvent(NetworkEventPtr event);
    virtual bool onNewConnection(const TcpConnection::Ptr& connection);
    virtual bool onConnectionClosed(const TcpConnection::Ptr& connection);
    virtual bool onWelcome(const Morvik::Welcome& message);
    virtual bool onObjectInfo(const Morvik::ObjectInfo& message);
    virtual bool onObjectUpdate(const Morvik::ObjectUpdate& message);
    virtual bool onObjectDestroy(const Morvik::ObjectDestroy& message);
    virtual bool onClientUpdate(const Morvik::ClientUpdate& message, std::uint16_t qport,
                                udp::endpoint sender);

    // Arms the first receive on a connected socket.
    void startTCPReceive(const TcpConnection::Ptr& connection);
    // Starts one receive on a connected socket; each completion starts the next.
    void armTCPReceive(const TcpConnection::Ptr& connection);
    void armUDPReceive(udp::socket& socket);

    // Network thread.
    void pushTCPEvent(NetworkEventPtr event);
    void pushUDPEvent(NetworkEventPtr event);

    // Main thread: the TCP list, then the UDP list, as the tick and the frame need them.
    void processEvents();
    void drainTCPEvents();
    void drainUDPEvents();

    udp::socket& getUDPSocket() { return udpSocket; }

protected:
    // First step of every UDP completion: counts it; on an error reports it and re-arms the
    // receive unless the socket is shutting down. Returns true when there is a datagram to
    // handle.
    bool checkUDPCompletion(const boost::system::error_code& error, std::size_t count,
                            udp::socket& socket);
    // Splits one datagram's frames (after any prefix) and reports bytes left over.
    std::vector<NetworkEventPtr> splitDatagram(const std::uint8_t* data, std::size_t size);

    boost::asio::io_service& ioService;
    udp::socket udpSocket;
    udp::endpoint senderEndpoint;
    std::array<std::uint8_t, kUdpBufferSize> udpBuffer{};
    // Network thread only: the incomplete frame of each connection whose last read ended
    // inside one.
    boost::unordered_map<TcpConnection*, std::string> leftovers;

private:
    void drainEventList(EventList& list, boost::mutex& mutex);

    EventList tcpEvents;
    EventList udpEvents;
    boost::mutex tcpMutex;
    boost::mutex udpMutex;
};
