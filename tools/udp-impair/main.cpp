// udp-impair: puts a lossy, jittery UDP link in front of a local game server, for trying
// clients by hand. Clients send their datagrams to the printed port.
#include <boost/program_options.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "tools/udp-impair/UdpImpairProxy.h"

namespace po = boost::program_options;

int main(int argc, char** argv) {
    UdpImpairProxy::Settings settings;
    int serverPort = 21042;
    int seconds = 60;
    po::options_description options("Allowed options");
    options.add_options()("help", "produce help message")(
        "server-port", po::value<int>(&serverPort)->default_value(21042),
        "the server's port on 127.0.0.1")(
        "drop", po::value<double>(&settings.dropRate)->default_value(0.2), "share dropped")(
        "duplicate", po::value<double>(&settings.duplicateRate)->default_value(0.05),
        "share sent twice")("reorder", po::value<double>(&settings.reorderRate)->default_value(0.1),
                            "share held back so that later ones overtake")(
        "min-delay", po::value<int>(&settings.minDelayMs)->default_value(0), "ms")(
        "max-delay", po::value<int>(&settings.maxDelayMs)->default_value(40), "ms")(
        "seed", po::value<std::uint32_t>(&settings.seed)->default_value(1), "random seed")(
        "seconds", po::value<int>(&seconds)->default_value(60), "run time");
    po::variables_map values;
    try {
        po::store(po::parse_command_line(argc, argv, options), values);
        po::notify(values);
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n" << options << "\n";
        return 1;
    }
    if (values.count("help") || serverPort <= 0 || serverPort > 65535 || seconds <= 0) {
        std::cout << options << "\n";
        return 1;
    }

    UdpImpairProxy proxy(static_cast<std::uint16_t>(serverPort), settings);
    if (!proxy.start()) {
        std::cerr << proxy.error() << "\n";
        return 1;
    }
    std::printf("udp-impair on 127.0.0.1:%u -> 127.0.0.1:%d for %d s\n", proxy.port(), serverPort,
                seconds);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    proxy.stop();
    const UdpImpairProxy::Counters c = proxy.counters();
    std::printf(
        "received %llu delivered %llu dropped %llu duplicated %llu reordered %llu\n",
        static_cast<unsigned long long>(c.received), static_cast<unsigned long long>(c.delivered),
        static_cast<unsigned long long>(c.dropped), static_cast<unsigned long long>(c.duplicated),
        static_cast<unsigned long long>(c.reordered));
    return 0;
}
