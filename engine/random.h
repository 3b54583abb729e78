#pragma once

#include <cstdint>

// The minimal standard multiplicative congruential generator of Park and
// Miller: seed' = 16807 * seed mod (2^31 - 1). Every run from the same seed
// draws the same sequence; a pile's random source starts at seed 1.
class Random
{
public:
    static constexpr int MODULUS = 2147483647;   // 2^31 - 1
    static constexpr int DEFAULT_SEED = 1;

    // Any seed is accepted: it is brought into the generator's range
    // 1..2^31-2 (0 and the multiples of the modulus become 1).
    explicit Random(std::int64_t seed = DEFAULT_SEED) { setSeed(seed); }

    // Returns a number in [0, 1) and advances the seed.
    double uniformRandom();

    int seed() const { return state; }
    void setSeed(std::int64_t seed);

private:
    int state;
};
