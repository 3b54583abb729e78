#pragma once

#include "histogram.h"

#include <array>
#include <cstdint>
#include <vector>

// Everything measured on one lattice side by one or more runs, kept as exact
// integers so that tallies of separate runs, threads or machines add up to
// the same numbers in any order.
struct Tally
{
    // Consecutive grains of one run: their number and the topplings their
    // avalanches made. A run's grains fall into BLOCKS_PER_RUN blocks; the
    // scatter of the blocks' topplings per grain gives the standard error.
    struct Block {
        std::int64_t grains = 0;
        std::int64_t topplings = 0;
    };
    struct Run {
        std::int64_t index = 0;
        bool interrupted = false;   // stopped before all its grains were measured
        std::vector<Block> blocks;
    };
    static constexpr int BLOCKS_PER_RUN = 16;

    Histogram size;       // topplings per avalanche
    Histogram area;       // distinct sites toppled per avalanche
    Histogram duration;   // parallel sweeps per avalanche
    // Heights of every site in the sampled piles (see Measurer).
    std::array<std::uint64_t, 4> heights{};
    std::vector<Run> runs;   // in increasing order of index

    // Adds another tally's runs; false, with this tally unchanged, when the
    // two share a run.
    bool merge(const Tally &other);

    std::int64_t grains() const;
    std::int64_t topplings() const;
    std::uint64_t heightCount() const;
    bool interrupted() const;
    std::vector<std::int64_t> runIndices() const;

    bool operator==(const Tally &other) const;
};
