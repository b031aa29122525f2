// scripted-client: joins a game server, optionally steers and fires, and prints every message
// it receives, one line each: milliseconds since joining, transport, type, content.

#include <boost/program_options.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "Common/Controls.h"
#include "tools/testkit/IoThread.h"
#include "tools/testkit/ScriptedClient.h"

namespace po = boost::program_options;
using scripted::Milliseconds;

namespace {

bool parseOrientation(const std::string& text, Quaternion& out) {
    std::istringstream in(text);
    char comma1 = 0, comma2 = 0, comma3 = 0;
    in >> out.w >> comma1 >> out.x >> comma2 >> out.y >> comma3 >> out.z;
    return in && comma1 == ',' && comma2 == ',' && comma3 == ',';
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string host = "127.0.0.1";
    int port = 21042;
    double seconds = 5.0;
    double rate = 20.0;
    std::string orientationText = "1,0,0,0";
    std::uint32_t boosters = 0;

    po::options_description description("Allowed options");
    description.add_options()                                                        //
        ("help", "print the options")                                                //
        ("host", po::value<std::string>(&host)->default_value(host), "server host")  //
        ("port", po::value<int>(&port)->default_value(port), "server port")          //
        ("seconds", po::value<double>(&seconds)->default_value(seconds),
         "how long to stay after joining")  //
        ("rate", po::value<double>(&rate)->default_value(rate),
         "ClientUpdates per second (0: send none)")  //
        ("orientation", po::value<std::string>(&orientationText)->default_value(orientationText),
         "steering quaternion w,x,y,z")  //
        ("boosters", po::value<std::uint32_t>(&boosters)->default_value(0),
         "control bit mask of every ClientUpdate")  //
        ("fire", "hold the fire control");

    po::variables_map options;
    try {
        po::store(po::parse_command_line(argc, argv, description), options);
        po::notify(options);
    } catch (const po::error& error) {
        std::cerr << error.what() << "\n";
        return 2;
    }
    Quaternion orientation;
    if (options.count("help") || !parseOrientation(orientationText, orientation) || port < 1 ||
        port > 65535 || rate < 0.0 || seconds < 0.0) {
        std::cout << description << "\n";
        return options.count("help") ? 0 : 2;
    }
    if (options.count("fire")) {
        boosters |= controls::kFire;
    }

    IoThread io;
    // It prints what comes and keeps nothing, however long it stays.
    auto client = scripted::ScriptedClient::create(io.service(), {false});
    const auto start = scripted::Clock::now();
    client->setMessageCallback([start](const scripted::ReceivedMessage& received) {
        const auto ms = std::chrono::duration_cast<Milliseconds>(received.arrival - start).count();
        std::printf("%lld %s %s %s\n", static_cast<long long>(ms),
                    scripted::transportName(received.transport),
                    scripted::messageTypeName(received.type),
                    received.message->ShortDebugString().c_str());
        std::fflush(stdout);
    });

    if (!client->join(host, static_cast<std::uint16_t>(port), Milliseconds(5000))) {
        std::fprintf(stderr, "Could not join %s:%d\n", host.c_str(), port);
        client->close();
        return 1;
    }

    if (rate > 0.0) {
        client->steer({orientation, boosters},
                      std::chrono::duration_cast<scripted::Clock::duration>(
                          std::chrono::duration<double>(1.0 / rate)));
    }
    client->waitForTcpClosed(
        std::chrono::duration_cast<Milliseconds>(std::chrono::duration<double>(seconds)));
    const bool closedByServer = client->tcpClosed();
    client->close();
    return closedByServer ? 3 : 0;
}
