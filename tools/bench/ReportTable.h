#pragma once

#include <string>
#include <vector>

#include "tools/bench/BenchRow.h"

// The report: one row per scenario and player count, as aligned text, Markdown or CSV.
class ReportTable {
public:
    enum class Style { Text, Markdown, Csv };

    static std::string header(Style style);
    static std::string row(const BenchRow& row, Style style);
    // A short legend of the columns (Text and Markdown).
    static std::string legend();
};
