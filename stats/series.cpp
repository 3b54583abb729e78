#include "series.h"

#include "measurer.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace {
constexpr auto PROGRESS_PERIOD = std::chrono::milliseconds(250);
}

std::int64_t Series::Settings::warmupFor(int side) const
{
    return warmup >= 0 ? warmup : 2 * std::int64_t(side) * side;
}

std::int64_t Series::Settings::totalGrains() const
{
    std::int64_t total = 0;
    for (int side : sides)
        total += runs * (grains + warmupFor(side));
    return total;
}

SeriesResult Series::run(const Settings &settings, const std::atomic<bool> *stop, const Progress &progress)
{
    const std::size_t sideCount = settings.sides.size();
    const std::size_t tasks = sideCount * std::size_t(settings.runs);
    // Task t is run t / sideCount on side t % sideCount. Each finished run
    // is merged at once: the merge of exact tallies is the same in any order.
    std::vector<Tally> perSide(sideCount);
    std::vector<std::exception_ptr> failures(tasks);
    std::atomic<std::size_t> nextTask{0};
    std::atomic<std::int64_t> grainsDone{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = 0;

    const auto work = [&] {
        for (std::size_t t; (t = nextTask.fetch_add(1)) < tasks;) {
            try {
                const int side = settings.sides[t % sideCount];
                const Measurer measurer({side, settings.grains, settings.warmupFor(side), settings.seed},
                                        stop, &grainsDone);
                const Tally tally = measurer.measure(settings.firstRun + std::int64_t(t / sideCount));
                std::lock_guard<std::mutex> lock(mutex);
                perSide[t % sideCount].merge(tally);
            } catch (...) {
                failures[t] = std::current_exception();
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_all();
    };

    std::vector<std::thread> workers;
    running = std::min<std::size_t>(std::size_t(std::max(1, settings.threads)), tasks);
    const std::size_t started = running;
    for (std::size_t i = 0; i < started; ++i)
        workers.emplace_back(work);
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished.wait_for(lock, PROGRESS_PERIOD, [&] { return running == 0; }))
            if (progress) {
                lock.unlock();
                progress(grainsDone.load());
                lock.lock();
            }
    }
    for (std::thread &worker : workers)
        worker.join();
    for (const std::exception_ptr &failure : failures)
        if (failure)
            std::rethrow_exception(failure);

    SeriesResult result;
    result.seed = settings.seed;
    result.grainsPerRun = settings.grains;
    for (std::size_t s = 0; s < sideCount; ++s) {
        result.sides.push_back({settings.sides[s], settings.warmupFor(settings.sides[s]), std::move(perSide[s])});
    }
    if (progress)
        progress(grainsDone.load());
    return result;
}
