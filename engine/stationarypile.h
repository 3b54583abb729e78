#pragma once

#include "lattice.h"

#include <cstdint>

// Lays a pile drawn exactly from the steady state of random addition: the
// uniform distribution over the recurrent piles (Dhar 1990), with no
// warm-up. Recurrent piles correspond one to one to the spanning trees of
// the lattice joined to the sink (Majumdar and Dhar 1992), and a uniform
// spanning tree comes from loop-erased random walks (Wilson 1996):
//
// 1. Wilson's algorithm, rooted at the sink. A walk from a site takes one of
//    its four edges, up, right, down, left, with equal chances; an edge
//    leaving the lattice goes to the sink (a corner has two such edges, any
//    other edge site one).
// 2. A site's burn time t(v) is its depth in the tree, the sink at depth 0.
// 3. Its height is the number of its lattice neighbours w with t(w) >= t(v),
//    plus the rank of its tree edge among its edges (in the order up, right,
//    down, left) that lead to a site or to the sink with burn time t(v) - 1.
//    Such a pile is recurrent, and the burning test burns each site at time
//    t(v), so the tree can be read back: the map is a bijection.
//
// The walks draw from std::mt19937_64, whose output the C++ standard fixes,
// one draw per step, the edge from its top two bits: a walk on a large
// lattice takes billions of steps, beyond the period of the minimal
// standard generator that drops the grains. The same seed lays the same
// pile on every machine.
//
// Memory: the pile's own byte per site holds the tree while it grows, and
// one int per site holds the burn times while the heights are computed.
class StationaryPile
{
public:
    // Writes lattice.sites() heights, each 0..3, to heights, using
    // lattice.sites() ints of scratch space (whose contents it overwrites).
    static void lay(const Lattice &lattice, std::uint64_t seed, std::uint8_t *heights, int *scratch);
    // The same with scratch space of its own, freed on return.
    static void lay(const Lattice &lattice, std::uint64_t seed, std::uint8_t *heights);
};
