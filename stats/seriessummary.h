#pragma once

#include "seriesresult.h"
#include "sidesummary.h"

#include <vector>

// What the report, the CSV folder and the plot show of a series: its exact
// measurements and each side's statistics, computed once from them. The
// three writers only format what this holds.
struct SeriesSummary
{
    explicit SeriesSummary(SeriesResult measured);

    SeriesResult result;
    std::vector<SideSummary> sides;   // one per side of the result, in its order
};
