#include "seriesresult.h"

#include "tallycheck.h"

#include <algorithm>

std::string SeriesResult::merge(const SeriesResult &part)
{
    if (part.seed != seed)
        return "they mix seeds " + std::to_string(seed) + " and " + std::to_string(part.seed);
    if (part.start != start)
        return "they start from different piles";
    if (part.grainsPerRun != grainsPerRun)
        return "they measured different numbers of grains per run";
    // The sides as a set: the parts may list them in any order (the
    // first part's stays), each side once.
    if (part.sides.size() != sides.size())
        return "they hold different lattice sides";
    for (Side &into : sides) {
        const auto same = std::find_if(part.sides.begin(), part.sides.end(),
                                       [&into](const Side &side) { return side.side == into.side; });
        if (same == part.sides.end())
            return "they hold different lattice sides";
        if (same->warmup != into.warmup)
            return "they hold different warm-ups at L = " + std::to_string(into.side);
        if (!into.tally.merge(same->tally))
            return "they share runs";
        // Each part is checked, so no total wrapped in the merge.
        if (const std::string fault = TallyCheck::fault(into, grainsPerRun); !fault.empty())
            return "L = " + std::to_string(into.side) + ": " + fault;
    }
    return {};
}
