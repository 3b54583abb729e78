#pragma once

#include "lattice.h"
#include "random.h"

#include <cstdint>
#include <vector>

// The sandpile for measuring in bulk: the same pile, grains and avalanches
// as SandpileModel (from the same seed and starting pile, the avalanches
// have the same site, size, area and duration), at full speed. Heights are
// bytes, nothing is reported while it topples, and a sweep appends the next
// front without a branch (write the site, advance the count by whether it
// reached 4): in the steady state whether a neighbour reaches 4 is close to
// a coin toss, which a branch would mispredict. Size, area (distinct sites
// toppled) and duration (sweeps) are counted in the same pass.
//
// The pile is always stable between drops: it is laid stable and every
// avalanche is relaxed fully.
//
// Memory: 7 bytes per site: heights 1, the lattice's neighbour table 1,
// edge marks and area stamps 1, two fronts of half the sites 4 (which
// laying the stationary pile borrows as its scratch space).
class MeasuringPile
{
public:
    // What one drop did. An avalanche started at `site`; site -1 and size 0
    // when the grain limit came first.
    struct Drop {
        int site = -1;
        std::int64_t grains = 0;     // grains dropped by this call
        std::int64_t size = 0;       // topplings
        std::int64_t area = 0;       // distinct sites toppled
        std::int64_t duration = 0;   // parallel sweeps
    };

    // Throws std::invalid_argument for a side the lattice cannot hold. The
    // pile starts empty.
    explicit MeasuringPile(int side, std::int64_t seed = Random::DEFAULT_SEED);

    // The starting piles; each sets grainsAdded to 0. The window's random
    // pile draws as SandpileModel::reinitialise(RunFree) does; the
    // stationary pile is SandpileModel::layStationaryPile()'s, from the
    // same seed (the random source's, which it leaves as it is).
    void layWindowPile();
    void layStationaryPile();
    // Takes a stable pile built elsewhere (a SandpileModel's, say), one
    // height per site, each 0..3, and sets grainsAdded to 0; with the random
    // source's seed set too, the drops continue that pile's run exactly.
    // Throws std::invalid_argument, leaving the pile as it was, for any other
    // count or height: an unstable pile would break relax()'s invariant.
    void setHeights(const std::vector<int> &pile);

    // Drops grains on random sites, drawn as SandpileModel::dropAtRandom
    // draws them, until one brings a site to 4 or `limit` grains have
    // fallen; relaxes the avalanche fully. A drop cut short by the limit
    // continues with the next call exactly as if it had not been cut.
    Drop drop(std::int64_t limit);

    const Lattice &lattice() const { return geometry; }
    int side() const { return geometry.side(); }
    int sites() const { return geometry.sites(); }
    const std::vector<std::uint8_t> &z() const { return heights; }
    std::int64_t grainsAdded() const { return grains; }
    Random &random() { return source; }

private:
    // Relaxes the avalanche that starts with a site at 4.
    void relax(int site, Drop &drop);

    Lattice geometry;
    Random source;
    std::vector<std::uint8_t> heights;
    // One byte per site that a toppling reads and writes along with the
    // height: whether the site lies on the lattice's edge (so that the
    // interior needs no neighbour table), and in the other bits a stamp,
    // the number of the last avalanche that toppled it, counted from 1 to
    // STAMP_BITS and then again after all stamps are cleared. Nothing is
    // cleared between avalanches.
    static constexpr std::uint8_t EDGE_SITE = 0x80;
    static constexpr std::uint8_t STAMP_BITS = EDGE_SITE - 1;
    std::vector<std::uint8_t> tags;
    std::uint8_t mark = 0;
    // The front and the next one, each half of the sites (and a slot)
    // long, side by side; laying the stationary pile borrows them.
    std::vector<int> fronts;
    std::int64_t grains = 0;
};
