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
// Heights and the odometer are held in 32 bits while they fit, which halves
// the memory a toppling moves, and in 64 bits from the first that does not
// (the odometer of 2^32 grains on one site reaches 10^10): a pile widens
// itself, wherever the count grows, and comes out the same.
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
    // Bytes this holds for a lattice, narrow or widened at once (one that
    // widens later holds both for a moment); the burning test adds one per cell.
    static std::size_t bytesFor(const FoldedLattice &lattice, bool wide = false);

    std::int64_t height(int x, int y) const { return at(geometry.index(x, y)).height; }
    std::int64_t odometer(int x, int y) const { return at(geometry.index(x, y)).odometer; }
    // Widen the pile where the value needs it: not from many threads at once.
    void setHeight(int x, int y, std::int64_t grains) { setHeightOf(geometry.index(x, y), grains); }
    void setOdometer(int x, int y, std::int64_t topplings);
    // For many threads setting at once: false where a value needs the pile
    // widened first.
    bool holds(std::int64_t value) const { return wide || fits<std::int32_t>(value); }
    void widen();   // its counts in 64 bits from now on
    bool isWide() const { return bool(wide); }

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
    template <typename Count>
    struct Site {
        Count height;
        Count odometer;
    };
    using Narrow = Site<std::int32_t>;
    using Wide = Site<std::int64_t>;
    // Whether a count of this width holds the value (a wide one always does:
    // piles topple fewer than 2^62 times).
    template <typename Count>
    static bool fits(std::int64_t value) { return value == Count(value); }
    template <typename Count>
    static inline bool add(Count &count, std::int64_t amount);
    Wide at(std::uint32_t cell) const
    {
        return wide ? wide[cell] : Wide{narrow[cell].height, narrow[cell].odometer};
    }
    void setHeightOf(std::uint32_t cell, std::int64_t grains);
    // The sites as they are held, for work written once for both widths.
    template <typename Work>
    decltype(auto) onSites(Work work) { return wide ? work(wide.get()) : work(narrow.get()); }
    template <typename Work>
    decltype(auto) onSites(Work work) const { return wide ? work(wide.get()) : work(narrow.get()); }

    // The grains the odometers of the sites around give a site.
    std::int64_t received(std::uint32_t cell) const;
    // The grains `times` topplings of a site give its neighbours (negative:
    // untopplings take), outside a relaxation; its odometer is the caller's.
    // Widens the pile first if a height would not fit.
    void give(std::uint32_t cell, std::int64_t times);
    template <Direction direction>
    std::int64_t relax(ThreadTeam &team);
    // False if a narrow pile's counts outgrew it: `unheld` then holds the
    // grains not yet given, to be given once it is wide.
    template <Direction direction, typename Count>
    bool relaxOn(Site<Count> *sites, ThreadTeam &team, std::int64_t &pops,
                 std::vector<std::pair<std::uint32_t, std::int64_t>> &unheld);
    template <Direction direction, typename Count>
    void relaxBand(Site<Count> *sites, Band &band, const ThreadTeam &team);
    // The toppled sites that do not burn: empty when the odometer is least.
    template <typename Count>
    std::vector<std::uint32_t> unburnt(const Site<Count> *sites, std::vector<std::uint32_t> &queue,
                                       const ThreadTeam &team) const;
    template <typename Visit>
    void forEachSite(Visit visit) const;
    template <typename Visit>
    void forEachCell(Visit visit) const;   // the sites and the edge around them

    FoldedLattice geometry;
    // A site's height beside its odometer: a toppling reads the height and
    // writes both, so they share a cache line. Indexed by cell; one of the
    // two is held. An edge cell holds 0 grains and topplings: no toppling
    // gives it grains, and it counts as burnt.
    std::unique_ptr<Narrow[]> narrow;
    std::unique_ptr<Wide[]> wide;
};
