#pragma once

#include <cstdint>
#include <limits>

// Arithmetic on int64 that reports overflow instead of having it: each
// returns false, with `result` unchanged, when the exact value does not fit.
namespace Checked {

// For sums of int64 products that may pass 2^64 before they are checked: a
// 128-bit integer, an extension of GCC and Clang on 64-bit targets (the
// compilers this project builds with).
__extension__ using Wide = unsigned __int128;

inline bool add(std::int64_t a, std::int64_t b, std::int64_t &result)
{
    using Limits = std::numeric_limits<std::int64_t>;
    if ((b > 0 && a > Limits::max() - b) || (b < 0 && a < Limits::min() - b))
        return false;
    result = a + b;
    return true;
}

inline bool multiply(std::int64_t a, std::int64_t b, std::int64_t &result)
{
    using Limits = std::numeric_limits<std::int64_t>;
    // Each test divides the bound by a factor that cannot be 0 there.
    const bool overflows = a > 0 ? (b > 0 ? a > Limits::max() / b : b < Limits::min() / a)
                                 : (b > 0 ? a < Limits::min() / b : a != 0 && b < Limits::max() / a);
    if (overflows)
        return false;
    result = a * b;
    return true;
}

} // namespace Checked
