// Benchmarks of sandpile-stats' measuring loop:
//   build/bench/stats_bench
// BM_BareSteadyState and BM_MeasuringLoop run the very same pile (the
// window's starting pile, 2 L^2 warm-up grains, then MEASURED_GRAINS grains
// at L = 149) and report topplings per second; the measuring loop should
// reach 0.9 x the bare loop. BM_TwoRuns measures two runs on one and on two
// threads; two threads should take at most 0.55 x the time of one.
// BM_ManyTinyRuns combines 20000 runs of one grain at L = 2: the time should
// grow in proportion to the runs, a few milliseconds.

#include "bareavalanche.h"
#include "measurer.h"
#include "series.h"
#include "engine/random.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int L = BareAvalanche::L;
constexpr int N = BareAvalanche::N;
constexpr std::int64_t WARMUP = 2 * N;
constexpr std::int64_t MEASURED_GRAINS = 300000;

// Random drops and parallel sweeps over plain arrays of a side fixed at
// compile time, with nothing measured: the limit for the measuring loop.
// It draws from the same random source as the model, so it drops the same
// grains and makes the same topplings.
std::int64_t bareRun()
{
    Random random;
    std::vector<int> z(N), front(N), next(N);
    for (int &height : z)
        height = int(random.uniformRandom() * 4.0);
    std::int64_t topplings = 0;
    for (std::int64_t grains = 0; grains < WARMUP + MEASURED_GRAINS;) {
        int site;
        do {
            site = std::min(int(random.uniformRandom() * L * L), N - 1);
            ++grains;
        } while (++z[site] != 4);
        topplings += BareAvalanche::run(z.data(), front.data(), next.data(), site);
    }
    return topplings;
}

void BM_BareSteadyState(benchmark::State &state)
{
    std::int64_t topplings = 0;
    for (auto _ : state)
        topplings += bareRun();
    state.counters["topplings/s"] = benchmark::Counter(double(topplings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareSteadyState)->Unit(benchmark::kMillisecond)->MinTime(3);

// The tool's loop on the same pile; the bare loop counts its topplings
// (warm-up included), since the tally holds only the measured ones.
void BM_MeasuringLoop(benchmark::State &state)
{
    const std::int64_t topplingsPerRun = bareRun();
    const Measurer measurer({L, MEASURED_GRAINS, WARMUP, Random::DEFAULT_SEED});
    std::int64_t topplings = 0;
    for (auto _ : state) {
        const Tally tally = measurer.measure(0);
        benchmark::DoNotOptimize(tally.grains());
        topplings += topplingsPerRun;
    }
    state.counters["topplings/s"] = benchmark::Counter(double(topplings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MeasuringLoop)->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_TwoRuns(benchmark::State &state)
{
    Series::Settings settings;
    settings.sides = {L};
    settings.grains = MEASURED_GRAINS;
    settings.runs = 2;
    settings.threads = int(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(Series::run(settings).sides.size());
}
BENCHMARK(BM_TwoRuns)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ManyTinyRuns(benchmark::State &state)
{
    Series::Settings settings;
    settings.sides = {2};
    settings.grains = 1;
    settings.runs = state.range(0);
    settings.threads = 2;
    for (auto _ : state)
        benchmark::DoNotOptimize(Series::run(settings).sides.size());
}
BENCHMARK(BM_ManyTinyRuns)->ArgName("runs")->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
