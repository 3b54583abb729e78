#pragma once

#include "measurer.h"
#include "seriesresult.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A series of independent runs on one or more lattice sides, measured on
// several threads. Each run tallies on its own; the tallies are appended in
// run order, so the result does not depend on the threads.
class Series
{
public:
    struct Settings {
        std::vector<int> sides{Measurer::DEFAULT_SIDE};
        std::int64_t grains = 1000000;
        StartingPile start = StartingPile::Stationary;
        std::int64_t warmup = -1;   // -1: none from the steady state, 2 L^2 from the window's pile
        std::int64_t seed = Random::DEFAULT_SEED;
        std::int64_t firstRun = 0;
        std::int64_t runs = 1;
        int threads = 1;

        // The window's pile reaches the steady state in about 2 L^2 grains.
        static constexpr std::int64_t WINDOW_WARMUP_PER_SITE = 2;

        // The bounds of each setting; the least side is Lattice::MIN_SIDE,
        // the least seed 1 and the largest Random::MODULUS - 1.
        static constexpr int MAX_SIDE = 8192;
        // 10^15, a bound on each count alone; the grains of the whole
        // series, sides x runs x (grains + warm-up), must also fit in an
        // int64, which fault() checks.
        static constexpr std::int64_t MAX_COUNT = 1000000000000000;
        static constexpr std::int64_t MAX_RUNS = 1000000;   // each run is a task held in memory
        static constexpr int MAX_THREADS = 1024;
        // Threads for "as many as there are cores".
        static int allCores();

        // Why these settings cannot be measured, in one line, or "" when
        // they can. Every front-end shows it its own way.
        std::string fault() const;
        std::int64_t warmupFor(int side) const;
        // Warm-up included, for progress; false when that overflows.
        bool totalGrains(std::int64_t &total) const;
    };
    // Called on the calling thread about every PROGRESS_PERIOD with the
    // grains dropped so far by all runs.
    using Progress = std::function<void(std::int64_t grainsDone)>;

    // Stops every run at its next avalanche once `stop` is set, and starts
    // no other; the result then marks the runs cut short or never started.
    // Rethrows what a run threw (bad_alloc); throws std::runtime_error when
    // a thread cannot be started, once the others have stopped.
    static SeriesResult run(const Settings &settings, const std::atomic<bool> *stop = nullptr,
                            const Progress &progress = {});
};
