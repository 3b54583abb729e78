#pragma once

#include "seriesresult.h"

#include <cstdint>
#include <string>

// What the runs of this tool can and cannot have measured: the checks a
// tally read from a file, or merged from several, must pass before anything
// is computed from it.
namespace TallyCheck {

// The most topplings one avalanche can make on an L x L pile: with one
// site at 4 and the others stable, the topplings n solve Delta n = z - z',
// z - z' <= 3 + [x = start] <= 4 per site, and G = Delta^-1 >= 0, so
// s = sum n <= 4 sum G 1 = 4 L^2 ExactValues::topplingsPerGrain(L).
std::int64_t largestSize(int side);

// Why a side of a series with grainsPerRun grains asked per run cannot
// have come from this tool, or "" when it can. A side that passes keeps
// every total below 2^63, so that the sum of two such sides cannot wrap.
std::string fault(const SeriesResult::Side &side, std::int64_t grainsPerRun);

} // namespace TallyCheck
