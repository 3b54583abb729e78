#pragma once

#include "seriessummary.h"

#include <cstdint>
#include <string>
#include <vector>

// The printed report: a header naming the series, then one block per side.
namespace Report {

// "0-3", "0-1,5,7-9": a set of run indices in increasing order.
std::string runList(const std::vector<std::int64_t> &runs);

// The first line, printed before the runs start.
std::string header(std::int64_t seed, const std::vector<std::int64_t> &runs, std::int64_t grainsPerRun,
                   StartingPile start);

// The statistics, marked partial when a run was interrupted.
std::string body(const SeriesSummary &summary);

} // namespace Report
