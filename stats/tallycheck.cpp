#include "tallycheck.h"

#include "cformat.h"
#include "checkedmath.h"
#include "exactvalues.h"
#include "measurer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace TallyCheck {

namespace {

constexpr std::int64_t MAX_TOTAL = std::numeric_limits<std::int64_t>::max();
constexpr int FIRST_ORDER = 1;   // q = 1
static_assert(MomentScaling::order(FIRST_ORDER) == 1.0);

// A double holds every whole number up to 2^53: below it, sums of whole
// numbers are exact in any order.
constexpr long double EXACT_LIMIT = 9007199254740992.0L;
// Twice the doubles' unit roundoff: a sum of n non-negative terms rounded
// in any order is within (n - 1) u of the exact sum, relatively.
constexpr long double EPSILON = 0x1p-52L;

bool wholeOrder(int k)
{
    const double q = MomentScaling::order(k);
    return q == std::floor(q);
}

// Whether `computed`, a sum of `terms` non-negative doubles added in some
// order, can stand for `exact`: equal where both are whole and exact,
// within the rounding of that many additions elsewhere.
bool sameSum(long double computed, long double exact, long double terms, bool whole)
{
    if (whole && exact < EXACT_LIMIT)
        return computed == exact;
    return std::fabs(computed - exact) <= (terms + 16) * EPSILON * exact;
}

std::string sumName(int observable, int k)
{
    return cformat("%s^%g", Tally::OBSERVABLE_NAMES[observable], MomentScaling::order(k));
}

// The blocks' totals, wide enough never to wrap.
struct Totals {
    Checked::Wide avalanches = 0;
    Checked::Wide topplings = 0;
    std::size_t blocks = 0;
};
Totals totals(const Tally &tally)
{
    Totals t;
    for (const Tally::Run &run : tally.runs)
        for (const Tally::Block &block : run.blocks) {
            t.avalanches += std::uint64_t(block.avalanches);
            t.topplings += std::uint64_t(block.topplings);
            ++t.blocks;
        }
    return t;
}

} // namespace

std::int64_t largestSize(int side)
{
    const double sites = double(side) * side;
    // The margin covers the rounding of the sum of G's entries.
    return std::int64_t(std::ceil(4 * sites * ExactValues::topplingsPerGrain(side) * (1 + 1e-9)));
}

std::int64_t largest(Tally::Observable observable, int side)
{
    // An avalanche topples at least one site a sweep, each site at least
    // once: area and duration are at most its size, area at most L^2.
    const std::int64_t most = largestSize(side);
    return observable == Tally::Area ? std::min(std::int64_t(side) * side, most) : most;
}

std::string blockFault(const Tally::Block &block)
{
    const std::int64_t n = block.avalanches;
    if (block.grains < 0 || block.topplings < 0 || n < 0)
        return "a block with a negative count";
    // Each avalanche is set off by a drop of at least one grain; a run's
    // last grains may set off none.
    if (n > block.grains)
        return "a block with more avalanches than grains";
    for (const auto &sums : block.powers)
        for (double sum : sums)
            if (!std::isfinite(sum) || sum < 0)
                return "a block whose power sums are not finite and non-negative";
    const auto &p = block.powers;
    if (n == 0) {
        const bool empty = block.topplings == 0
                           && std::all_of(p.begin(), p.end(), [](const auto &sums) {
                                  return std::all_of(sums.begin(), sums.end(), [](double sum) { return sum == 0; });
                              });
        return empty ? std::string() : "a block without avalanches but with topplings or sums";
    }
    if (!sameSum(p[Tally::Size][FIRST_ORDER], block.topplings, n, true))
        return "a block whose size^1 sum is not its topplings";
    for (int o = 0; o < Tally::OBSERVABLES; ++o) {
        // n avalanches, each at least 1, whose values sum to s1: the sum of
        // x^q is least (q > 1) or most (q < 1) when they are all equal, and
        // the other way when all but one are 1.
        const long double s1 = p[std::size_t(o)][FIRST_ORDER];
        if (s1 < EXACT_LIMIT && s1 != std::floor(s1))
            return "a block whose " + sumName(o, FIRST_ORDER) + " sum is not a whole number";
        const long double slack = (n + 16) * EPSILON * 4;
        if (s1 < n * (1 - slack) || s1 > p[Tally::Size][FIRST_ORDER] * (1 + slack))
            return "a block whose " + sumName(o, FIRST_ORDER) + " sum is below its avalanches or above its sizes";
        for (int k = 0; k < MomentScaling::ORDERS; ++k) {
            const long double q = MomentScaling::order(k);
            const long double equal = n * std::pow(s1 / n, q);
            const long double extreme = (n - 1) + std::pow(std::max<long double>(1, s1 - (n - 1)), q);
            const long double low = std::min(equal, extreme), high = std::max(equal, extreme);
            const long double sum = p[std::size_t(o)][std::size_t(k)];
            if (sum < low * (1 - slack) || sum > high * (1 + slack))
                return "a block whose " + sumName(o, k) + " sum lies outside what its avalanches allow";
        }
    }
    return {};
}

