#pragma once

#include "series.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The command line:
//   sandpile-stats [--size L]... [--grains N] [--warmup W] [--seed S] [--runs R]
//                  [--first-run K] [--threads T] [--csv DIR] [--plot FILE]
//   sandpile-stats --merge DIR... [--csv DIR] [--plot FILE]
// Each option is declared once, in options.cpp; the help is made from those
// declarations.
struct Options
{
    // Bad usage; what() is the one-line message.
    struct UsageError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    static constexpr int MAX_SIDE = 4096;   // the least is Lattice::MIN_SIDE
    // 10^15, a bound on each count alone; the grains of the whole series,
    // sides x runs x (grains + warm-up), must also fit in an int64, which
    // parse() checks.
    static constexpr std::int64_t MAX_COUNT = 1000000000000000;
    static constexpr std::int64_t MAX_RUNS = 1000000;   // each run is a task held in memory
    static constexpr int MAX_THREADS = 1024;

    bool help = false;
    Series::Settings series;
    std::vector<std::string> merge;   // folders to merge; empty: measure
    std::string csv;                  // empty: no CSV
    std::string plot;                 // empty: no plot

    // Throws UsageError. Default threads: all cores.
    static Options parse(const std::vector<std::string> &arguments);
    static std::string usage();
};
