// Benchmarks of measuring the steady state:
//   build/bench/measuring_bench
// All start from the same exact steady-state pile of each side (laid by
// StationaryPile from seed 1, no warm-up) and drop the same random grains.
// BM_BareSteadyState is the yardstick: the bare toppling loop over plain
// ints, its side fixed when compiled. BM_MeasuringLoops runs the measuring
// loop sandpile-stats runs today (SandpileModel and an area-counting
// observer: size, area, duration, per-block sums, heights) and the same
// loop on MeasuringPile, one after the other on the same grains, five
// times; it fails unless both measured the same avalanches, and reports
// both rates (processor time of each loop's fastest run) and their ratio
// (the target is 2.5 x or more). BM_LayStationaryPile times
// laying the exact steady-state pile.

#include "bareavalanche.h"
#include "tally.h"
#include "engine/measuringpile.h"
#include "engine/sandpilemodel.h"
#include "engine/stationarypile.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <limits>
#include <vector>

namespace {

constexpr int SMALL = 149;
constexpr int LARGE = 1024;

// Grains per iteration: tens of millions of topplings at 149 (about 800 a
// grain), a hundred million at 1024 (about 37 000 a grain).
std::int64_t grainsFor(int side) { return side == SMALL ? 100000 : 3000; }

// The exact steady-state pile every benchmark starts from.
std::vector<std::uint8_t> stationaryPile(int side)
{
    std::vector<std::uint8_t> z(std::size_t(side) * side);
    StationaryPile::lay(Lattice(side), Random::DEFAULT_SEED, z.data());
    return z;
}

template <int L>
std::int64_t bareRun(const std::vector<std::uint8_t> &start)
{
    constexpr int N = L * L;
    Random random;
    std::vector<int> z(start.begin(), start.end()), front(N), next(N);
    std::int64_t topplings = 0;
    for (std::int64_t grains = 0; grains < grainsFor(L);) {
        int site;
        do {
            site = std::min(int(random.uniformRandom() * L * L), N - 1);
            ++grains;
        } while (++z[site] != 4);
        topplings += BareAvalanche::runOnSide<L>(z.data(), front.data(), next.data(), site);
    }
    return topplings;
}

template <int L>
void BM_BareSteadyState(benchmark::State &state)
{
    const std::vector<std::uint8_t> start = stationaryPile(L);
    std::int64_t topplings = 0;
    for (auto _ : state)
        topplings += bareRun<L>(start);
    state.counters["topplings/s"] = benchmark::Counter(double(topplings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareSteadyState<SMALL>)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_BareSteadyState<LARGE>)->Unit(benchmark::kMillisecond)->MinTime(2);

// What a measuring loop keeps, as sandpile-stats' Measurer keeps it: the
// tally, its blocks, the heights every L^2 / 16 grains, and a digest of the
// avalanches in order to tell two loops apart.
struct Record {
    Tally tally;
    std::int64_t perBlock;
    std::int64_t interval;
    std::int64_t nextSample;
    std::int64_t measured = 0;
    std::uint64_t digest = 0;

    explicit Record(int side)
        : perBlock(std::int64_t(side) * side)
        , interval(std::max<std::int64_t>(1, std::int64_t(side) * side / 16))
        , nextSample(interval)
    {
        tally.runs.push_back({0, false, {}});
    }

    // Joins blocks 2i and 2i+1 into block i.
    static void pairUp(std::vector<Tally::Block> &blocks)
    {
        const std::size_t half = (blocks.size() + 1) / 2;
        for (std::size_t i = 0; i < half; ++i) {
            Tally::Block joined = blocks[2 * i];
            if (2 * i + 1 < blocks.size()) {
                joined.grains += blocks[2 * i + 1].grains;
                joined.topplings += blocks[2 * i + 1].topplings;
            }
            blocks[i] = joined;
        }
        blocks.resize(half);
    }

    // Adds one drop; true when the heights are due to be sampled.
    bool add(std::int64_t dropped, std::int64_t size, std::int64_t area, std::int64_t sweeps)
    {
        std::vector<Tally::Block> &blocks = tally.runs.back().blocks;
        std::int64_t index = measured / perBlock;
        while (index >= Tally::MAX_BLOCKS_PER_RUN) {
            pairUp(blocks);
            perBlock *= 2;
            index = measured / perBlock;
        }
        if (index >= std::int64_t(blocks.size()))
            blocks.resize(std::size_t(index) + 1);
        blocks[std::size_t(index)].grains += dropped;
        blocks[std::size_t(index)].topplings += size;
        tally.histograms[Tally::Size].add(size);
        tally.histograms[Tally::Area].add(area);
        tally.histograms[Tally::Duration].add(sweeps);
        for (std::int64_t value : {dropped, size, area, sweeps})
            digest = (digest ^ std::uint64_t(value)) * 1099511628211u;   // FNV-1a over the values
        measured += dropped;
        if (measured < nextSample)
            return false;
        nextSample = (measured / interval + 1) * interval;
        return true;
    }

    template <typename Heights>
    void sample(const Heights &z)
    {
        for (auto height : z)
            ++tally.heights[std::size_t(height)];
    }
};

// sandpile-stats' measuring loop as it is (stats/measurer.cpp): the model
// reports every toppling to an observer that counts distinct sites.
class AreaCounter : public SandpileObserver
{
public:
    explicit AreaCounter(int sites) : stamps(std::size_t(sites), 0) {}

    void begin()
    {
        area = 0;
        if (++mark == 0) {
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

Record modelLoop(int side, const std::vector<std::uint8_t> &start)
{
    SandpileModel model(side);
    model.setHeights({start.begin(), start.end()});
    Record record(side);
    AreaCounter counter(model.sites());
    while (record.measured < grainsFor(side)) {
        counter.begin();
        const int dropped = model.dropAtRandom(counter);
        std::int64_t sweeps = 0;
        for (; model.avalancheInProgress(); ++sweeps)
            model.relax(counter);
        if (record.add(dropped, model.avalancheSize(), counter.area, sweeps))
            record.sample(model.z());
    }
    return record;
}

// The same loop on MeasuringPile.
Record measuringPileLoop(int side)
{
    MeasuringPile pile(side);
    pile.layStationaryPile();
    Record record(side);
    while (record.measured < grainsFor(side)) {
        const MeasuringPile::Drop drop = pile.drop(std::numeric_limits<std::int64_t>::max());
        if (record.add(drop.grains, drop.size, drop.area, drop.duration))
            record.sample(pile.z());
    }
    return record;
}

// Processor time of this thread, in seconds: on a machine shared with
// other work, the loops are compared by the time they ran, not waited.
double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

template <typename Loop>
double secondsOf(Record &record, Loop loop)
{
    const double begin = threadSeconds();
    record = loop();
    return threadSeconds() - begin;
}

// Each iteration runs both loops; each loop's fastest run counts, since on
// a machine shared with other work a run can only be slowed down.
void BM_MeasuringLoops(benchmark::State &state)
{
    const int side = int(state.range(0));
    const std::vector<std::uint8_t> start = stationaryPile(side);
    double modelSeconds = 1e300, pileSeconds = 1e300;
    std::int64_t topplings = 0;
    for (auto _ : state) {
        Record model(side), pile(side);
        modelSeconds = std::min(modelSeconds, secondsOf(model, [&] { return modelLoop(side, start); }));
        pileSeconds = std::min(pileSeconds, secondsOf(pile, [&] { return measuringPileLoop(side); }));
        if (!(model.tally == pile.tally) || model.digest != pile.digest) {
            state.SkipWithError("the two loops measured different avalanches");
            return;
        }
        topplings = model.tally.topplings();
    }
    state.counters["topplings"] = double(topplings);
    state.counters["model topplings/s"] = double(topplings) / modelSeconds;
    state.counters["pile topplings/s"] = double(topplings) / pileSeconds;
    state.counters["ratio"] = modelSeconds / pileSeconds;
}
BENCHMARK(BM_MeasuringLoops)->ArgName("L")->Arg(SMALL)->Arg(LARGE)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_LayStationaryPile(benchmark::State &state)
{
    const Lattice lattice(int(state.range(0)));
    std::vector<std::uint8_t> z(std::size_t(lattice.sites()));
    std::uint64_t seed = 0;
    double seconds = 0;
    for (auto _ : state) {
        const double begin = threadSeconds();
        StationaryPile::lay(lattice, ++seed, z.data());
        seconds += threadSeconds() - begin;
    }
    state.counters["s per pile"] = seconds / double(state.iterations());
    state.counters["ns per site"] = seconds * 1e9 / double(state.iterations()) / lattice.sites();
}
BENCHMARK(BM_LayStationaryPile)->ArgName("L")->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
