#pragma once
// Helpers for the tests of the server program's network side: the test thread plays the
// network thread by running the io_service's ready handlers itself.

#include <gtest/gtest.h>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "Common/Statistics.h"
#include "tools/testkit/Loopback.h"
#include "tools/testkit/MonotonicClock.h"

namespace progtest {

constexpr std::chrono::seconds kWaitLimit{5};

// Runs whatever is ready now, e.g. the closes a handler posted.
inline void pump(boost::asio::io_service& io) {
    io.poll();
    io.restart();
}

// Runs ready handlers on this thread until pred holds; false when the limit passes first.
inline bool pumpUntil(boost::asio::io_service& io, const std::function<bool()>& pred) {
    return waitUntil(
        [&] {
            pump(io);
            return pred();
        },
        kWaitLimit);
}

// Events queued on the TCP or the UDP list since the counters were reset: each one counts as a
// received message, and here it is counted on this thread.
inline std::uint64_t queued(bool tcp) {
    return Statistics::getInstance()->getMessages(tcp ? tcp_rcvd : udp_rcvd);
}

}  // namespace progtest
