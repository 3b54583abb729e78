#include "random.h"

namespace {

constexpr int MODULUS = 2147483647;   // 2^31 - 1
constexpr int MULTIPLIER = 16807;
// Schrage's decomposition of the modulus, MODULUS = MULTIPLIER * Q + R, keeps
// every intermediate value inside the signed 32-bit range.
constexpr int Q = MODULUS / MULTIPLIER;   // 127773
constexpr int R = MODULUS % MULTIPLIER;   // 2836

int seed = 1;

} // namespace

double uniformRandom()
{
    const int k = seed / Q;
    seed = MULTIPLIER * (seed - k * Q) - R * k;
    if (seed < 0)
        seed += MODULUS;
    return (seed - 1) * (1.0 / (MODULUS - 1));
}

int randomSeed()
{
    return seed;
}

void setRandomSeed(int newSeed)
{
    seed = newSeed;
}
