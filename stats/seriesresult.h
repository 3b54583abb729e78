#pragma once

#include "tally.h"
#include "engine/startingpile.h"

#include <cstdint>
#include <string>
#include <vector>

// The measurements of a series: the same runs on each lattice side.
struct SeriesResult
{
    struct Side {
        int side = 0;
        std::int64_t warmup = 0;   // grains dropped unmeasured at the start of each run
        Tally tally;
    };

    std::int64_t seed = 1;
    StartingPile start = StartingPile::Stationary;
    std::int64_t grainsPerRun = 0;   // grains measured per run, as asked
    std::vector<Side> sides;         // in the order they were asked for

    std::vector<std::int64_t> runs() const { return sides.empty() ? std::vector<std::int64_t>{} : sides.front().tally.runIndices(); }
    // Adds the runs of another part of the same series: the same seed,
    // starting pile, grains per run, sides (in any order) and warm-ups, and
    // runs that do not overlap. "" when done, else why not, in one line; this result
    // is then only fit to be discarded. The merged sides pass TallyCheck.
    std::string merge(const SeriesResult &part);

    bool interrupted() const
    {
        for (const Side &side : sides)
            if (side.tally.interrupted())
                return true;
        return false;
    }
};
