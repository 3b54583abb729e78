#pragma once

// Helpers for tests of the sandpile engine: lattices and piles to start
// from, observers that record what the engine reports, and the whole
// visible state of a model and its driver, to compare before and after.

#include "engine/graindriver.h"
#include "engine/sandpilemodel.h"

#include <QString>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ModelTest {

inline std::vector<int> neighboursOf(const Lattice &lattice, int site)
{
    std::vector<int> visited;
    lattice.forEachNeighbour(site, [&](int n) { visited.push_back(n); });
    return visited;
}

// Sites of every kind with their neighbours in the order up, right, down,
// left, on the window's lattice and on two small ones: columns "side",
// "site" and "neighbours" of a data-driven test.
inline void addNeighbourRows()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("site");
    QTest::addColumn<std::vector<int>>("neighbours");
    QTest::newRow("149 interior") << 149 << 11100 << std::vector<int>{10951, 11101, 11249, 11099};
    QTest::newRow("149 corner 0") << 149 << 0 << std::vector<int>{1, 149};
    QTest::newRow("149 corner 148") << 149 << 148 << std::vector<int>{297, 147};
    QTest::newRow("149 corner 22052") << 149 << 22052 << std::vector<int>{21903, 22053};
    QTest::newRow("149 corner 22200") << 149 << 22200 << std::vector<int>{22051, 22199};
    QTest::newRow("149 left edge 149") << 149 << 149 << std::vector<int>{0, 150, 298};
    QTest::newRow("149 right edge 297") << 149 << 297 << std::vector<int>{148, 446, 296};
    QTest::newRow("149 top edge 1") << 149 << 1 << std::vector<int>{2, 150, 0};
    QTest::newRow("149 bottom edge 22199") << 149 << 22199 << std::vector<int>{22050, 22200, 22198};
    QTest::newRow("5 interior") << 5 << 12 << std::vector<int>{7, 13, 17, 11};
    QTest::newRow("5 corner 0") << 5 << 0 << std::vector<int>{1, 5};
    QTest::newRow("5 corner 4") << 5 << 4 << std::vector<int>{9, 3};
    QTest::newRow("5 corner 20") << 5 << 20 << std::vector<int>{15, 21};
    QTest::newRow("5 corner 24") << 5 << 24 << std::vector<int>{19, 23};
    QTest::newRow("5 left edge 5") << 5 << 5 << std::vector<int>{0, 6, 10};
    QTest::newRow("5 right edge 9") << 5 << 9 << std::vector<int>{4, 14, 8};
    QTest::newRow("5 top edge 2") << 5 << 2 << std::vector<int>{3, 7, 1};
    QTest::newRow("5 bottom edge 22") << 5 << 22 << std::vector<int>{17, 23, 21};
    // On the smallest lattice every site is a corner.
    QTest::newRow("2 corner 0") << 2 << 0 << std::vector<int>{1, 2};
    QTest::newRow("2 corner 1") << 2 << 1 << std::vector<int>{3, 0};
    QTest::newRow("2 corner 2") << 2 << 2 << std::vector<int>{0, 3};
    QTest::newRow("2 corner 3") << 2 << 3 << std::vector<int>{1, 2};
}

inline std::vector<int> flatPile(int side, int height) { return std::vector<int>(side * side, height); }

inline bool isStable(const std::vector<int> &z)
{
    return std::all_of(z.begin(), z.end(), [](int h) { return h >= 0 && h <= Lattice::MAX_STABLE_HEIGHT; });
}

// The checkerboard colour of a site: (row + column) mod 2.
inline int colourOf(const Lattice &lattice, int site) { return (lattice.row(site) + lattice.column(site)) % 2; }

// Replays every change the engine reports onto its own copy of the heights,
// and counts the changes that do not follow from the height before: a
// toppling takes four grains, a received grain adds one. So the copy equals
// the pile only if the observer heard every change, in order.
struct Recorder : SandpileObserver
{
    struct Event {
        char kind;   // 't' toppled, 'r' received, 'b' burnt
        int site;
        int height;   // after the change; 0 for a burn
        bool operator==(const Event &o) const { return kind == o.kind && site == o.site && height == o.height; }
    };

    std::vector<int> heights;
    std::vector<int> topplingsAt;   // per site
    std::int64_t topplings = 0;
    std::int64_t grainsReceived = 0;
    std::int64_t burns = 0;
    std::int64_t outOfStep = 0;
    bool keepEvents = false;
    std::vector<Event> events;

