#pragma once

#include "histogram.h"

#include <cstdint>

// Maximum-likelihood fit of a discrete power law p(x) = x^-tau / Z(tau),
// truncated to a window xmin <= x <= xmax, Z(tau) = sum over the window of
// x^-tau (Clauset, Shalizi and Newman 2009, with the upper cut-off the
// finite lattice needs). The standard error is the inverse square root of
// the observed Fisher information, n Var_tau(ln x).
struct PowerLawFit
{
    // Fewer values in the window give an exponent that is mostly noise
    // (--size 40 --grains 10: tau = 0.62 +- 0.73 from 3 avalanches).
    static constexpr std::uint64_t MIN_SAMPLES = 100;

    std::int64_t xmin = 0;
    std::int64_t xmax = 0;
    std::uint64_t samples = 0;   // values inside the window
    double tau = 0;
    double error = 0;
    bool valid = false;          // the window held MIN_SAMPLES values, two distinct at least

    static PowerLawFit fit(const Histogram &histogram, std::int64_t xmin, std::int64_t xmax);
};
