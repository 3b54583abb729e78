#pragma once

#include <utility>

// The limit the engine is measured against: the toppling rule over plain
// arrays of a side fixed when compiled, with nothing else. Parallel sweeps
// from one site; the next front holds the sites that reached exactly 4.
namespace BareAvalanche {

constexpr int L = 149;
constexpr int N = L * L;

// Relaxes the avalanche started at a site holding 4 on a lattice of side
// Side; returns its topplings.
template <int Side>
long long runOnSide(int *z, int *front, int *nextFront, int site)
{
    constexpr int L = Side;
    constexpr int N = Side * Side;
    long long topplings = 0;
    int frontCount = 1;
    front[0] = site;
    auto give = [&](int n, int &nextCount) {
        if (++z[n] == 4)
            nextFront[nextCount++] = n;
    };
    while (frontCount > 0) {
        int nextCount = 0;
        for (int k = 0; k < frontCount; ++k) {
            const int i = front[k];
            if (z[i] < 4)
                continue;
            z[i] -= 4;
            if (i >= L)
                give(i - L, nextCount);
            if ((i + 1) % L != 0)
                give(i + 1, nextCount);
            if (i < N - L)
                give(i + L, nextCount);
            if (i % L != 0)
                give(i - 1, nextCount);
        }
        topplings += frontCount;
        std::swap(front, nextFront);
        frontCount = nextCount;
    }
    return topplings;
}

// The same on the window's lattice.
inline long long run(int *z, int *front, int *nextFront, int site)
{
    return runOnSide<L>(z, front, nextFront, site);
}

} // namespace BareAvalanche
