#include "series.h"
#include "commandline.h"

#include "checkedmath.h"
#include "measurer.h"
#include "engine/lattice.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <semaphore>
#include <stdexcept>
#include <thread>

namespace {
constexpr auto PROGRESS_PERIOD = std::chrono::milliseconds(250);
} // namespace

std::int64_t Series::Settings::warmupFor(int side) const
{
    if (warmup >= 0)
        return warmup;
    return start == StartingPile::Window ? WINDOW_WARMUP_PER_SITE * std::int64_t(side) * side : 0;
}

bool Series::Settings::totalGrains(std::int64_t &total) const
{
    std::int64_t sum = 0;
    for (int side : sides) {
        std::int64_t perRun = 0, all = 0;
        if (!Checked::add(grains, warmupFor(side), perRun) || !Checked::multiply(runs, perRun, all)
            || !Checked::add(sum, all, sum))
            return false;
    }
    total = sum;
    return true;
}

int Series::Settings::allCores()
{
    return std::min(CommandLine::defaultThreads(), MAX_THREADS);
}

std::string Series::Settings::fault() const
{
    const auto outside = [](const char *what, std::int64_t value, std::int64_t low, std::int64_t high) {
        return value >= low && value <= high
                   ? std::string()
                   : std::string(what) + " must be from " + std::to_string(low) + " to " + std::to_string(high)
                         + ", not " + std::to_string(value);
    };
    if (sides.empty())
        return "no lattice side asked for";
    for (auto side = sides.begin(); side != sides.end(); ++side) {
        if (std::string why = outside("each side", *side, Lattice::MIN_SIDE, MAX_SIDE); !why.empty())
            return why;
        if (std::find(sides.begin(), side, *side) != side)
            return "side " + std::to_string(*side) + " asked for twice";
    }
    if (start != StartingPile::Stationary && start != StartingPile::Window)
        return "no such starting pile";
    for (const std::string &why : {outside("grains", grains, 1, MAX_COUNT), outside("runs", runs, 1, MAX_RUNS),
                                   outside("seed", seed, 1, Random::MODULUS - 1),
                                   outside("the first run", firstRun, 0, MAX_COUNT),
                                   outside("threads", threads, 1, MAX_THREADS)})
        if (!why.empty())
            return why;
    // -1 stands for the warm-up the starting pile needs.
    if (warmup != -1)
        if (std::string why = outside("warm-up", warmup, 0, MAX_COUNT); !why.empty())
            return why;
    if (std::int64_t total = 0; !totalGrains(total))
        return "too many grains in all: sides x runs x (grains + warm-up) must stay below 2^63";
    return {};
}

SeriesResult Series::run(const Settings &settings, const std::atomic<bool> *stop, const Progress &progress)
{
    // Task t is run t / sideCount on side t % sideCount. Workers take task
    // numbers from a counter; each tally is kept under its number and
    // merged, in task order, by the calling thread.
    const std::size_t sideCount = settings.sides.size();
    const std::size_t tasks = sideCount * std::size_t(settings.runs);
    std::vector<std::unique_ptr<Tally>> tallies(tasks);
    std::vector<std::atomic<bool>> done(tasks);   // tallies[t] is written before done[t] is set
    std::atomic<std::size_t> nextTask{0};
    std::atomic<std::int64_t> grainsDone{0};
    std::atomic<bool> cancel{false};   // a run failed, or a thread did not start
    std::mutex failureMutex;
    std::exception_ptr failure;
    // Holders of the series: the calling thread while it starts workers,
    // and each worker. The last to leave releases `finished`, once.
    std::atomic<int> holders{1};
    std::binary_semaphore finished{0};
    const auto leave = [&] {
        if (--holders == 0)
            finished.release();
    };

    const auto measureTask = [&](std::size_t t) {
        const int side = settings.sides[t % sideCount];
        const std::int64_t run = settings.firstRun + std::int64_t(t / sideCount);
        auto tally = std::make_unique<Tally>();
        if (stop && stop->load())
            tally->runs.push_back({run, true, {}});   // never started: nothing, cut short
        else
            *tally = Measurer({side, settings.grains, settings.warmupFor(side), settings.seed, settings.start}, stop,
                              &grainsDone, &cancel)
                         .measure(run);
        return tally;
    };
    const auto work = [&] {
        for (std::size_t t; !cancel && (t = nextTask++) < tasks;) {
            try {
                tallies[t] = measureTask(t);
                done[t].store(true, std::memory_order_release);
            } catch (...) {
                const std::lock_guard lock(failureMutex);
                if (!failure)
                    failure = std::current_exception();
                cancel = true;
            }
        }
        leave();
    };

    // Merging the finished tasks as they come keeps few tallies in memory.
    std::vector<Tally> perSide(sideCount);
    std::size_t merged = 0;
    const auto mergeFinished = [&] {
        for (; merged < tasks && done[merged].load(std::memory_order_acquire); ++merged) {
            perSide[merged % sideCount].merge(*tallies[merged]);
            tallies[merged].reset();
        }
    };

    std::string startFailure;
    {
        const std::size_t wanted = std::min<std::size_t>(std::size_t(std::max(1, settings.threads)), tasks);
        std::vector<std::jthread> workers;   // joined when this block ends
        workers.reserve(wanted);
        for (std::size_t i = 0; i < wanted; ++i) {
            ++holders;
            try {
                workers.emplace_back(work);
            } catch (const std::exception &error) {   // std::system_error, as a rule
                --holders;
                cancel = true;
                startFailure = "cannot start thread " + std::to_string(i + 1) + " of " + std::to_string(wanted) + ": "
                               + error.what();
                break;
            }
        }
        leave();
        try {
            while (!finished.try_acquire_for(PROGRESS_PERIOD)) {
                mergeFinished();
                if (progress)
                    progress(grainsDone.load());
            }
        } catch (...) {   // out of memory in a merge: the workers stop before the join
            cancel = true;
            throw;
        }
    }
    if (!startFailure.empty())
        throw std::runtime_error(startFailure);
    if (failure)
        std::rethrow_exception(failure);
    mergeFinished();

    SeriesResult result;
    result.seed = settings.seed;
    result.start = settings.start;
    result.grainsPerRun = settings.grains;
    for (std::size_t s = 0; s < sideCount; ++s)
        result.sides.push_back({settings.sides[s], settings.warmupFor(settings.sides[s]), std::move(perSide[s])});
    if (progress)
        progress(grainsDone.load());
    return result;
}
