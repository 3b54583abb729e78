#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Geometry of a square lattice of side L with open boundaries. Sites are
// numbered row by row: index = row * L + column, row 0 at the top, column 0
// at the left.
class Lattice
{
public:
    static constexpr int MIN_SIDE = 2;
    // Every site index, and the five-entry-per-site lists of the burning
    // test, must fit in an int.
    static constexpr int MAX_SIDE = 20000;
    // The side of the window's lattice, which the measuring tool also uses
    // unless told otherwise, so that its figures describe the pile shown.
    static constexpr int WINDOW_SIDE = 149;

    // A site topples when it holds more than this many grains.
    static constexpr int MAX_STABLE_HEIGHT = 3;
    static constexpr int TOPPLING_HEIGHT = MAX_STABLE_HEIGHT + 1;

    // Throws std::invalid_argument for a side outside MIN_SIDE..MAX_SIDE.
    explicit Lattice(int side)
        : L(checkedSide(side))
        , N(side * side)
        , edges(N)
    {
        // Which neighbours exist, looked up rather than computed, so that a
        // toppling needs no division by a side known only at run time.
        for (int site = 0; site < N; ++site)
            edges[site] = uint8_t((site >= L ? UP : 0) | ((site + 1) % L != 0 ? RIGHT : 0)
                                  | (site < N - L ? DOWN : 0) | (site % L != 0 ? LEFT : 0));
    }

    int side() const { return L; }
    int sites() const { return N; }
    int centre() const { return (L / 2) * L + L / 2; }
    int row(int site) const { return site / L; }
    int column(int site) const { return site % L; }
    int neighbourCount(int site) const
    {
        const unsigned e = edges[site];
        return int((e & 1) + (e >> 1 & 1) + (e >> 2 & 1) + (e >> 3 & 1));
    }

    // Visits the neighbours of a site in the fixed order up, right, down,
    // left. A neighbour across the edge does not exist: its grain is lost.
    template <typename Visit>
    void forEachNeighbour(int site, Visit visit) const
    {
        const unsigned e = edges[site];
        if (e == ALL) {   // the interior: almost every toppling
            visit(site - L);
            visit(site + 1);
            visit(site + L);
            visit(site - 1);
            return;
        }
        if (e & UP)
            visit(site - L);
        if (e & RIGHT)
            visit(site + 1);
        if (e & DOWN)
            visit(site + L);
        if (e & LEFT)
            visit(site - 1);
    }

private:
    enum Edge : uint8_t { UP = 1, RIGHT = 2, DOWN = 4, LEFT = 8, ALL = 15 };

    static int checkedSide(int side)
    {
        if (side < MIN_SIDE || side > MAX_SIDE)
            throw std::invalid_argument("lattice side " + std::to_string(side) + " is outside "
                                        + std::to_string(MIN_SIDE) + ".."
                                        + std::to_string(MAX_SIDE));
        return side;
    }

    int L;                        // sites per row and per column
    int N;                        // number of sites, L * L
    std::vector<uint8_t> edges;   // per site, the neighbours that exist
};
