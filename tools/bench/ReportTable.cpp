#include "tools/bench/ReportTable.h"

#include <cstdio>

namespace {

struct Column {
    const char* name;
    int width;
};

// Order and widths of the columns; row() fills the same order.
const std::vector<Column>& columns() {
    static const std::vector<Column> list = {
        {"scenario", 8},    {"N", 4},           {"joined", 6},      {"srv cpu%", 8},
        {"core%", 6},       {"tick p50", 8},    {"tick p99", 8},    {"tick max", 8},
        {"ticks%", 6},      {"udp dn B/s", 10}, {"tcp dn B/s", 10}, {"udp up B/s", 10},
        {"tcp up B/s", 10}, {"dgram/s dn", 10}, {"dgram/s up", 10}, {"fire p50", 8},
        {"fire p99", 8},    {"shots", 6},       {"floor%", 7},      {"srv/floor", 9},
        {"gen cpu%", 8},    {"other", 5},       {"drops srv", 9},   {"drops pl", 8},
    };
    return list;
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof(text), pattern, value);
    return text;
}

std::string join(const std::vector<std::string>& cells, ReportTable::Style style) {
    std::string line;
    const auto& cols = columns();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        switch (style) {
            case ReportTable::Style::Text: {
                char cell[64];
                std::snprintf(cell, sizeof(cell), i == 0 ? "%-*s" : " %*s", cols[i].width,
                              cells[i].c_str());
                line += cell;
                break;
            }
            case ReportTable::Style::Markdown:
                line += "| " + cells[i] + " ";
                break;
            case ReportTable::Style::Csv:
                line += (i == 0 ? "" : ",") + cells[i];
                break;
        }
    }
    if (style == ReportTable::Style::Markdown) {
        line += "|";
    }
    return line + "\n";
}

}  // namespace

std::string ReportTable::header(Style style) {
    std::vector<std::string> names;
    for (const Column& column : columns()) {
        names.push_back(column.name);
    }
    std::string text = join(names, style);
    if (style == Style::Markdown) {
        std::string rule;
        for (std::size_t i = 0; i < names.size(); ++i) {
            rule += i < 2 ? "|---" : "|---:";
        }
        text += rule + "|\n";
    }
    return text;
}

std::string ReportTable::row(const BenchRow& r, Style style) {
    const bool fires = r.scenario == ScenarioKind::Dogfight && r.shots > 0;
    const std::vector<std::string> cells = {
        scenarioName(r.scenario),
        std::to_string(r.players),
        std::to_string(r.joined),
        format("%.1f", r.serverCpu * 100.0),
        format("%.0f", r.serverCoreBusy * 100.0),
        format("%.1f", r.tickP50),
        format("%.1f", r.tickP99),
        format("%.1f", r.tickMax),
        format("%.0f", r.tickCoverage * 100.0),
        format("%.0f", r.udpDownBytes),
        format("%.0f", r.tcpDownBytes),
        format("%.0f", r.udpUpBytes),
        format("%.0f", r.tcpUpBytes),
        format("%.0f", r.datagramsDown),
        format("%.0f", r.datagramsUp),
        fires ? format("%.1f", r.fireP50) : std::string("-"),
        fires ? format("%.1f", r.fireP99) : std::string("-"),
        std::to_string(r.shots),
        r.floorOk ? format("%.1f", r.floorCpu * 100.0) : std::string("-"),
        r.floorOk && r.floorCpu > 0.0 ? format("%.2f", r.ratio) : std::string("-"),
        format("%.0f", r.generatorCpuMax * 100.0),
        format("%.1f", r.otherCores),
        std::to_string(r.serverDrops),
        std::to_string(r.playerDrops),
    };
    return join(cells, style);
}

std::string ReportTable::legend() {
    return "srv cpu%: server process CPU (all threads) over the window, % of one core, from "
           "/proc/<pid>/stat; core%: the server's CPU busy with anything (its kernel packet work "
           "included), from /proc/stat.\n"
           "tick p50/p99/max: spacing in ms of the server's distinct tick timestamps seen by "
           "the players (ObjectUpdates and shot ObjectInfos); ticks%: ticks seen / 30 per "
           "second (ticks that send nothing are invisible).\n"
           "udp/tcp dn/up B/s: payload bytes per second per player (no IP/UDP/TCP headers); "
           "dgram/s: datagrams per second, all players.\n"
           "fire p50/p99: ms from the ClientUpdate that fired to the own shot's ObjectInfo "
           "arriving; shots: own shots matched.\n"
           "floor%: CPU for sendto of the same datagrams (count and sizes) from one process on "
           "one core, % of one core; srv/floor: srv cpu% / floor%.\n"
           "gen cpu%: busiest load-generator process; other: cores busy meanwhile with anything "
           "else (other programs, kernel work outside our processes); drops srv/pl: datagrams "
           "dropped for a full receive buffer in the window by the server's socket (ClientUpdates) "
           "and by the players' sockets.\n";
}
