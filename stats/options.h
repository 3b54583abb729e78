#pragma once

#include "series.h"

#include <stdexcept>
#include <string>
#include <vector>

// The command line of sandpile-stats, bound onto the series' settings. Each
// option is declared once, in options.cpp; the usage line and the help are
// made from those declarations, the settings' bounds and checks are the
// series' own (Series::Settings::fault()).
struct Options
{
    // Bad usage; what() is the one-line message.
    struct UsageError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    bool help = false;
    bool version = false;   // --version: print it, do nothing else
    Series::Settings series;
    std::vector<std::string> merge;   // folders to merge; empty: measure
    std::string csv;                  // empty: no CSV
    std::string plot;                 // empty: no plot

    // Throws UsageError. Default threads: all cores.
    static Options parse(const std::vector<std::string> &arguments);
    static std::string usage();
};
