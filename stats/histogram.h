#pragma once

#include <cstdint>
#include <map>
#include <vector>

// Exact counts of a positive integer quantity (avalanche size, area or
// duration): one count per value, so that fits and log bins can be made from
// it afterwards and histograms add up exactly whatever the order. Small values
// are counted in a plain array; the rare large ones, which can reach L^3, in
// a map.
class Histogram
{
public:
    void add(std::int64_t value, std::uint64_t count = 1)
    {
        if (value >= 0 && value < DENSE_LIMIT) {
            if (value >= std::int64_t(dense.size()))
                dense.resize(std::size_t(value) + 1, 0);
            dense[std::size_t(value)] += count;
        } else {
            sparse[value] += count;
        }
    }
    void merge(const Histogram &other);

    std::uint64_t total() const;
    std::int64_t largest() const;   // 0 when empty
    // Calls visit(value, count) for every value with a count, in increasing
    // order of value.
    template <typename Visit>
    void forEach(Visit visit) const
    {
        for (std::size_t value = 0; value < dense.size(); ++value)
            if (dense[value] != 0)
                visit(std::int64_t(value), dense[value]);
        for (const auto &[value, count] : sparse)
            visit(value, count);
    }

    bool operator==(const Histogram &other) const;

    // Logarithmic bins over the integers: each bin is about a quarter wider
    // than the one before (the first ones hold one value each), with exact
    // counts. Bins run from 1 to the largest value; empty ones are listed.
    struct Bin {
        std::int64_t low;    // first value in the bin
        std::int64_t high;   // last value in the bin
        std::uint64_t count;
        double density;      // count / (all counts x the bin's width): the probability per unit value
    };
    std::vector<Bin> logBins() const;

private:
    static constexpr std::int64_t DENSE_LIMIT = 1 << 16;
    std::vector<std::uint64_t> dense;
    std::map<std::int64_t, std::uint64_t> sparse;
};
