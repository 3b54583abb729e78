#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

// The threads a big stabilisation runs on, started once and given one task
// after another. Every task runs on all members at once; the caller's
// thread asks the stop function as each task starts and every poll interval
// while it runs, so that a stop is seen wherever the work lies, and is the
// only thread that asks it (a front-end's stop may need its own thread, as
// Python's does). Tasks poll abandoned() to end early.
//
// A member's exception (std::bad_alloc included), or the stop function's,
// abandons the task and is rethrown on the caller's thread once every
// member has returned.
class ThreadTeam
{
public:
    // Polled on the caller's thread; true stops the work with Stopped.
    using Stop = std::function<bool()>;
    struct Stopped : std::runtime_error {
        Stopped() : std::runtime_error("stopped") {}
    };

    // `members` below 1 counts as 1.
    explicit ThreadTeam(int members, Stop stop = {});
    ~ThreadTeam();
    ThreadTeam(const ThreadTeam &) = delete;
    ThreadTeam &operator=(const ThreadTeam &) = delete;

    int size() const { return int(threads.size()); }

    // Runs task(member) for member 0..size() - 1, each on its own thread,
    // and returns when all have. Throws Stopped if the stop function said
    // so, or what a member threw.
    void run(const std::function<void(int member)> &task);
    // Runs body(first, end) over [0, count) in one contiguous block a member.
    void forEachBlock(std::int64_t count, const std::function<void(std::int64_t first, std::int64_t end)> &body);

    // True once the task should end early: the stop function said so, or a
    // member threw. Long tasks poll it.
    bool abandoned() const { return abandon.load(std::memory_order_relaxed); }
    // Records what a member threw, and abandons the task; for a member that
    // must act once the team knows (wake members waiting on it).
    void fail(std::exception_ptr error) noexcept;

private:
    void serve(int member);
    void joinAll();
    // Asks the stop function, with the lock held on entry and exit.
    void askStop(std::unique_lock<std::mutex> &lock);

    std::vector<std::thread> threads;
    Stop stop;
    std::mutex mutex;
    std::condition_variable wake, finished;
    const std::function<void(int)> *task = nullptr;
    std::uint64_t generation = 0;   // tasks given so far
    int running = 0;                // members still on the current task
    bool quit = false;
    std::atomic<bool> abandon{false};
    bool stopped = false;
    std::exception_ptr error;
    std::chrono::steady_clock::time_point lastAsked;   // the stop function, across tasks
};
