#pragma once

#include <cstdint>

// One record of Sandpile.drop(): the grains that fell (from the previous
// avalanche, or the call's start) until one set off an avalanche at `site`,
// and that avalanche relaxed fully. A NumPy structured array holds these as
// they are, so every field is a 64-bit integer.
struct Avalanche {
    std::int64_t site = -1;      // row * L + column of the grain that set it off
    std::int64_t grains = 0;
    std::int64_t size = 0;       // topplings
    std::int64_t area = 0;       // distinct sites toppled
    std::int64_t duration = 0;   // parallel sweeps
};