std::string runsFault(const Tally &tally, std::int64_t grainsPerRun)
{
    if (tally.runs.empty())
        return "no run recorded";
    std::int64_t grains = 0, topplings = 0, avalanches = 0;
    for (const Tally::Run &run : tally.runs) {
        const std::string which = "run " + std::to_string(run.index);
        if (run.blocks.size() > std::size_t(Tally::MAX_BLOCKS_PER_RUN))
            return which + " has more blocks than a run makes";
        std::int64_t runGrains = 0;
        for (const Tally::Block &block : run.blocks) {
            if (!Checked::add(runGrains, block.grains, runGrains) || !Checked::add(topplings, block.topplings, topplings)
                || !Checked::add(avalanches, block.avalanches, avalanches))
                return "the grains, topplings or avalanches overflow";
            if (const std::string fault = blockFault(block); !fault.empty())
                return which + " has " + fault;
        }
        // A run stops early only before the grains asked for are all in.
        if (!run.interrupted && runGrains < grainsPerRun)
            return which + " measured fewer grains than asked for, yet was not interrupted";
        if (run.interrupted && runGrains >= grainsPerRun)
            return which + " measured every grain asked for, yet was interrupted";
        if (!Checked::add(grains, runGrains, grains))
            return "the grains overflow";
    }
    return {};
}

std::string histogramFault(const Tally &tally, Tally::Observable observable, int side)
{
    const Histogram &histogram = tally.histograms[observable];
    const std::string name = Tally::OBSERVABLE_NAMES[observable];
    const std::int64_t most = largest(observable, side);
    bool sound = true;
    std::uint64_t count = 0;
    Checked::Wide values = 0;
    std::array<long double, MomentScaling::ORDERS> sums{};   // in increasing order of value, as SideSummary adds
    histogram.forEach([&](std::int64_t value, std::uint64_t n) {
        sound = sound && value >= 1 && value <= most && n <= std::uint64_t(MAX_TOTAL) - count;
        if (!sound)
            return;
        count += n;
        values += (Checked::Wide)value * n;
        for (int k = 0; k < MomentScaling::ORDERS; ++k)
            sums[std::size_t(k)] += (long double)MomentScaling::power(value, k) * n;
    });
    if (!sound)
        return "an avalanche " + name + " out of range 1 to " + std::to_string(most) + ", or too many avalanches";
    const Totals blocks = totals(tally);
    if (count != blocks.avalanches)
        return "the " + name + " counts disagree with the blocks' avalanches";
    if (observable == Tally::Size && values != blocks.topplings)
        return "the blocks' topplings are not the sum of the avalanche sizes";
    if (values > blocks.topplings)
        return "the " + name + "s exceed the sizes";
    for (int k = 0; k < MomentScaling::ORDERS; ++k) {
        long double blockSum = 0;
        for (const Tally::Run &run : tally.runs)
            for (const Tally::Block &block : run.blocks)
                blockSum += block.powers[observable][std::size_t(k)];
        // Each block's sum rounds once an avalanche, and once more each
        // time blocks pair up (see Measurer).
        const long double terms = (long double)count + 64.0L * blocks.blocks;
        if (!sameSum(blockSum, sums[std::size_t(k)], terms, wholeOrder(k)))
            return "the blocks' " + sumName(observable, k) + " sums are not those of the " + name + " histogram";
    }
    return {};
}

std::string heightsFault(const Tally &tally, int side)
{
    // The whole pile after every heightInterval grains of each run.
    Checked::Wide piles = 0;
    for (const Tally::Run &run : tally.runs) {
        Checked::Wide grains = 0;
        for (const Tally::Block &block : run.blocks)
            grains += std::uint64_t(block.grains);
        piles += grains / std::uint64_t(Measurer::heightInterval(side));
    }
    Checked::Wide heights = 0;
    for (std::uint64_t count : tally.heights)
        heights += count;
    if (heights > (Checked::Wide)MAX_TOTAL)
        return "the height counts overflow";
    if (heights != piles * std::uint64_t(std::int64_t(side) * side))
        return "the height counts are not those of the piles sampled";
    return {};
}

std::string fault(const SeriesResult::Side &side, std::int64_t grainsPerRun)
{
    if (std::string fault = runsFault(side.tally, grainsPerRun); !fault.empty())
        return fault;
    for (int o = 0; o < Tally::OBSERVABLES; ++o)
        if (std::string fault = histogramFault(side.tally, Tally::Observable(o), side.side); !fault.empty())
            return fault;
    return heightsFault(side.tally, side.side);
}

} // namespace TallyCheck
