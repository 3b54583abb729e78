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
    // avalanches made. A run's grains fall into blocks of a fixed length
    // (see Measurer), never more than MAX_BLOCKS_PER_RUN of them; the scatter
    // of the blocks' topplings per grain gives the standard error.
    struct Block {
        std::int64_t grains = 0;
        std::int64_t topplings = 0;
    };
    struct Run {
        std::int64_t index = 0;
        bool interrupted = false;   // stopped before all its grains were measured
        std::vector<Block> blocks;
    };
    // Once a run would need more blocks, neighbouring blocks pair up into
    // blocks twice as long: a long run keeps from half this many to this many.
    static constexpr int MAX_BLOCKS_PER_RUN = 32;

    Histogram size;       // topplings per avalanche
    Histogram area;       // distinct sites toppled per avalanche
    Histogram duration;   // parallel sweeps per avalanche
    // Heights of every site in the sampled piles (see Measurer).
    std::array<std::uint64_t, 4> heights{};
    std::vector<Run> runs;   // in increasing order of index

    // Adds another tally's runs; false, with this tally unchanged, when the
    // two share a run. Takes time in proportion to the other tally alone
    // when its runs all come after this one's.
    bool merge(const Tally &other);

    std::int64_t grains() const;
    std::int64_t topplings() const;
    std::uint64_t heightCount() const;
    bool interrupted() const;
    std::vector<std::int64_t> runIndices() const;

    bool operator==(const Tally &other) const;

private:
    void addCounts(const Tally &other);   // histograms and heights
};
