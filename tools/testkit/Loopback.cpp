#include "tools/testkit/Loopback.h"

namespace asio = boost::asio;

bool openGamePort(asio::ip::tcp::acceptor& acceptor, asio::ip::udp::socket& udp) {
    const auto loopback = asio::ip::address_v4::loopback();
    for (int attempt = 0; attempt < 50; ++attempt) {
        boost::system::error_code error;
        acceptor.close(error);
        udp.close(error);
        acceptor.open(asio::ip::tcp::v4(), error);
        if (!error) {
            acceptor.bind(asio::ip::tcp::endpoint(loopback, 0), error);
        }
        if (!error) {
            acceptor.listen(asio::socket_base::max_listen_connections, error);
        }
        if (error) {
            continue;
        }
        // The system picked a TCP port; its UDP twin may be someone else's.
        udp.open(asio::ip::udp::v4(), error);
        if (!error) {
            udp.bind(asio::ip::udp::endpoint(loopback, acceptor.local_endpoint().port()), error);
        }
        if (!error) {
            return true;
        }
    }
    return false;
}
