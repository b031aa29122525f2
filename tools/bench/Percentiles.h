#pragma once

#include <vector>

// Nearest-rank percentiles of a sample.
class Percentiles {
public:
    explicit Percentiles(std::vector<double> values);

    bool empty() const { return sorted_.empty(); }
    std::size_t count() const { return sorted_.size(); }
    // p in [0, 100]: the smallest value with at least p percent of the sample at or below it.
    // 0 for an empty sample.
    double at(double p) const;
    double max() const;

private:
    std::vector<double> sorted_;
};
