#pragma once

#include "seriessummary.h"
#include "sidesummary.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The layout of a CSV folder (see csvfolder.h): its files' names and
// headers, the keys of the raw files' block sums and the columns of
// summary.csv. The writer and the reader both follow it.
namespace CsvSchema {

inline constexpr const char *SUMMARY_FILE = "summary.csv";
inline constexpr const char *MOMENTS_FILE = "moments.csv";
inline constexpr const char *SCALING_FILE = "scaling.csv";
inline constexpr const char *RAW = "raw";   // raw_L<L>.csv; the distributions are named by their observable

inline constexpr const char *DISTRIBUTION_HEADER = "bin_low,bin_high,count,density";
inline constexpr const char *RAW_HEADER = "record,run,key,value";
inline constexpr const char *MOMENTS_HEADER = "L,observable,q,moment,error";
inline constexpr const char *SCALING_HEADER = "observable,quantity,q,value,error";

// "<kind>_L<side>.csv"
std::string sideFile(const std::string &kind, int side);

// The keys of a block's "block_sum" rows, in the order written: its
// avalanches, then each observable's power sums by order.
const std::vector<std::string> &blockSumKeys();

// A figure as written: %.10g, or an empty field when it is not finite.
std::string real(double value);

// What a row of summary.csv says of its series; the reader puts these
// back into the result.
struct SummaryKeys {
    std::int64_t side = 0;
    std::int64_t seed = 0;
    std::int64_t start = 0;   // a StartingPile
    std::int64_t grainsPerRun = 0;
    std::int64_t warmup = 0;
};

// One row of summary.csv: a side of a series and its statistics.
struct SummaryRow {
    SummaryKeys keys;
    std::string runs;   // the run list, with ';' between ranges to stay one field
    const SideSummary &side;
};
SummaryRow summaryRow(const SeriesResult &result, const SeriesResult::Side &measured, const SideSummary &side);

// The columns of summary.csv, in the order written. The reader finds them
// by name: a key goes back into the result (within its range), a checked
// column must equal what the side's raw file gives, and a figure is only
// for the user (floating point, remade from the raw file).
struct Column {
    enum Use { Key, Checked, Figure };
    std::string name;
    Use use;
    std::function<std::string(const SummaryRow &)> text;
    std::int64_t SummaryKeys::*key = nullptr;   // a Key's place, and its range
    std::int64_t low = 0, high = 0;
    std::vector<std::string> names{};           // a Key written by name: value k is names[k]
};
const std::vector<Column> &summaryColumns();

} // namespace CsvSchema
