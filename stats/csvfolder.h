#pragma once

#include "seriessummary.h"

#include <string>
#include <vector>

// A folder of CSV files holding a series' results, and everything needed to
// recreate its report exactly:
//   summary.csv                 one row per side with every printed figure;
//   size_L<L>.csv, area_L<L>.csv, duration_L<L>.csv
//                               log-binned distributions:
//                               bin_low,bin_high,count,density;
//   raw_L<L>.csv                the exact tally: record,run,key,value with
//                               rows "run,k,interrupted,0|1", "block,k,G,T"
//                               (a block of G grains that made T topplings,
//                               in order), each followed by its sums
//                               "block_sum,k,avalanches,n" and
//                               "block_sum,k,<observable>^<q>,S" (the sum of
//                               x^q over its avalanches, %.17g so that it
//                               reads back to the same bits), and
//                               "size|area|duration|height,,x,n" (n
//                               avalanches or sampled sites with value x);
//   moments.csv                 L,observable,q,moment,error: <x^q> of every
//                               side, observable (size, area, duration) and
//                               order q = 0.5..4, with its standard error;
//   scaling.csv                 observable,quantity,q,value,error: one row per
//                               estimate, quantity "sigma" (the exponent of
//                               <x^q> ~ L^sigma, for each q), "D" and "tau"
//                               (q empty), and for size "sigma_per_grain"
//                               and "sigma_per_grain_exact" (q = 1, the slope
//                               of topplings per grain against L, measured
//                               and exact, the latter without error); only
//                               the header with fewer than
//                               MomentScaling::MIN_SIDES sides.
// Every file but the raw ones is remade from those, so --merge rebuilds the
// folder exactly. Any failure throws std::runtime_error with a one-line
// message. csvschema.h names the files and their columns, csvwriter.cpp
// writes them and csvreader.cpp reads them back.
namespace CsvFolder {

// The files of a folder holding these sides, each one that write() makes.
std::vector<std::string> fileNames(const std::vector<int> &sides);

void write(const SeriesSummary &summary, const std::string &folder);
SeriesResult read(const std::string &folder);

// Several folders of the same series as one (see SeriesResult::merge).
SeriesResult merge(const std::vector<std::string> &folders);

// The files write() makes.
std::string summaryCsv(const SeriesSummary &summary);
std::string distributionCsv(const Histogram &histogram);
std::string rawCsv(const Tally &tally);
std::string momentsCsv(const SeriesSummary &summary);
std::string scalingCsv(const SeriesSummary &summary);

} // namespace CsvFolder
