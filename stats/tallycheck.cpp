#include "tallycheck.h"

#include "checkedmath.h"
#include "exactvalues.h"
#include "measurer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace TallyCheck {

namespace {

constexpr std::int64_t MAX_TOTAL = std::numeric_limits<std::int64_t>::max();

// The avalanches a histogram counts and the sum of their values, or false
// for a value outside low..high or a total past MAX_TOTAL.
struct Sums {
    std::uint64_t count = 0;
    Checked::Wide values = 0;
};
bool sum(const Histogram &histogram, std::int64_t low, std::int64_t high, Sums &sums)
{
    bool sound = true;
    histogram.forEach([&](std::int64_t value, std::uint64_t count) {
        sound = sound && value >= low && value <= high && count <= std::uint64_t(MAX_TOTAL) - sums.count;
        if (sound) {
            sums.count += count;
            sums.values += (Checked::Wide)value * count;
        }
    });
    return sound;
}

} // namespace

std::int64_t largestSize(int side)
{
    const double sites = double(side) * side;
    // The margin covers the rounding of the sum of G's entries.
    return std::int64_t(std::ceil(4 * sites * ExactValues::topplingsPerGrain(side) * (1 + 1e-9)));
}

std::string fault(const SeriesResult::Side &side, std::int64_t grainsPerRun)
{
    const Tally &tally = side.tally;
    if (tally.runs.empty())
        return "no run recorded";
    std::int64_t grains = 0, topplings = 0, avalanches = 0;
    Checked::Wide piles = 0;
    for (const Tally::Run &run : tally.runs) {
        const std::string which = "run " + std::to_string(run.index);
        if (run.blocks.size() > std::size_t(Tally::MAX_BLOCKS_PER_RUN))
            return which + " has more blocks than a run makes";
        std::int64_t runGrains = 0;
        for (const Tally::Block &block : run.blocks) {
            if (!Checked::add(runGrains, block.grains, runGrains) || !Checked::add(topplings, block.topplings, topplings)
                || !Checked::add(avalanches, block.avalanches, avalanches))
                return "the grains, topplings or avalanches overflow";
            // Each avalanche is set off by a drop of at least one grain.
            if (block.avalanches > block.grains)
                return which + " has a block with more avalanches than grains";
            for (const auto &sums : block.powers)
                for (double sum : sums)
                    if (!std::isfinite(sum) || sum < 0)
                        return which + " has a block whose power sums are not finite and non-negative";
        }
        if (!run.interrupted && runGrains < grainsPerRun)
            return which + " measured fewer grains than asked for, yet was not interrupted";
        if (!Checked::add(grains, runGrains, grains))
            return "the grains overflow";
        piles += std::uint64_t(runGrains / Measurer::heightInterval(side.side));
    }

    // Each avalanche once in each histogram, with 1 <= area <= size and
    // 1 <= duration <= size (a sweep topples at least one site).
    const std::int64_t sites = std::int64_t(side.side) * side.side;
    const std::int64_t most = largestSize(side.side);
    Sums size, area, duration;
    if (!sum(tally.histograms[Tally::Size], 1, most, size))
        return "an avalanche size out of range 1 to " + std::to_string(most) + ", or too many avalanches";
    if (!sum(tally.histograms[Tally::Area], 1, std::min(sites, most), area))
        return "an avalanche area out of range 1 to " + std::to_string(std::min(sites, most))
               + ", or too many avalanches";
    if (!sum(tally.histograms[Tally::Duration], 1, most, duration))
        return "an avalanche duration out of range 1 to " + std::to_string(most) + ", or too many avalanches";
    if (area.count != size.count || duration.count != size.count)
        return "the size, area and duration counts disagree";
    if (size.count > std::uint64_t(grains))
        return "more avalanches than grains";
    if (size.count != std::uint64_t(avalanches))
        return "the blocks' avalanches are not those of the histograms";
    if (size.values != (Checked::Wide)topplings)
        return "the blocks' topplings are not the sum of the avalanche sizes";
    if (area.values > size.values || duration.values > size.values)
        return "the areas or durations exceed the sizes";

    // The whole pile after every heightInterval grains of each run.
    Checked::Wide heights = 0;
    for (std::uint64_t count : tally.heights)
        heights += count;
    if (heights > (Checked::Wide)MAX_TOTAL)
        return "the height counts overflow";
    if (heights != piles * std::uint64_t(sites))
        return "the height counts are not those of the piles sampled";
    return {};
}

} // namespace TallyCheck
