#include "measurer.h"

#include "runseed.h"
#include "sandpile/model/sandpilemodel.h"

#include <algorithm>
#include <vector>

namespace {

// Grains a run drops between reports to the shared progress counter.
constexpr std::int64_t PROGRESS_STRIDE = 1 << 14;

// Counts the distinct sites an avalanche topples: a site is stamped with the
// avalanche's number the first time it topples, so nothing is cleared
// between avalanches.
class AreaCounter : public SandpileObserver
{
public:
    explicit AreaCounter(int sites) : stamps(std::size_t(sites), 0) {}

    void begin()
    {
        area = 0;
        if (++mark == 0) {   // the stamps wrapped around: start afresh
            std::fill(stamps.begin(), stamps.end(), 0);
            mark = 1;
        }
    }
    void toppled(int site, int /*height*/)
    {
        std::uint32_t &stamp = stamps[std::size_t(site)];
        area += stamp != mark;
        stamp = mark;
    }
    std::int64_t area = 0;

private:
    std::vector<std::uint32_t> stamps;
    std::uint32_t mark = 0;
};

// Relaxes the avalanche in progress; returns its duration in sweeps.
template <typename Observer>
std::int64_t relaxFully(SandpileModel &model, Observer &observer)
{
    std::int64_t sweeps = 0;
    while (model.avalancheInProgress()) {
        model.relax(observer);
        ++sweeps;
    }
    return sweeps;
}

} // namespace

Measurer::Measurer(const Settings &settings, const std::atomic<bool> *stop,
                   std::atomic<std::int64_t> *grainsDone)
    : settings(settings)
    , stop(stop)
    , grainsDone(grainsDone)
{
}

std::int64_t Measurer::heightInterval(int side)
{
    return std::max<std::int64_t>(1, std::int64_t(side) * side / HEIGHT_SAMPLES_PER_L2);
}

Tally Measurer::measure(std::int64_t run) const
{
    SandpileModel model(settings.side, runSeed(settings.seed, run));
    model.reinitialise(SandpileModel::RunFree);

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

    SandpileObserver none;
    while (model.grainsAdded() < settings.warmup) {
        if (stopped()) {
            record.interrupted = true;
            report(0, true);
            return tally;
        }
        report(model.dropAtRandom(none), false);
        relaxFully(model, none);
    }

    const std::int64_t perBlock = settings.grains / Tally::BLOCKS_PER_RUN
                                  + (settings.grains % Tally::BLOCKS_PER_RUN != 0);
    record.blocks.resize(std::size_t((settings.grains + perBlock - 1) / perBlock));
    const std::int64_t interval = heightInterval(settings.side);
    std::int64_t nextSample = interval;
    std::int64_t measured = 0;
    AreaCounter counter(model.sites());
    while (measured < settings.grains) {
        if (stopped()) {
            record.interrupted = true;
            break;
        }
        counter.begin();
        const int dropped = model.dropAtRandom(counter);
        const std::int64_t sweeps = relaxFully(model, counter);
        const std::int64_t size = model.avalancheSize();

        Tally::Block &block = record.blocks[std::size_t(measured / perBlock)];
        block.grains += dropped;
        block.topplings += size;
        tally.size.add(size);
        tally.area.add(counter.area);
        tally.duration.add(sweeps);
        if (hear)
            hear(size, counter.area, sweeps);

        measured += dropped;
        if (measured >= nextSample) {
            for (int height : model.z())
                ++tally.heights[std::size_t(height)];
            nextSample = (measured / interval + 1) * interval;
        }
        report(dropped, false);
    }
    report(0, true);
    return tally;
}
