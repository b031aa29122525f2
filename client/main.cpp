// The client program: options, connection, window, scene, and the 60 Hz frame.
#include <SDL/SDL.h>

#include <boost/program_options.hpp>
#include <cstdint>
#include <iostream>
#include <string>

#include "Common/ConsoleLog.h"
#include "Common/TaskScheduler.h"
#include "client/Frame.h"
#include "client/MVEntryPoint.h"
#include "client/NetworkManager.h"
#include "client/Window.h"

namespace po = boost::program_options;

int SDL_main(int argc, char** argv) {
    std::string host;
    std::string port;
    std::uint32_t udpTimeout = 10;

    po::options_description description("Allowed options", 80);
    description.add_options()             //
        ("help", "produce help message")  //
        ("host", po::value<std::string>(&host)->default_value("127.0.0.1"),
         "set game server host")                                                   //
        ("port", po::value<std::string>(&port)->default_value("21042"),            //
         "set game server port")                                                   //
        ("udp-timeout", po::value<std::uint32_t>(&udpTimeout)->default_value(10),  //
         "exit if no packets received within this timout");

    po::variables_map options;
    try {
        po::store(po::parse_command_line(argc, argv, description), options);
        po::notify(options);
    } catch (const po::error& e) {
        // Like the other start-up failures: say why and end with 1.
        consoleLog("%s\n", e.what());
        return 1;
    }
    if (options.count("help") != 0) {
        std::cout << description << "\n";
        return 1;
    }

    if (!NetworkManager::getInstance()->connect(host, port, udpTimeout)) {
        return 1;
    }
    window.init();
    MVEntryPoint::getInstance()->setup();
    addTask(&frame, 60.0f);
    TaskScheduler::run();

    NetworkManager::getInstance()->stop();
    SDL_Quit();
    return 0;
}

// SDL 1.2 only wraps the entry point on some systems; here the wrapper is this function.
int main(int argc, char** argv) {
    return SDL_main(argc, argv);
}
