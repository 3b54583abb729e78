#include "series.h"

#include "measurer.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {
constexpr auto PROGRESS_PERIOD = std::chrono::milliseconds(250);

// What a run that was never started tallies: nothing, cut short.
Tally notStarted(std::int64_t run)
{
    Tally tally;
    tally.runs.push_back({run, true, {}});
    return tally;
}
} // namespace

std::int64_t Series::Settings::warmupFor(int side) const
{
    return warmup >= 0 ? warmup : 2 * std::int64_t(side) * side;
}

bool Series::Settings::totalGrains(std::int64_t &total) const
{
    total = 0;
    for (int side : sides) {
        std::int64_t perRun = 0, all = 0;
        if (__builtin_add_overflow(grains, warmupFor(side), &perRun) || __builtin_mul_overflow(runs, perRun, &all)
            || __builtin_add_overflow(total, all, &total))
            return false;
    }
    return true;
}

SeriesResult Series::run(const Settings &settings, const std::atomic<bool> *stop, const Progress &progress)
{
    const std::size_t sideCount = settings.sides.size();
    const std::size_t tasks = sideCount * std::size_t(settings.runs);
    // Task t is run t / sideCount on side t % sideCount. A finished task
    // waits in `waiting` until every earlier one has been appended.
    std::vector<Tally> perSide(sideCount);
    std::map<std::size_t, Tally> waiting;
    std::size_t appended = 0;
    std::exception_ptr failure;
    std::atomic<bool> cancel{false};   // a run failed, or a thread did not start
    std::atomic<std::size_t> nextTask{0};
    std::atomic<std::int64_t> grainsDone{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = 0;

    const auto work = [&] {
        for (std::size_t t; !cancel.load() && (t = nextTask.fetch_add(1)) < tasks;) {
            try {
                const int side = settings.sides[t % sideCount];
                const std::int64_t run = settings.firstRun + std::int64_t(t / sideCount);
                Tally tally;
                if (stop && stop->load()) {
                    tally = notStarted(run);
                } else {
                    const Measurer measurer({side, settings.grains, settings.warmupFor(side), settings.seed}, stop,
                                            &grainsDone, &cancel);
                    tally = measurer.measure(run);
                }
                std::lock_guard<std::mutex> lock(mutex);
                waiting.emplace(t, std::move(tally));
                for (auto next = waiting.begin(); next != waiting.end() && next->first == appended;
                     next = waiting.erase(next), ++appended)
                    perSide[appended % sideCount].merge(next->second);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!failure)
                    failure = std::current_exception();
                cancel = true;
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_all();
    };

    std::vector<std::thread> workers;
    const std::size_t wanted = std::min<std::size_t>(std::size_t(std::max(1, settings.threads)), tasks);
    std::string startFailure;
    for (std::size_t i = 0; i < wanted && startFailure.empty(); ++i) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++running;
        }
        try {
            workers.emplace_back(work);
        } catch (const std::exception &error) {
            std::lock_guard<std::mutex> lock(mutex);
            --running;
            cancel = true;
            startFailure = "cannot start thread " + std::to_string(i + 1) + " of " + std::to_string(wanted) + ": "
                           + error.what();
        }
    }
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
    if (!startFailure.empty())
        throw std::runtime_error(startFailure);
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
