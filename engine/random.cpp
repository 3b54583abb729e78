#include "random.h"

namespace {

constexpr int MULTIPLIER = 16807;
// Schrage's decomposition of the modulus, MODULUS = MULTIPLIER * Q + R, keeps
// every intermediate value inside the signed 32-bit range.
constexpr int Q = Random::MODULUS / MULTIPLIER;   // 127773
constexpr int R = Random::MODULUS % MULTIPLIER;   // 2836

} // namespace

double Random::uniformRandom()
{
    const int k = state / Q;
    state = MULTIPLIER * (state - k * Q) - R * k;
    if (state < 0)
        state += MODULUS;
    return (state - 1) * (1.0 / (MODULUS - 1));
}

// 0 and the multiples of the modulus would stay 0 for ever; negative seeds
// would leave the range Schrage's method needs.
void Random::setSeed(std::int64_t seed)
{
    std::int64_t s = seed % MODULUS;
    if (s < 0)
        s += MODULUS;
    state = s == 0 ? DEFAULT_SEED : int(s);
}
