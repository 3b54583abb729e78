#include "seriessummary.h"

SeriesSummary::SeriesSummary(SeriesResult measured)
    : result(std::move(measured))
{
    for (const SeriesResult::Side &side : result.sides)
        sides.emplace_back(side);
}
