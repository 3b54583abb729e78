#pragma once

#include "stats/series.h"
#include "stats/sidesummary.h"

#include <cstdint>
#include <string>
#include <vector>

// What btwsandpile.measure() returns: per side the statistics that
// sandpile-stats prints and the exact tally they come from, and the report
// itself, the same text the tool prints for the same series.
struct Measurement
{
    struct Side {
        SideSummary summary;
        Tally tally;
    };

    Measurement(const Series::Settings &settings, SeriesResult result);

    std::int64_t seed = 0;
    std::int64_t grainsPerRun = 0;
    std::vector<std::int64_t> runs;   // the run indices asked for
    bool interrupted = false;
    std::string report;
    std::vector<Side> sides;          // in the order the sides were asked for
};
