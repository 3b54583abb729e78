#pragma once

#include "foldedlattice.h"
#include "threadteam.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

// Stabilises a pile by least action (Fey, Levine and Peres 2010): the
// odometer u, the topplings of each site, is the least u >= 0 with
// s0 + Lap u <= 3 everywhere, and the stable pile is s0 + Lap u. Starting from
// any guess of u, the pile is relaxed to it exactly:
//   1. sites below 0 untopple (a cheap cut of where the guess is too high);
//   2. sites of 4 or more topple until none is left: now s <= 3, so u is at
//      least the least odometer;
//   3. a burning test over the toppled sites (u > 0) finds any set F where
//      each site holds fewer grains than it has neighbours in F; untoppling
//      F once keeps u at least the least odometer, and sites it leaves
//      below 0 untopple too. When every toppled site burns, no such set is
//      left and u is the least odometer: the result is certified.
// A guess too low costs only the missing topplings, one too high a burning
// pass for each grain of excess: guesses should err low.
//
// Heights and the odometer are 64-bit: the odometer of 2^32 grains on one
// site reaches 10^10.
class LeastAction
{
public:
    using Stop = ThreadTeam::Stop;
    using Stopped = ThreadTeam::Stopped;

    // What the relaxation did.
    struct Work {
        // Stack pops that toppled, each any number of times; they vary from
        // run to run on more than one thread, the pile and odometer do not.
        std::int64_t topplings = 0;
        std::int64_t untopplings = 0;   // the same for untoppling
        int burningPasses = 0;          // the last one certified the result
    };

    // Every height and the odometer 0. Throws std::bad_alloc when the
    // machine cannot hold the pile.
    explicit LeastAction(const FoldedLattice &lattice);

    const FoldedLattice &lattice() const { return geometry; }
    // The bands of rows a lattice of `rows` is relaxed in at most: the
    // threads that can work on it.
    static int bandsFor(int rows) { return std::max(1, rows / ROWS_A_BAND); }
    // Bytes this holds for a lattice; the burning test adds one per cell.
    static std::size_t bytesFor(const FoldedLattice &lattice);

    std::int64_t &height(int x, int y) { return sites[geometry.index(x, y)].height; }
    std::int64_t height(int x, int y) const { return sites[geometry.index(x, y)].height; }
    std::int64_t &odometer(int x, int y) { return sites[geometry.index(x, y)].odometer; }
    std::int64_t odometer(int x, int y) const { return sites[geometry.index(x, y)].odometer; }

    // Heights += Lap odometer: lay the starting pile and a guess of the
    // odometer, call this once, then stabilise().
    void applyOdometer();
    // Relaxes to the least odometer and certifies it. The relaxations run
    // on the team's members, each over bands of rows of its own; the pile
    // and its odometer come out the same on any number.
    Work stabilise(ThreadTeam &team);
    // The same on a team of its own.
    Work stabilise(const Stop &stop = {}, int threads = 1);

private:
    static constexpr int ROWS_A_BAND = 64;   // fewer, and the bands trade more than they relax
    static constexpr int BANDS_A_MEMBER = 4;  // enough to share smoothly varying work evenly
    enum class Direction { Topple, Untopple };
    struct Band;
    template <Direction direction>
    std::int64_t relax(ThreadTeam &team);
    template <Direction direction>
    void relaxBand(Band &band, const ThreadTeam &team);
    // The toppled sites that do not burn: empty when the odometer is least.
    std::vector<std::uint32_t> unburnt(std::vector<std::uint32_t> &queue, const ThreadTeam &team);
    template <typename Visit>
    void forEachSite(Visit visit) const;

    FoldedLattice geometry;
    // A site's height beside its odometer: a toppling reads the height and
    // writes both, so they share a cache line.
    struct Site {
        std::int64_t height;
        std::int64_t odometer;
    };
    // Indexed by cell. An edge cell's height is far below 0 so that it
    // never topples nor untopples, its odometer 0 so that it never burns.
    std::unique_ptr<Site[]> sites;
};
