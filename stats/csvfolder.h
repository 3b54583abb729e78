#pragma once

#include "seriessummary.h"

#include <string>

// A folder of CSV files holding a series' results, and everything needed to
// recreate its report exactly:
//   summary.csv                 one row per side with every printed figure;
//   size_L<L>.csv, area_L<L>.csv, duration_L<L>.csv
//                               log-binned distributions:
//                               bin_low,bin_high,count,density;
//   raw_L<L>.csv                the exact tally: record,run,key,value with
//                               rows "run,k,interrupted,0|1", "block,k,G,T"
//                               (a block of G grains that made T topplings,
//                               in order), and "size|area|duration|height,,x,n"
//                               (n avalanches or sampled sites with value x).
// Any failure throws std::runtime_error with a one-line message.
namespace CsvFolder {

void write(const SeriesSummary &summary, const std::string &folder);
SeriesResult read(const std::string &folder);

// Several folders of the same series (same seed, grains and sides, runs
// that do not overlap) as one.
SeriesResult merge(const std::vector<std::string> &folders);

// The files write() makes for one side.
std::string summaryCsv(const SeriesSummary &summary);
std::string distributionCsv(const Histogram &histogram);
std::string rawCsv(const Tally &tally);

} // namespace CsvFolder
