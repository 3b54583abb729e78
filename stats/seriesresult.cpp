#include "seriesresult.h"

#include "tallycheck.h"

std::string SeriesResult::merge(const SeriesResult &part)
{
    if (part.seed != seed)
        return "they mix seeds " + std::to_string(seed) + " and " + std::to_string(part.seed);
    if (part.start != start)
        return "they start from different piles";
    if (part.grainsPerRun != grainsPerRun)
        return "they measured different numbers of grains per run";
    if (part.sides.size() != sides.size())
        return "they hold different lattice sides";
    for (std::size_t s = 0; s < sides.size(); ++s) {
        Side &into = sides[s];
        if (part.sides[s].side != into.side || part.sides[s].warmup != into.warmup)
            return "they hold different lattice sides or warm-ups";
        if (!into.tally.merge(part.sides[s].tally))
            return "they share runs";
        // Each part is checked, so no total wrapped in the merge.
        if (const std::string fault = TallyCheck::fault(into, grainsPerRun); !fault.empty())
            return "L = " + std::to_string(into.side) + ": " + fault;
    }
    return {};
}
