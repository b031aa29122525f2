#include "tools/bench/Percentiles.h"

#include <algorithm>
#include <cmath>

Percentiles::Percentiles(std::vector<double> values) : sorted_(std::move(values)) {
    std::sort(sorted_.begin(), sorted_.end());
}

double Percentiles::at(double p) const {
    if (sorted_.empty()) {
        return 0.0;
    }
    const double n = static_cast<double>(sorted_.size());
    std::size_t rank = static_cast<std::size_t>(std::ceil(p / 100.0 * n));
    rank = std::max<std::size_t>(rank, 1);
    rank = std::min(rank, sorted_.size());
    return sorted_[rank - 1];
}

double Percentiles::max() const {
    return sorted_.empty() ? 0.0 : sorted_.back();
}
