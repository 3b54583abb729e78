#include "stationarypile.h"

#include <algorithm>
#include <random>
#include <vector>

namespace {

// The four edges of a site, in the order the heights rank them.
constexpr int EDGES = 4;   // up, right, down, left
constexpr int ROW_STEP[EDGES] = {-1, 0, 1, 0};
constexpr int COLUMN_STEP[EDGES] = {0, 1, 0, -1};

// While the tree grows, a site's byte holds its tree edge in the two low
// bits and this flag once the site has joined the tree.
constexpr std::uint8_t EDGE_BITS = 3;
constexpr std::uint8_t IN_TREE = 4;
static_assert(EDGE_BITS == EDGES - 1, "an edge fits in the edge bits");

// A position on the lattice, moved along edges by row and column so that no
// step needs a division.
struct Walker {
    int L;
    int row;
    int column;

    int site() const { return row * L + column; }
    // Follows an edge; false when it leads off the lattice, to the sink.
    bool move(int edge)
    {
        row += ROW_STEP[edge];
        column += COLUMN_STEP[edge];
        return unsigned(row) < unsigned(L) && unsigned(column) < unsigned(L);
    }
};

// Wilson's algorithm: from each site not yet in the tree, a random walk
// until it meets the tree (the sink belongs to it from the start). Each
// visited site keeps the edge it last left by, which erases the walk's
// loops; retracing those edges from the start adds the loop-erased path.
void growTree(int L, std::mt19937_64 &random, std::uint8_t *tree)
{
    std::fill(tree, tree + L * L, std::uint8_t(0));
    for (int row = 0; row < L; ++row) {
        for (int column = 0; column < L; ++column) {
            const int start = row * L + column;
            Walker walker{L, row, column};
            int site = start;
            while (!(tree[site] & IN_TREE)) {
                const int edge = int(random() >> 62);   // the top two bits
                tree[site] = std::uint8_t(edge);
                if (!walker.move(edge))
                    break;
                site = walker.site();
            }
            walker = {L, row, column};
            site = start;
            while (!(tree[site] & IN_TREE)) {
                tree[site] |= IN_TREE;
                if (!walker.move(tree[site] & EDGE_BITS))
                    break;
                site = walker.site();
            }
        }
    }
}

// Every site's depth in the tree, without recursion: from each site of
// unknown depth, count the steps to a site of known depth (or the sink,
// depth 0), then walk the same path again labelling it. Each site is
// labelled once, so the work is linear. Depths are at most N, which fits.
void measureDepths(int L, const std::uint8_t *tree, int *depth)
{
    constexpr int UNKNOWN = 0;   // every site lies at depth >= 1
    std::fill(depth, depth + L * L, UNKNOWN);
    for (int row = 0; row < L; ++row) {
        for (int column = 0; column < L; ++column) {
            const int start = row * L + column;
            if (depth[start] != UNKNOWN)
                continue;
            Walker walker{L, row, column};
            int site = start;
            int steps = 0;
            int reached = 0;   // the depth the path runs into
            for (;;) {
                ++steps;
                if (!walker.move(tree[site] & EDGE_BITS))
                    break;
                site = walker.site();
                if (depth[site] != UNKNOWN) {
                    reached = depth[site];
                    break;
                }
            }
            walker = {L, row, column};
            site = start;
            for (int d = reached + steps; d > reached; --d) {
                depth[site] = d;
                walker.move(tree[site] & EDGE_BITS);
                site = walker.site();
            }
        }
    }
}

// The heights from the tree and the depths. A site's height reads only its
// own tree edge, so it can replace the edge in the same byte.
void heightsFromTree(int L, const int *depth, std::uint8_t *treeThenHeights)
{
    for (int row = 0; row < L; ++row) {
        for (int column = 0; column < L; ++column) {
            const int site = row * L + column;
            const int t = depth[site];
            const int treeEdge = treeThenHeights[site] & EDGE_BITS;
            int height = 0;
            for (int edge = 0; edge < EDGES; ++edge) {
                Walker walker{L, row, column};
                const bool onLattice = walker.move(edge);
                const int tw = onLattice ? depth[walker.site()] : 0;
                height += onLattice && tw >= t;             // burns no earlier
                height += tw == t - 1 && edge < treeEdge;   // ranks before the tree edge
            }
            // At most 4 edges are counted, the tree edge itself by neither
            // term: so the height is at most 3.
            treeThenHeights[site] = std::uint8_t(height);
        }
    }
}

} // namespace

void StationaryPile::lay(const Lattice &lattice, std::uint64_t seed, std::uint8_t *heights, int *scratch)
{
    const int L = lattice.side();
    std::mt19937_64 random(seed);
    growTree(L, random, heights);
    int *depth = scratch;
    measureDepths(L, heights, depth);
    heightsFromTree(L, depth, heights);
}

void StationaryPile::lay(const Lattice &lattice, std::uint64_t seed, std::uint8_t *heights)
{
    std::vector<int> scratch(std::size_t(lattice.sites()));
    lay(lattice, seed, heights, scratch.data());
}
