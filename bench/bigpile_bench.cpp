// The big piles, wall time: the centre pile of 2^k grains and the identity
// of the L x L pile, built on all cores.
#include "engine/pilebuilder.h"

#include <benchmark/benchmark.h>

#include <thread>

namespace {

PileBuilder::Settings allCores()
{
    PileBuilder::Settings settings;
    settings.threads = int(std::max(1u, std::thread::hardware_concurrency()));
    return settings;
}

void centrePile(benchmark::State &state)
{
    const auto grains = std::uint64_t(1) << state.range(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(PileBuilder::centre(grains, allCores()).topplings);
    state.counters["grains"] = double(grains);
}

void identity(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(PileBuilder::identity(int(state.range(0)), allCores()).topplings);
}

} // namespace

BENCHMARK(centrePile)->Arg(16)->Arg(18)->Arg(20)->Arg(22)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(identity)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK_MAIN();
