#pragma once
// The statistics file's layout as the tests read it back.

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <string>
#include <vector>

namespace statsfile {

inline const char* const kHeader =
    "time           ,tcp_sent pkg   ,tcp_rcvd pkg   ,udp_sent pkg   ,udp_rcvd pkg   ,"
    "tcp_sent bw    ,tcp_rcvd bw    ,udp_sent bw    ,udp_rcvd bw    ,tcp_sent msg   ,"
    "tcp_rcvd msg   ,udp_sent msg   ,udp_rcvd msg   ,players        ,projectiles    ,"
    "CPU            ,MEMORY         ,";

constexpr std::size_t kColumns = 17;
constexpr std::size_t kWidth = 15;

// A row is 17 fields, each a number right-aligned in 15 characters and followed by a comma.
inline bool isRow(const std::string& row) {
    if (row.size() != kColumns * (kWidth + 1)) {
        return false;
    }
    for (std::size_t column = 0; column < kColumns; ++column) {
        const std::string field = row.substr(column * (kWidth + 1), kWidth);
        if (row[column * (kWidth + 1) + kWidth] != ',') {
            return false;
        }
        std::size_t at = field.find_first_not_of(' ');
        if (at == std::string::npos) {
            return false;
        }
        if (field[at] == '-') {
            ++at;
        }
        if (at == kWidth) {
            return false;
        }
        for (; at < kWidth; ++at) {
            if (!std::isdigit(static_cast<unsigned char>(field[at]))) {
                return false;
            }
        }
    }
    return true;
}

// The numbers of a row (empty when it is not one).
inline std::vector<long long> rowFields(const std::string& row) {
    std::vector<long long> fields;
    if (!isRow(row)) {
        return fields;
    }
    for (std::size_t column = 0; column < kColumns; ++column) {
        fields.push_back(std::stoll(row.substr(column * (kWidth + 1), kWidth)));
    }
    return fields;
}

// The numbers of a row, which must have the fixed layout.
inline std::vector<long long> rowOf(const std::string& row) {
    EXPECT_TRUE(isRow(row)) << "'" << row << "'";
    return rowFields(row);
}

inline std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace statsfile
