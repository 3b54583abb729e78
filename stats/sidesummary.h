#pragma once

#include "momentscaling.h"
#include "powerlawfit.h"
#include "seriesresult.h"

#include <array>
#include <cstdint>

// The statistics of one lattice side, computed from its exact tally: what
// the report prints and summary.csv holds.
struct SideSummary
{
    explicit SideSummary(const SeriesResult::Side &measured);

    // The fit windows: above the smallest values, where the lattice's
    // discreteness bends the distribution, and well below the finite-size
    // cut-off (s and area near L^2, duration near L).
    static constexpr std::int64_t SIZE_XMIN = 10;
    static constexpr std::int64_t SIZE_CUTOFF_FRACTION = 10;       // xmax = L^2 / 10
    static constexpr std::int64_t DURATION_XMIN = 5;
    static constexpr std::int64_t DURATION_CUTOFF_FRACTION = 2;    // xmax = L / 2

    int side = 0;
    std::int64_t warmup = 0;
    int runs = 0;
    bool interrupted = false;
    std::int64_t grains = 0;
    std::uint64_t avalanches = 0;
    std::int64_t topplings = 0;
    // The largest avalanche by each observable (Tally::Observable).
    std::array<std::int64_t, Tally::OBSERVABLES> largest{};

    double topplingsPerGrain = 0;
    double topplingsError = 0;   // NaN with fewer than two blocks of grains
    int blocks = 0;
    double exactTopplings = 0;

    std::uint64_t piles = 0;     // height samples: whole piles
    double meanHeight = 0;       // NaN with no sample
    std::array<double, 4> heightProbability{};

    // The power law fitted to each observable's distribution.
    std::array<PowerLawFit, Tally::OBSERVABLES> fits{};

    // <x^q> over the avalanches for each observable (Tally::Observable) and
    // order: the value from the exact histogram, the error by batch means
    // over the blocks the topplings' error uses. NaN with no avalanche, and
    // the error NaN with fewer than two blocks.
    std::array<MomentScaling::Moments, Tally::OBSERVABLES> moments{};
};
