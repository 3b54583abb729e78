#pragma once

#include "engine/random.h"

#include <cstdint>

// The seed of run k of a series seeded with S. Run 0 uses S itself, so that
// run 0 of the default seed is the window's own run. Every later run takes
// a splitmix64 hash of (S, k), brought into the generator's seed range
// 1..2^31-2: runs of one series start far apart in the generator's cycle, and
// any machine recomputes the same seed for the same run.
inline std::uint64_t splitmix64(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

inline std::int64_t runSeed(std::int64_t seed, std::int64_t run)
{
    if (run == 0)
        return seed;
    const std::uint64_t hash = splitmix64(splitmix64(std::uint64_t(seed)) ^ std::uint64_t(run));
    return std::int64_t(1 + hash % std::uint64_t(Random::MODULUS - 1));
}
