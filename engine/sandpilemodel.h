#pragma once

#include "lattice.h"
#include "random.h"
#include "sandpileobserver.h"

#include <cassert>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

// The Bak-Tang-Wiesenfeld sandpile on an L x L lattice with open
// boundaries. Each site holds a height z; a site holding more than three
// grains topples, giving one grain to each neighbour, and a grain given
// across the edge is lost. An avalanche advances by parallel sweeps: every
// site of the front topples once, and the sites that became unstable form
// the next front.
//
// The model knows nothing of any screen: it reports every change of a
// height to an observer, and offers read access to all it holds.
class SandpileModel
{
public:
    // How grains are added; chosen by the user, it decides the starting pile.
    enum RunningStyle { RunFree, Sprinkle, Fractalsand0, Fractalsand1, Fractalsand2 };

    // What the last burning test did.
    struct BurnRecord {
        int boundaryFront = 0;          // edge sites unstable after the boundary addition
        int sweeps = 0;
        int burntSites = 0;             // sites that toppled an odd number of times
        int largestSweep = 0;           // the sweep that recorded most changes, from 1
        int largestSweepEntries = 0;    // its topplings plus the grains they gave
        int lastToppled = -1;
    };

    // Throws std::invalid_argument for a side the lattice cannot hold, and
    // std::bad_alloc when the machine cannot.
    explicit SandpileModel(int side, std::int64_t seed = Random::DEFAULT_SEED);

    const Lattice &lattice() const { return geometry; }
    int side() const { return geometry.side(); }
    int sites() const { return geometry.sites(); }

    // Heights, and the avalanche in progress.
    const std::vector<int> &z() const { return heights; }
    std::vector<int> front() const { return {fronts.begin(), fronts.begin() + frontCount()}; }
    int frontCount() const { return frontLength; }
    bool avalancheInProgress() const { return frontLength != 0; }

    // Statistics since the last re-initialisation. Counts that grow with
    // the run are 64-bit: a large lattice topples more than 2^31 times.
    std::int64_t grainsAdded() const { return grains; }
    std::int64_t avalancheSize() const { return size; }        // s, topplings so far
    std::int64_t largestAvalanche() const { return largest; }
    std::int64_t totalHeight() const { return heightSum; }
    double averageHeight() const { return double(totalHeight()) / sites(); }

    // The site for the next grain of the Sprinkle style, or -1.
    int selectedSite() const { return selected; }
    void selectSite(int site) { selected = site >= 0 && site < sites() ? site : -1; }

    Random &random() { return source; }
    double uniformRandom() { return source.uniformRandom(); }

    // Empties the counters, abandons any avalanche and the selected site,
    // and lays the starting pile of a running style: heights uniform in 0..3
    // for the random styles, a flat pile of 0, 1 or 2 for the fractalsand ones.
    void reinitialise(RunningStyle style);
    // Empties the counters as reinitialise() does and lays a pile drawn
    // exactly from the steady state of random addition (see StationaryPile),
    // seeded from the random source's seed, which it leaves as it is: the
    // same seed lays the same pile.
    void layStationaryPile();

    // Sets heights directly, for piles built some other way (any height,
    // even unstable ones). The counters and the front stay as they are.
    void setHeights(std::vector<int> newHeights);
    void setHeight(int site, int height);

    // Adds one grain without counting it.
    template <typename Observer>
    void addGrain(int site, Observer &observer);

    // The three ways of dropping grains. Each counted grain adds to
    // grainsAdded; a drop that makes a site reach 4 starts an avalanche
    // there, which relax() then advances. All need a stable pile.
    // dropAtRandom drops until a site reaches 4, or until `limit` grains
    // (at least 1) have fallen without an avalanche; it returns the grains.
    // A drop cut by the limit and continued by the next call draws the same
    // sites as one uncut drop, so the avalanches stay the same.
    template <typename Observer>
    int dropAtRandom(Observer &observer, int limit = std::numeric_limits<int>::max());
    template <typename Observer>
    bool dropAtSelectedSite(Observer &observer);   // one grain, if a site is selected
    template <typename Observer>
    void dropAtCentre(Observer &observer);         // uncounted grains until the centre topples

    // Starts an avalanche at one site: s = 0 and the site alone in the front.
    void startAvalanche(int site);

    // One parallel sweep of the avalanche in progress.
    template <typename Observer>
    void relax(Observer &observer);
    void relax()
    {
        SandpileObserver none;
        relax(none);
    }

    // The burning test (Dhar's algorithm) on a copy of the pile, which stays
    // as it is. Every edge site receives a grain per missing neighbour and
    // the copy relaxes sweep by sweep; a site burns when it topples. A
    // stable pile is recurrent exactly when every site burns.
    template <typename Observer>
    void burn(Observer &observer);
    void burn()
    {
        SandpileObserver none;
        burn(none);
    }
    const BurnRecord &lastBurn() const { return burnRecord; }
    bool isBurnt(int site) const { return burntMarks[site] != 0; }

    // The edge sites in the order the burning test feeds them: the corners,
    // then the top row, left column, right column and bottom row without
    // their corners.
    std::vector<int> boundarySites() const;

private:
    void resetCounters();

    struct Sweep {
        int topplings;
        int nextCount;
        int lost;   // grains given across the edge
    };
    template <typename Observer>
    Sweep sweep(std::vector<int> &pile, const std::vector<int> &current, int count,
                std::vector<int> &next, Observer &observer) const;

    Lattice geometry;
    Random source;
    std::vector<int> heights;      // z
    std::vector<int> fronts;       // front: sites to topple in the next sweep
    std::vector<int> nextFront;    // the sites that became unstable in the running sweep
    int frontLength = 0;           // frontCount; 0: no avalanche in progress
    std::int64_t grains = 0;
    std::int64_t size = 0;
    std::int64_t largest = 0;
    std::int64_t heightSum = 0;    // the sum of z, kept as it changes
    int selected = -1;
    std::vector<std::uint8_t> burntMarks;
    BurnRecord burnRecord;
};