    explicit Recorder(const SandpileModel &model, bool keep = false)
        : heights(model.z())
        , topplingsAt(model.sites(), 0)
        , keepEvents(keep)
    {
    }

    void toppled(int site, int height)
    {
        outOfStep += height != heights[site] - Lattice::TOPPLING_HEIGHT;
        heights[site] = height;
        ++topplingsAt[site];
        ++topplings;
        if (keepEvents)
            events.push_back({'t', site, height});
    }
    void received(int site, int height)
    {
        outOfStep += height != heights[site] + 1;
        heights[site] = height;
        ++grainsReceived;
        if (keepEvents)
            events.push_back({'r', site, height});
    }
    void burnt(int site)
    {
        ++burns;
        if (keepEvents)
            events.push_back({'b', site, 0});
    }
};

// A model and its driver as the program builds them: the pile of "run
// free" from the first seed.
struct Program
{
    SandpileModel model;
    GrainDriver driver{model};
    explicit Program(int side = Lattice::WINDOW_SIDE) : model(side) { driver.reinitialise(); }
    GrainDriver::Tick tick()
    {
        SandpileObserver none;
        return driver.tick(none);
    }
};

// The model and driver as seen from outside: everything a view or a user
// can observe, and what the next tick is about to do.
struct State
{
    std::vector<int> z, front;
    std::int64_t grains = 0, s = 0, largest = 0;
    int selected = -1;
    int seed = 0;
    SandpileModel::BurnRecord burn;
    std::vector<bool> burnt;
    int style = 0, speed = 0;
    bool burnOn = false, resting = false, nextTickBurns = false;
};

inline State stateOf(SandpileModel &model, const GrainDriver &driver)
{
    State state;
    state.z = model.z();
    state.front = model.front();
    state.grains = model.grainsAdded();
    state.s = model.avalancheSize();
    state.largest = model.largestAvalanche();
    state.selected = model.selectedSite();
    state.seed = model.random().seed();
    state.burn = model.lastBurn();
    for (int i = 0; i < model.sites(); ++i)
        state.burnt.push_back(model.isBurnt(i));
    state.style = driver.runningStyle();
    state.speed = driver.speed();
    state.burnOn = driver.burnOn();
    state.resting = driver.isResting();
    state.nextTickBurns = driver.nextTickBurns();
    return state;
}

// What differs between two states, by name; empty when they are the same.
inline QString differences(const State &a, const State &b)
{
    QStringList differ;
    auto check = [&](bool same, const char *name) {
        if (!same)
            differ << QString::fromLatin1(name);
    };
    check(a.z == b.z, "heights");
    check(a.front == b.front, "front");
    check(a.grains == b.grains, "grainsAdded");
    check(a.s == b.s, "avalancheSize");
    check(a.largest == b.largest, "largestAvalanche");
    check(a.selected == b.selected, "selectedSite");
    check(a.seed == b.seed, "random seed");
    check(a.burn.boundaryFront == b.burn.boundaryFront && a.burn.sweeps == b.burn.sweeps
              && a.burn.burntSites == b.burn.burntSites && a.burn.largestSweep == b.burn.largestSweep
              && a.burn.largestSweepEntries == b.burn.largestSweepEntries
              && a.burn.lastToppled == b.burn.lastToppled,
          "lastBurn");
    check(a.burnt == b.burnt, "burnt marks");
    check(a.style == b.style, "running style");
    check(a.speed == b.speed, "speed");
    check(a.burnOn == b.burnOn, "burn");
    check(a.resting == b.resting, "isResting");
    check(a.nextTickBurns == b.nextTickBurns, "nextTickBurns");
    return differ.join(QLatin1String(", "));
}

// The sites whose heights differ between two piles, with the change.
inline std::vector<std::pair<int, int>> changes(const std::vector<int> &before, const std::vector<int> &after)
{
    std::vector<std::pair<int, int>> changed;
    for (int i = 0; i < int(before.size()); ++i)
        if (before[i] != after[i])
            changed.emplace_back(i, after[i] - before[i]);
    return changed;
}

// Runs ticks until the avalanche in progress has ended; returns the ticks taken.
template <typename Observer>
int tickUntilAvalancheEnds(GrainDriver &driver, const SandpileModel &model, Observer &observer)
{
    int ticks = 0;
    while (model.avalancheInProgress()) {
        driver.tick(observer);
        ++ticks;
    }
    return ticks;
}
inline int tickUntilAvalancheEnds(GrainDriver &driver, const SandpileModel &model)
{
    SandpileObserver none;
    return tickUntilAvalancheEnds(driver, model, none);
}

} // namespace ModelTest
