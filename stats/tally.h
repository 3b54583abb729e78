#pragma once

#include "histogram.h"
#include "momentscaling.h"

#include <array>
#include <cstdint>
#include <vector>

// Everything measured on one lattice side by one or more runs, kept as exact
// integers so that tallies of separate runs, threads or machines add up to
// the same numbers in any order.
struct Tally
{
    // The quantities measured per avalanche, in the order the blocks' power
    // sums and every table of moments list them.
    enum Observable { Size, Area, Duration };
    static constexpr int OBSERVABLES = 3;
    static constexpr const char *OBSERVABLE_NAMES[OBSERVABLES] = {"size", "area", "duration"};
    static constexpr const char *OBSERVABLE_SYMBOLS[OBSERVABLES] = {"s", "a", "T"};

    // Consecutive grains of one run: their number, the topplings their
    // avalanches made, the avalanches and, per observable x and order q,
    // the sum of x^q over those avalanches (MomentScaling::power). A run's
    // grains fall into blocks of a fixed length (see Measurer), never more
    // than MAX_BLOCKS_PER_RUN of them; the scatter of the blocks' topplings
    // per grain, and of their moments, gives the standard errors. The power
    // sums are rounded, so blocks only ever add up in one fixed order (see
    // Measurer), never across runs: the sums do not depend on threads or
    // merging.
    struct Block {
        std::int64_t grains = 0;
        std::int64_t topplings = 0;
        std::int64_t avalanches = 0;
        std::array<std::array<double, MomentScaling::ORDERS>, OBSERVABLES> powers{};

        void add(const Block &other);
        bool operator==(const Block &other) const = default;
    };
    struct Run {
        std::int64_t index = 0;
        bool interrupted = false;   // stopped before all its grains were measured
        std::vector<Block> blocks;

        bool operator==(const Run &other) const = default;
    };
    // Once a run would need more blocks, neighbouring blocks pair up into
    // blocks twice as long: a long run keeps from half this many to this many.
    static constexpr int MAX_BLOCKS_PER_RUN = 32;

    // Each observable's exact distribution: topplings, distinct sites
    // toppled and parallel sweeps per avalanche.
    std::array<Histogram, OBSERVABLES> histograms;
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