// The toppling rule, one parallel sweep, for avalanches and the burning test
// alike. Each site of the current front holding 4 or more loses 4 and gives
// one grain to each neighbour; heights change in place, so a site later in
// the front sees the grains the earlier ones gave. A site enters the next
// front when a grain brings it to exactly 4, so it is listed once.
//
// An avalanche's fronts each lie on one colour of the lattice's
// checkerboard: the first is one site, and every later one is made of
// neighbours of the one before. So no front site gains a grain during its
// own sweep, each site listed topples exactly once, and the sweep's
// topplings are the front's length. A site can still hold 8 or more when
// the pile was not stable to begin with; it is listed again, not left
// unstable. A front lists each site at most once, so none outgrows N.
template <typename Observer>
SandpileModel::Sweep SandpileModel::sweep(std::vector<int> &pile, const std::vector<int> &current, int count,
                         std::vector<int> &next, Observer &observer) const
{
    int *z = pile.data();
    int *nextSites = next.data();
    int nextCount = 0;
    int topplings = 0;
    int given = 0;
    for (int k = 0; k < count; ++k) {
        const int i = current[k];
        if (z[i] < Lattice::TOPPLING_HEIGHT)
            continue;
        ++topplings;
        const int left = z[i] -= Lattice::TOPPLING_HEIGHT;
        observer.toppled(i, left);
        geometry.forEachNeighbour(i, [&](int n) {
            const int height = ++z[n];
            ++given;
            if (height == Lattice::TOPPLING_HEIGHT)
                nextSites[nextCount++] = n;
            observer.received(n, height);
        });
        if (left >= Lattice::TOPPLING_HEIGHT)
            nextSites[nextCount++] = i;
        assert(nextCount <= int(next.size()));
    }
    return {topplings, nextCount, Lattice::TOPPLING_HEIGHT * topplings - given};
}

template <typename Observer>
void SandpileModel::addGrain(int site, Observer &observer)
{
    ++heightSum;
    observer.received(site, ++heights[site]);
}

template <typename Observer>
int SandpileModel::dropAtRandom(Observer &observer, int limit)
{
    const int L = side();
    int dropped = 0;
    int site;
    do {
        // The product is below L * L; the bound guards the rounding anyway.
        site = std::min(int(uniformRandom() * L * L), sites() - 1);
        addGrain(site, observer);
        ++dropped;
    } while (heights[site] != Lattice::TOPPLING_HEIGHT && dropped < limit);
    grains += dropped;
    if (heights[site] == Lattice::TOPPLING_HEIGHT)
        startAvalanche(site);
    return dropped;
}

template <typename Observer>
bool SandpileModel::dropAtSelectedSite(Observer &observer)
{
    if (selected < 0)
        return false;
    const int site = std::exchange(selected, -1);
    addGrain(site, observer);
    ++grains;
    if (heights[site] == Lattice::TOPPLING_HEIGHT)
        startAvalanche(site);
    return true;
}

template <typename Observer>
void SandpileModel::dropAtCentre(Observer &observer)
{
    const int centre = geometry.centre();
    while (heights[centre] < Lattice::TOPPLING_HEIGHT)
        addGrain(centre, observer);
    startAvalanche(centre);
}

template <typename Observer>
void SandpileModel::relax(Observer &observer)
{
    // From a stable pile every front site topples once (the checkerboard
    // invariant above), so s grows by the front's length.
    const Sweep done = sweep(heights, fronts, frontLength, nextFront, observer);
    size += done.topplings;
    heightSum -= done.lost;
    frontLength = done.nextCount;
    std::swap(fronts, nextFront);
    if (size > largest)
        largest = size;
}

template <typename Observer>
void SandpileModel::burn(Observer &observer)
{
    // The test relaxes a copy, sweep by sweep, and marks every toppling:
    // a site's mark flips each time it topples. The view sees a burning
    // site burn, and the grains given to sites that have not burnt.
    struct Burning {
        Observer &view;
        std::vector<std::uint8_t> &marks;
        BurnRecord &record;
        int entries = 0;
        void toppled(int site, int)
        {
            marks[site] ^= 1;
            view.burnt(site);
            record.lastToppled = site;
            ++entries;
        }
        void received(int site, int height)
        {
            if (!marks[site])
                view.received(site, height);
            ++entries;
        }
    };

    std::vector<int> zCopy = heights;
    std::vector<int> burnFront;
    std::vector<int> burnNextFront(sites());
    burntMarks.assign(sites(), 0);
    burnRecord = BurnRecord{};

    for (int site : boundarySites()) {
        zCopy[site] += Lattice::TOPPLING_HEIGHT - geometry.neighbourCount(site);
        if (zCopy[site] > Lattice::MAX_STABLE_HEIGHT)
            burnFront.push_back(site);
    }
    burnRecord.boundaryFront = int(burnFront.size());
    int count = burnRecord.boundaryFront;
    burnFront.resize(sites());

    Burning burning{observer, burntMarks, burnRecord};
    while (count > 0) {
        burning.entries = 0;
        count = sweep(zCopy, burnFront, count, burnNextFront, burning).nextCount;
        std::swap(burnFront, burnNextFront);
        ++burnRecord.sweeps;
        if (burning.entries > burnRecord.largestSweepEntries) {
            burnRecord.largestSweepEntries = burning.entries;
            burnRecord.largestSweep = burnRecord.sweeps;
        }
    }
    for (std::uint8_t mark : burntMarks)
        burnRecord.burntSites += mark;
}
