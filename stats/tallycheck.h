#pragma once

#include "seriesresult.h"

#include <cstdint>
#include <string>

// What the runs of this tool can and cannot have measured: the checks a
// tally read from a file, or merged from several, must pass before anything
// is computed from it. Each returns why the data cannot have come from this
// tool, in one line, or "" when it can. A tally that passes fault() keeps
// every total below 2^63, so that the sum of two such tallies cannot wrap,
// and agrees with itself: its blocks' sums are those of its histograms.
//
// The parts let a reader name the line at fault: a block once its sums are
// read, the runs before the histograms, each histogram once read, the
// heights last.
namespace TallyCheck {

// The most topplings one avalanche can make on an L x L pile: with one
// site at 4 and the others stable, the topplings n solve Delta n = z - z',
// z - z' <= 3 + [x = start] <= 4 per site, and G = Delta^-1 >= 0, so
// s = sum n <= 4 sum G 1 = 4 L^2 ExactValues::topplingsPerGrain(L).
std::int64_t largestSize(int side);
// The largest value an observable can take on an L x L pile.
std::int64_t largest(Tally::Observable observable, int side);

// A block against itself: its avalanches against its grains, its
// topplings against its sizes' sum, and each power sum within what
// avalanches of that number and that sum allow.
std::string blockFault(const Tally::Block &block);
// The runs and their blocks, for a series of grainsPerRun grains a run.
std::string runsFault(const Tally &tally, std::int64_t grainsPerRun);
// One histogram: its values in range, its counts the blocks' avalanches,
// its sums of x^q those of the blocks.
std::string histogramFault(const Tally &tally, Tally::Observable observable, int side);
// The heights: those of the piles the runs' grains sampled.
std::string heightsFault(const Tally &tally, int side);

// All of them, for a side of a series with grainsPerRun grains a run.
std::string fault(const SeriesResult::Side &side, std::int64_t grainsPerRun);

} // namespace TallyCheck
