#pragma once

#include "tally.h"
#include "engine/lattice.h"
#include "engine/random.h"
#include "engine/startingpile.h"

#include <atomic>
#include <cstdint>
#include <functional>

// Runs one pile as the window's "run free" style does (grains on random
// sites, each avalanche relaxed sweep by sweep), from an exact sample of the
// steady state or from the window's random starting pile, and tallies what
// its avalanches do. From the window's pile with no warm-up it sees exactly
// the window's avalanches.
//
// A run first drops exactly `warmup` grains unmeasured, then measures
// exactly `grains` grains. A drop is one or more grains and sets off one
// avalanche (s >= 1), except the run's last, cut at its last grain: its
// grains count, with no avalanche and no toppling. So a run measures the
// topplings of its own grains alone, and the mean of many short runs is the
// steady state's. The pile's heights are sampled, whole, after the grain
// that reaches each multiple of heightInterval(side) measured grains (after
// its avalanche, if it set one off): a run of G grains holds
// floor(G / heightInterval) piles, a fair sample of the steady
// state, where piles taken right after avalanches are not.
//
// The measured grains fall into blocks of blockGrains(side) << k grains, a
// drop going to the block where its first grain falls; k is the smallest
// that keeps at most Tally::MAX_BLOCKS_PER_RUN blocks. The blocks depend
// only on the grains measured, not on the number asked for, so a run cut
// short has blocks (and a standard error) too.
class Measurer
{
public:
    static constexpr int DEFAULT_SIDE = Lattice::WINDOW_SIDE;

    struct Settings {
        int side = DEFAULT_SIDE;
        std::int64_t grains = 0;
        std::int64_t warmup = 0;
        std::int64_t seed = Random::DEFAULT_SEED;   // of run 0; see runSeed()
        StartingPile start = StartingPile::Stationary;
    };
    // Hears every measured avalanche, in order (for tests).
    using Listener = std::function<void(std::int64_t size, std::int64_t area, std::int64_t duration)>;

    // Between avalanches the run stops early once `stop` or `cancel` is set,
    // and adds the grains it dropped (warm-up included) to `grainsDone` now
    // and then.
    Measurer(const Settings &settings, const std::atomic<bool> *stop = nullptr,
             std::atomic<std::int64_t> *grainsDone = nullptr, const std::atomic<bool> *cancel = nullptr);

    void setListener(Listener listener) { hear = std::move(listener); }
    Tally measure(std::int64_t run) const;

    // Heights are sampled every L^2 / HEIGHT_SAMPLES_PER_L2 grains (at least 1).
    static constexpr std::int64_t HEIGHT_SAMPLES_PER_L2 = 16;
    static std::int64_t heightInterval(int side);
    // The shortest block: L^2 grains, about the time the pile takes to
    // forget its heights.
    static std::int64_t blockGrains(int side);

private:
    bool stopped() const
    {
        return (stop && stop->load(std::memory_order_relaxed)) || (cancel && cancel->load(std::memory_order_relaxed));
    }

    Settings settings;
    const std::atomic<bool> *stop;
    const std::atomic<bool> *cancel;
    std::atomic<std::int64_t> *grainsDone;
    Listener hear;
};
