#include "sidesummary.h"

#include "checkedmath.h"
#include "exactvalues.h"

#include <cmath>
#include <limits>

namespace {

constexpr double NOT_AVAILABLE = std::numeric_limits<double>::quiet_NaN();

PowerLawFit fitWindow(const Histogram &histogram, std::int64_t xmin, std::int64_t xmax)
{
    // A window narrower than a factor of two says nothing about a slope.
    if (xmax < 2 * xmin)
        return PowerLawFit::fit(histogram, xmin, xmin - 1);
    return PowerLawFit::fit(histogram, xmin, xmax);
}

} // namespace

// The standard error of topplings per grain is by batch means: each run's
// grains fall into blocks of 2^k L^2 consecutive grains, 16 to 32 of them in
// a long run (see Measurer), long enough that their means are nearly
// independent (at the default N and L = 149 a block is about 2 L^2 grains),
// and blocks of different runs are independent. With blocks of unequal
// grain counts (a run's last one is shorter) the ratio estimator's variance is
//   B/(B-1) sum_b (T_b - m G_b)^2 / G^2,  m = T/G.
SideSummary::SideSummary(const SeriesResult::Side &measured)
    : side(measured.side)
    , warmup(measured.warmup)
    , runs(int(measured.tally.runs.size()))
    , interrupted(measured.tally.interrupted())
    , grains(measured.tally.grains())
    , avalanches(measured.tally.histograms[Tally::Size].total())
    , topplings(measured.tally.topplings())
    , exactTopplings(ExactValues::topplingsPerGrain(measured.side))
{
    const Tally &tally = measured.tally;
    for (int o = 0; o < Tally::OBSERVABLES; ++o)
        largest[std::size_t(o)] = tally.histograms[std::size_t(o)].largest();
    topplingsPerGrain = grains > 0 ? double(topplings) / double(grains) : NOT_AVAILABLE;

    long double scatter = 0;
    for (const Tally::Run &run : tally.runs)
        for (const Tally::Block &block : run.blocks)
            if (block.grains > 0) {
                ++blocks;
                const long double deviation = block.topplings - (long double)topplingsPerGrain * block.grains;
                scatter += deviation * deviation;
            }
    topplingsError = blocks >= 2 ? double(std::sqrt(scatter * blocks / (blocks - 1)) / grains) : NOT_AVAILABLE;

    // The moments' errors likewise, with avalanches in place of grains:
    //   B/(B-1) sum_b (S_b - m n_b)^2 / n^2,  S_b = sum of x^q over block b,
    // over the blocks with grains (a run's last block may hold grains and
    // no avalanche, a unit of the sample with n_b = 0 all the same).
    for (int o = 0; o < Tally::OBSERVABLES; ++o)
        for (int k = 0; k < MomentScaling::ORDERS; ++k) {
            long double sum = 0;   // in increasing order of value: the same bits however tallied
            tally.histograms[std::size_t(o)].forEach([&](std::int64_t value, std::uint64_t count) {
                sum += (long double)MomentScaling::power(value, k) * count;
            });
            const double mean = avalanches > 0 ? double(sum / avalanches) : NOT_AVAILABLE;
            long double momentScatter = 0;
            for (const Tally::Run &run : tally.runs)
                for (const Tally::Block &block : run.blocks)
                    if (block.grains > 0) {
                        const long double deviation = block.powers[std::size_t(o)][std::size_t(k)]
                                                      - (long double)mean * block.avalanches;
                        momentScatter += deviation * deviation;
                    }
            const double error = blocks >= 2 && avalanches > 0
                                     ? double(std::sqrt(momentScatter * blocks / (blocks - 1)) / avalanches)
                                     : NOT_AVAILABLE;
            moments[std::size_t(o)][std::size_t(k)] = {mean, error};
        }

    const std::uint64_t sampled = tally.heightCount();
    piles = sampled / (std::uint64_t(side) * std::uint64_t(side));
    Checked::Wide heightSum = 0;   // up to 3 x 2^63
    for (std::size_t z = 0; z < heightProbability.size(); ++z) {
        heightProbability[z] = sampled > 0 ? double(tally.heights[z]) / double(sampled) : NOT_AVAILABLE;
        heightSum += (Checked::Wide)z * tally.heights[z];
    }
    meanHeight = sampled > 0 ? double(heightSum) / double(sampled) : NOT_AVAILABLE;

    const std::int64_t sites = std::int64_t(side) * side;
    fits[Tally::Size] = fitWindow(tally.histograms[Tally::Size], SIZE_XMIN, sites / SIZE_CUTOFF_FRACTION);
    fits[Tally::Area] = fitWindow(tally.histograms[Tally::Area], SIZE_XMIN, sites / SIZE_CUTOFF_FRACTION);
    fits[Tally::Duration] = fitWindow(tally.histograms[Tally::Duration], DURATION_XMIN, side / DURATION_CUTOFF_FRACTION);
}
