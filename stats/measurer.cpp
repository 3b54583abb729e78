#include "measurer.h"

#include "runseed.h"
#include "engine/measuringpile.h"

#include <algorithm>
#include <vector>

namespace {

// Grains a run drops between reports to the shared progress counter.
constexpr std::int64_t PROGRESS_STRIDE = 1 << 14;

// Joins blocks 2i and 2i+1 into block i: the blocks twice as long that the
// same drops would have filled.
void pairUp(std::vector<Tally::Block> &blocks)
{
    const std::size_t half = (blocks.size() + 1) / 2;
    for (std::size_t i = 0; i < half; ++i) {
        Tally::Block joined = blocks[2 * i];
        if (2 * i + 1 < blocks.size())
            joined.add(blocks[2 * i + 1]);
        blocks[i] = joined;
    }
    blocks.resize(half);
}

} // namespace

Measurer::Measurer(const Settings &settings, const std::atomic<bool> *stop,
                   std::atomic<std::int64_t> *grainsDone, const std::atomic<bool> *cancel)
    : settings(settings)
    , stop(stop)
    , cancel(cancel)
    , grainsDone(grainsDone)
{
}

std::int64_t Measurer::heightInterval(int side)
{
    return std::max<std::int64_t>(1, std::int64_t(side) * side / HEIGHT_SAMPLES_PER_L2);
}

std::int64_t Measurer::blockGrains(int side)
{
    return std::int64_t(side) * side;
}

Tally Measurer::measure(std::int64_t run) const
{
    MeasuringPile pile(settings.side, runSeed(settings.seed, run));
    if (settings.start == StartingPile::Stationary)
        pile.layStationaryPile();
    else
        pile.layWindowPile();

    Tally tally;
    tally.runs.push_back({run, false, {}});
    Tally::Run &record = tally.runs.back();
    std::int64_t unreported = 0;
    const auto report = [&](std::int64_t dropped, bool flush) {
        unreported += dropped;
        if (grainsDone && (flush || unreported >= PROGRESS_STRIDE)) {
            grainsDone->fetch_add(unreported, std::memory_order_relaxed);
            unreported = 0;
        }
    };

    // Exactly `warmup` grains too: a drop the warm-up cuts short goes on
    // with the measured grains, as drop(warmup) then drop(grains) in Python.
    while (pile.grainsAdded() < settings.warmup) {
        if (stopped()) {
            record.interrupted = true;
            report(0, true);
            return tally;
        }
        report(pile.drop(settings.warmup - pile.grainsAdded()).grains, false);
    }

    std::int64_t perBlock = blockGrains(settings.side);
    const std::int64_t interval = heightInterval(settings.side);
    std::int64_t nextSample = interval;
    std::int64_t measured = 0;
    while (measured < settings.grains) {
        if (stopped()) {
            record.interrupted = true;
            break;
        }
        // One drop, cut into pieces that each end at a sampling point, at
        // the drop's avalanche or at the run's last grain: the pile is
        // sampled after the grain that reaches each multiple of the
        // interval, relaxed if that grain set off the avalanche. A piece is
        // at most interval <= L^2 grains.
        const std::int64_t first = measured;
        std::int64_t dropped = 0;
        MeasuringPile::Drop piece;
        do {
            piece = pile.drop(std::min(nextSample, settings.grains) - measured);
            dropped += piece.grains;
            measured += piece.grains;
            if (measured == nextSample) {
                for (std::uint8_t height : pile.z())
                    ++tally.heights[height];
                nextSample += interval;
            }
        } while (piece.site < 0 && measured < settings.grains);
        const bool avalanche = piece.site >= 0;
        const std::int64_t size = piece.size;

        // The drop goes to the block where its first grain fell.
        std::int64_t index = first / perBlock;
        while (index >= Tally::MAX_BLOCKS_PER_RUN) {
            pairUp(record.blocks);
            perBlock *= 2;
            index = first / perBlock;
        }
        if (index >= std::int64_t(record.blocks.size()))
            record.blocks.resize(std::size_t(index) + 1);
        Tally::Block &block = record.blocks[std::size_t(index)];
        block.grains += dropped;
        report(dropped, false);
        if (!avalanche)   // the run's last grains, which toppled nothing
            continue;
        block.topplings += size;
        ++block.avalanches;
        std::int64_t observed[Tally::OBSERVABLES];
        observed[Tally::Size] = size;
        observed[Tally::Area] = piece.area;
        observed[Tally::Duration] = piece.duration;
        for (int o = 0; o < Tally::OBSERVABLES; ++o) {
            for (int k = 0; k < MomentScaling::ORDERS; ++k)
                block.powers[std::size_t(o)][std::size_t(k)] += MomentScaling::power(observed[o], k);
            tally.histograms[std::size_t(o)].add(observed[o]);
        }
        if (hear)
            hear(size, piece.area, piece.duration);
    }
    report(0, true);
    return tally;
}
