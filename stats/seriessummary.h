#pragma once

#include "momentscaling.h"
#include "seriesresult.h"
#include "sidesummary.h"

#include <array>
#include <vector>

// What the report, the CSV folder and the plot show of a series: its exact
// measurements and each side's statistics, computed once from them. The
// three writers only format what this holds.
struct SeriesSummary
{
    explicit SeriesSummary(SeriesResult measured);

    SeriesResult result;
    std::vector<SideSummary> sides;   // one per side of the result, in its order

    // The scaling of the moments with L, with at least MomentScaling::MIN_SIDES
    // sides (else `scaled` is false and the rest NaN).
    bool scaled = false;
    std::array<MomentScaling, Tally::OBSERVABLES> scaling{};
    // The slope of topplings per grain against L, measured (by batch means)
    // and exact. <s> per avalanche is topplings per grain times grains per
    // avalanche, so sigma_s(1) differs from these by the slope of grains
    // per avalanche, which tends to 0.
    MomentScaling::Estimate topplingsSlope{};
    double exactTopplingsSlope = 0;
};
