#include "seriessummary.h"

#include <limits>

SeriesSummary::SeriesSummary(SeriesResult measured)
    : result(std::move(measured))
{
    for (const SeriesResult::Side &side : result.sides)
        sides.emplace_back(side);

    std::vector<int> lengths;
    std::vector<MomentScaling::Estimate> perGrain, exact;
    for (const SideSummary &side : sides) {
        lengths.push_back(side.side);
        perGrain.push_back({side.topplingsPerGrain, side.topplingsError});
        // The exact values weighted as the measured ones, so that the two
        // slopes differ by the noise alone where ln L bends the exact curve.
        exact.push_back({side.exactTopplings, side.exactTopplings * side.topplingsError / side.topplingsPerGrain});
    }
    scaled = int(sides.size()) >= MomentScaling::MIN_SIDES;
    for (int o = 0; o < Tally::OBSERVABLES; ++o) {
        std::vector<MomentScaling::Moments> moments;
        for (const SideSummary &side : sides)
            moments.push_back(side.moments[std::size_t(o)]);
        scaling[std::size_t(o)] = MomentScaling::fit(lengths, moments);
    }
    const MomentScaling::Estimate none{std::numeric_limits<double>::quiet_NaN(),
                                       std::numeric_limits<double>::quiet_NaN()};
    topplingsSlope = scaled ? MomentScaling::logSlope(lengths, perGrain) : none;
    exactTopplingsSlope = scaled ? MomentScaling::logSlope(lengths, exact).value : none.value;
}
