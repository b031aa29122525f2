// The game server's entry point: options, start-up in a fixed order, then the scheduler loop
// on the main thread, the network thread and the console thread.

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/io_service.hpp>
#include <boost/program_options.hpp>
#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "Common/ConsoleLog.h"
#include "Common/GameState.h"
#include "Common/Platform.h"
#include "Common/SceneGraph.h"
#include "Common/Statistics.h"
#include "Common/TaskScheduler.h"
#include "Server/ObjectFactory.h"
#include "Server/OutgoingQueues.h"
#include "Server/PacketHandler.h"
#include "Server/ServerConsole.h"
#include "Server/ServerTick.h"
#include "Server/StatisticsFile.h"
#include "Server/World.h"

namespace po = boost::program_options;

static boost::asio::io_service ioService;

namespace {

constexpr std::int64_t kMicrosecondsPerMinute = 60000000;

using platform::endProcess;

void runNetwork() {
    ioService.run();
}

void onTimelimitExpired(const boost::system::error_code& /*error*/) {
    consoleLog("Timelimit expired\n");
    endProcess(0);
}

}  // namespace

int main(int argc, char* argv[]) {
    boost::thread console{InputServer()};
    console.detach();

    int port = 21042;
    int serverId = 1;
    int spawnType = 0;
    int timelimit = 0;
    std::string stats = "log.csv";
    bool logging = false;

    po::options_description description("Allowed options", 80);
    description.add_options()                                                          //
        ("help", "produce help message")                                               //
        ("port", po::value<int>(&port)->default_value(21042), "set game server port")  //
        ("server-id", po::value<int>(&serverId)->default_value(1), "game server id")   //
        ("spawnType", po::value<int>(&spawnType)->default_value(0),
         "game spawn type 0:plane 1:even 2:point")  //
        ("timelimit", po::value<int>(&timelimit)->default_value(0),
         "exit after <timelimit> minutes, default (0) is no timeout")        //
        ("stats", po::value<std::string>(&stats)->default_value("log.csv"),  //
         "log to this file")                                                 //
        ("log", po::value<bool>(&logging)->default_value(false), "enable logging");

    po::variables_map options;
    try {
        po::store(po::parse_command_line(argc, argv, description), options);
        po::notify(options);
        if (!options.count("help") && (port < 0 || port > 65535)) {
            // A port number the socket layer would silently cut to 16 bits.
            po::invalid_option_value invalid(std::to_string(port));
            invalid.set_option_name("port");
            invalid.set_prefix(po::command_line_style::allow_long);
            throw invalid;
        }
    } catch (const po::error& error) {
        consoleLog("%s\n", error.what());
        endProcess(1);
    }

    if (options.count("help")) {
        std::cout << description << "\n";
        endProcess(1);
    }

    Statistics::getInstance()->setFileName(stats);
    GameState::getInstance()->spawnType = spawnType;
    TeamCarriers carriers{};
    setupWorld(carriers);
    OutgoingQueues::getInstance()->openSocket(ioService);
    ObjectFactory* factory = ObjectFactory::getInstance();
    factory->serverId = serverId;
    factory->counter = 1;
    factory->nextBlueTeam = false;

    boost::asio::deadline_timer timelimitTimer(ioService);
    try {
        const std::uint16_t gamePort = static_cast<std::uint16_t>(port);
        PacketHandler* handler = new PacketHandler(ioService, gamePort, gamePort);
        handler->world = SceneGraph::getInstance();
        handler->queues = OutgoingQueues::getInstance();
        handler->nextQport = 1;
        // The real numbers: with port 0 the system picked them.
        consoleLog("Listening on udp:%d tcp:%d\n", handler->udpPort(), handler->tcpPort());
        packetHandler = handler;
        if (timelimit >= 1) {
            consoleLog("Timelimit is %d minute(s)\n", timelimit);
            timelimitTimer.expires_from_now(boost::posix_time::microseconds(
                static_cast<std::int64_t>(timelimit) * kMicrosecondsPerMinute));
            timelimitTimer.async_wait(&onTimelimitExpired);
        }
    } catch (const boost::system::system_error& error) {
        consoleLog("Could not start PacketHandler: %s (%d). Exiting..\n", error.what(),
                   error.code().value());
        endProcess(1);
    }

    boost::thread network{&runNetwork};
    network.detach();

    addTask(&serverTick, 30.0f);
    if (logging) {
        addTask(&writeStatisticsRow, 1.0f);
    }
    TaskScheduler::run();
    return 0;
}
