#include "Server/ServerConsole.h"

#include <iostream>
#include <sstream>

#include "Common/GameState.h"
#include "Common/Statistics.h"
#include "Server/Player.h"

std::deque<std::string> consoleLines;
boost::mutex consoleMutex;

namespace {

// Offsets of the packet and byte groups in Statistics::rates.
constexpr int kPacketRates = 0;
constexpr int kByteRates = 8;

std::size_t sizeOf(const SceneGraph::ObjectList* list) {
    return list ? list->size() : 0;
}

void writeRateTable(std::ostream& out, const std::string (&cells)[4]) {
    out << "Type - "
        << "up"
        << " - "
        << "down" << std::endl;
    out << "TCP - " << cells[tcp_sent] << " - " << cells[tcp_rcvd] << std::endl;
    out << "UDP - " << cells[udp_sent] << " - " << cells[udp_rcvd] << std::endl;
}

}  // namespace

void pushConsoleLine(std::string line) {
    boost::mutex::scoped_lock lock(consoleMutex);
    consoleLines.push_back(std::move(line));
}

bool popConsoleLine(std::string& line) {
    boost::mutex::scoped_lock lock(consoleMutex);
    if (consoleLines.empty()) {
        return false;
    }
    line = consoleLines.back();
    consoleLines.pop_back();
    return true;
}

void readConsoleLines(std::istream& in) {
    // At the end of input there is nothing more to read; the server goes on without a console.
    std::string line;
    while (std::getline(in, line)) {
        pushConsoleLine(line);
    }
}

void InputServer::operator()() const {
    readConsoleLines(std::cin);
}

std::string formatBytes(float rate) {
    float value = rate;
    const char* unit = "B";
    if (rate >= 1024.0f) {
        value = rate * (1.0f / 1024.0f);
        unit = "KB";
    }
    if (rate >= 1048576.0f) {
        value = rate * (1.0f / 1048576.0f);
        unit = "MB";
    }
    if (rate >= 1073741824.0f) {
        value = rate * (1.0f / 1073741824.0f);
        unit = "GB";
    }
    std::ostringstream text;
    text << value << unit;
    return text.str();
}

void handleConsoleLine(const std::string& line, SceneGraph::ObjectList* players,
                       SceneGraph::ObjectList* projectiles, std::ostream& out) {
    const float* rates = Statistics::getInstance()->rates;
    if (line == "players" || line == "pl") {
        out << sizeOf(players) << std::endl;
    } else if (line == "shots" || line == "sh") {
        out << sizeOf(projectiles) << std::endl;
    } else if (line == "score" || line == "sc") {
        const GameState* state = GameState::getInstance();
        out << state->redTeamScore << " - " << state->blueTeamScore << std::endl;
    } else if (line == "bandwidth" || line == "bw") {
        std::string cells[4];
        for (int channel = 0; channel < 4; ++channel) {
            cells[channel] = formatBytes(rates[kByteRates + channel]);
        }
        writeRateTable(out, cells);
    } else if (line == "packages" || line == "pk") {
        std::string cells[4];
        for (int channel = 0; channel < 4; ++channel) {
            std::ostringstream text;
            text << rates[kPacketRates + channel];
            cells[channel] = text.str();
        }
        writeRateTable(out, cells);
    } else if (line == "reset all" || line == "ra") {
        if (players) {
            for (Transform* object : *players) {
                static_cast<Player*>(object)->respawn(true);
            }
        }
    } else {
        out << "unknown command" << std::endl;
    }
}

void handleConsoleLines(SceneGraph::ObjectList* players, SceneGraph::ObjectList* projectiles,
                        std::ostream& out) {
    std::string line;
    while (popConsoleLine(line)) {
        handleConsoleLine(line, players, projectiles, out);
    }
}
