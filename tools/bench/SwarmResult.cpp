#include "tools/bench/SwarmResult.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <sstream>

namespace {

// The scalar fields by name, so that writing and reading share one list.
template <typename Result, typename Visit>
void forEachCounter(Result& result, Visit&& visit) {
    visit("players", result.players);
    visit("joined", result.joined);
    visit("udpActive", result.udpActive);
    visit("disconnects", result.disconnects);
    visit("connectFailures", result.connectFailures);
    visit("badFrames", result.badFrames);
    visit("sendErrors", result.sendErrors);
    visit("udpDownBytes", result.udpDownBytes);
    visit("udpDownDatagrams", result.udpDownDatagrams);
    visit("tcpDownBytes", result.tcpDownBytes);
    visit("udpUpBytes", result.udpUpBytes);
    visit("udpUpDatagrams", result.udpUpDatagrams);
    visit("tcpUpBytes", result.tcpUpBytes);
    visit("shotsSeen", result.shotsSeen);
}

}  // namespace

void SwarmResult::merge(const SwarmResult& other) {
    std::vector<std::uint64_t> theirs;
    forEachCounter(other,
                   [&](const char*, const std::uint64_t& value) { theirs.push_back(value); });
    std::size_t i = 0;
    forEachCounter(*this, [&](const char*, std::uint64_t& value) { value += theirs[i++]; });
    fireLatenciesMs.insert(fireLatenciesMs.end(), other.fireLatenciesMs.begin(),
                           other.fireLatenciesMs.end());
    stamps.insert(stamps.end(), other.stamps.begin(), other.stamps.end());
    for (const auto& [size, count] : other.datagramSizes) {
        datagramSizes[size] += count;
    }
    ports.insert(ports.end(), other.ports.begin(), other.ports.end());
}

void SwarmResult::write(std::ostream& out) const {
    out << "swarm-result 1\n";
    forEachCounter(*this, [&](const char* name, const std::uint64_t& value) {
        out << name << ' ' << value << '\n';
    });
    out << "latencies";
    for (const double latency : fireLatenciesMs) {
        out << ' ' << latency;
    }
    out << "\nstamps";
    for (const std::uint32_t stamp : stamps) {
        out << ' ' << stamp;
    }
    out << "\nsizes";
    for (const auto& [size, count] : datagramSizes) {
        out << ' ' << size << ':' << count;
    }
    out << "\nports";
    for (const std::uint16_t port : ports) {
        out << ' ' << port;
    }
    out << "\nend\n";
}

bool SwarmResult::read(std::istream& in) {
    *this = SwarmResult();
    std::string line;
    if (!std::getline(in, line) || line != "swarm-result 1") {
        return false;
    }
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "end") {
            return true;
        }
        if (key == "latencies") {
            double value = 0;
            while (fields >> value) {
                fireLatenciesMs.push_back(value);
            }
        } else if (key == "stamps") {
            std::uint32_t value = 0;
            while (fields >> value) {
                stamps.push_back(value);
            }
        } else if (key == "ports") {
            unsigned value = 0;
            while (fields >> value) {
                ports.push_back(static_cast<std::uint16_t>(value));
            }
        } else if (key == "sizes") {
            std::string pair;
            while (fields >> pair) {
                const std::size_t colon = pair.find(':');
                if (colon == std::string::npos) {
                    return false;
                }
                datagramSizes[static_cast<std::uint32_t>(std::stoul(pair.substr(0, colon)))] +=
                    std::stoull(pair.substr(colon + 1));
            }
        } else {
            bool known = false;
            forEachCounter(*this, [&](const char* name, std::uint64_t& value) {
                if (key == name) {
                    fields >> value;
                    known = true;
                }
            });
            if (!known) {
                return false;
            }
        }
    }
    return false;
}
