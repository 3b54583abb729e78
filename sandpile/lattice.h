#pragma once

// Geometry of the square lattice with open boundaries. Sites are numbered
// row by row: index = row * L + column, row 0 at the top, column 0 at the left.
namespace Lattice {

constexpr int L = 149;                              // sites per row and per column
constexpr int N = L * L;                            // number of sites
constexpr int CENTRE_SITE = (L / 2) * L + L / 2;    // row 74, column 74

// A site topples when it holds more than this many grains.
constexpr int MAX_STABLE_HEIGHT = 3;
constexpr int TOPPLING_HEIGHT = MAX_STABLE_HEIGHT + 1;

// One toppling records the site itself and up to four neighbours. Every list
// of sites to topple holds each site at most once, so one sweep records at
// most this many sites.
constexpr int MAX_RECORDED_PER_SWEEP = 5 * N;

constexpr int row(int site) { return site / L; }
constexpr int column(int site) { return site % L; }

// Visits the neighbours of a site in the fixed order up, right, down, left.
// A neighbour across the edge does not exist: its grain is lost.
template <typename Visit>
inline void forEachNeighbour(int site, Visit visit)
{
    if (site >= L)
        visit(site - L);
    if ((site + 1) % L != 0)
        visit(site + 1);
    if (site < N - L)
        visit(site + L);
    if (site % L != 0)
        visit(site - 1);
}

constexpr int neighbourCount(int site)
{
    return (site >= L) + ((site + 1) % L != 0) + (site < N - L) + (site % L != 0);
}

} // namespace Lattice
