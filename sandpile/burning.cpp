#include "sandpile.h"

#include <vector>

namespace {

// The sites of the lattice's edge in the order the test feeds them: the
// corners, then the top row, the left column, the right column and the
// bottom row without their corners.
std::vector<int> boundarySites()
{
    using Lattice::L;
    using Lattice::N;
    std::vector<int> sites{0, L - 1, N - L, N - 1};
    for (int column = 1; column < L - 1; ++column)
        sites.push_back(column);
    for (int row = 1; row < L - 1; ++row)
        sites.push_back(row * L);
    for (int row = 1; row < L - 1; ++row)
        sites.push_back(row * L + L - 1);
    for (int column = 1; column < L - 1; ++column)
        sites.push_back(N - L + column);
    return sites;
}

} // namespace

// The burning test (Dhar's burning algorithm) for recurrent piles. Every
// edge site receives one grain per missing neighbour, and the result is
// relaxed sweep by sweep on a copy of the heights with the toppling rule of
// the avalanches. A site burns when it topples and is painted yellow at
// once; the pile is recurrent when every site burns. The pile itself is not
// touched: only the picture shows the test, until the next full redraw.
//
// The pile is stable when the test runs, so every list of sites to topple
// holds each site at most once and one sweep records at most five entries
// per site: touched has room for that.
void Sandpile::burn()
{
    std::vector<char> burnt(Lattice::N, 0);
    std::vector<int> zCopy(z.get(), z.get() + Lattice::N);
    std::vector<int> burnFront;
    std::vector<int> burnNextFront;
    burnFront.reserve(Lattice::N);
    burnNextFront.reserve(Lattice::N);

    for (int site : boundarySites()) {
        zCopy[site] += Lattice::TOPPLING_HEIGHT - Lattice::neighbourCount(site);
        if (zCopy[site] > Lattice::MAX_STABLE_HEIGHT)
            burnFront.push_back(site);
    }
    lastBurn = BurnRecord{int(burnFront.size())};

    do {
        int touchedCount = 0;
        burnNextFront.clear();
        for (int p : burnFront) {
            if (zCopy[p] <= Lattice::MAX_STABLE_HEIGHT)
                continue;
            zCopy[p] -= Lattice::TOPPLING_HEIGHT;
            paintCell(p, Picture::Burnt);
            burnt[p] ^= 1;
            touched[touchedCount++] = p;
            Lattice::forEachNeighbour(p, [&](int q) {
                touched[touchedCount++] = q;
                if (++zCopy[q] == Lattice::TOPPLING_HEIGHT)
                    burnNextFront.push_back(q);
            });
            lastBurn.lastToppled = p;
        }
        std::swap(burnFront, burnNextFront);

        // The listed sites that did not burn show the heights of the copy.
        for (int j = 0; j < touchedCount; ++j) {
            const int t = touched[j];
            if (!burnt[t] && zCopy[t] >= 0 && zCopy[t] <= Picture::Toppling)
                paintCell(t, Picture::shadeOfHeight(zCopy[t]));
        }

        ++lastBurn.sweeps;
        if (touchedCount > lastBurn.largestSweepEntries) {
            lastBurn.largestSweepEntries = touchedCount;
            lastBurn.largestSweep = lastBurn.sweeps;
        }
    } while (!burnFront.empty());
}
