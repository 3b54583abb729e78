#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

// Moment analysis across lattice sides. For an observable x (avalanche size,
// area or duration) whose distribution scales as P(x; L) = x^-tau f(x / L^D),
// the moments grow as <x^q> ~ L^sigma(q) with sigma(q) = D (q + 1 - tau)
// once q exceeds tau - 1. sigma(q) is the slope of ln <x^q> against ln L over
// the sides; the straight part of sigma(q) at large q gives D (its slope) and
// tau = 1 - intercept / D. The analysis does not assume that straight part
// exists: a pile that multiscales shows a sigma(q) that keeps bending.
struct MomentScaling
{
    // The orders q = 0.5, 1, ..., 4.
    static constexpr int ORDERS = 8;
    static constexpr double ORDER_STEP = 0.5;
    static constexpr double order(int k) { return ORDER_STEP * (k + 1); }
    // D and tau come from the orders from this one up.
    static constexpr int FIRST_LINEAR_ORDER = 3;   // q = 2
    // Fewer sides than this give no scaling analysis.
    static constexpr int MIN_SIDES = 3;

    // x^order(k) for a value x >= 0, the same bits wherever it is computed:
    // an integer power times sqrt(x) for the half-integer orders, so that
    // the blocks' sums and the histogram's moments use one definition.
    static double power(std::int64_t x, int k)
    {
        const double v = double(x);
        double p = (k % 2 == 0) ? std::sqrt(v) : 1;
        for (int n = 0; n < (k + 1) / 2; ++n)
            p *= v;
        return p;
    }

    // A value and its standard error; NaN where there is none.
    struct Estimate {
        double value;
        double error;
    };
    using Moments = std::array<Estimate, ORDERS>;   // <x^q> of one side, by order

    // The slope of ln y against ln L, y with its error at each side, by the
    // same weighted least squares as sigma(q); NaN when a value is not
    // positive or fewer than two sides differ.
    static Estimate logSlope(const std::vector<int> &sides, const std::vector<Estimate> &values);

    // moments[i] belongs to sides[i]. Each slope is a least-squares fit
    // weighted by the moments' errors, and its error follows from theirs;
    // with any error missing the fit is unweighted and its error NaN.
    static MomentScaling fit(const std::vector<int> &sides, const std::vector<Moments> &moments);

    std::array<Estimate, ORDERS> sigma{};
    Estimate dimension{};   // D
    Estimate tau{};
    bool valid = false;     // enough sides with every moment finite
};

static_assert(MomentScaling::ORDER_STEP == 0.5, "power() takes the orders for multiples of one half");
static_assert(MomentScaling::order(MomentScaling::FIRST_LINEAR_ORDER) == 2.0
                  && MomentScaling::ORDERS - MomentScaling::FIRST_LINEAR_ORDER >= 3,
              "the straight part starts at q = 2 and needs at least three orders");
