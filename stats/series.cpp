#include "series.h"

#include "checkedmath.h"
#include "measurer.h"

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
    return warmup >= 0 ? warmup : 2 * std::int64_t(side) * side;
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
            *tally = Measurer({side, settings.grains, settings.warmupFor(side), settings.seed}, stop, &grainsDone,
                              &cancel)
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
    result.grainsPerRun = settings.grains;
    for (std::size_t s = 0; s < sideCount; ++s)
        result.sides.push_back({settings.sides[s], settings.warmupFor(settings.sides[s]), std::move(perSide[s])});
    if (progress)
        progress(grainsDone.load());
    return result;
}
