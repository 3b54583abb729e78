#include "threadteam.h"

#include <algorithm>
#include <chrono>

namespace {

// How often the caller's thread asks the stop function during a task.
constexpr std::chrono::milliseconds STOP_POLL{20};

} // namespace

ThreadTeam::ThreadTeam(int members, Stop stop) : stop(std::move(stop))
{
    members = std::max(1, members);
    threads.reserve(std::size_t(members));
    try {
        for (int member = 0; member < members; ++member)
            threads.emplace_back([this, member] { serve(member); });
    } catch (...) {
        joinAll();   // those started
        throw;
    }
}

ThreadTeam::~ThreadTeam()
{
    joinAll();
}

void ThreadTeam::joinAll()
{
    {
        const std::lock_guard lock(mutex);
        quit = true;
    }
    wake.notify_all();
    for (std::thread &thread : threads)
        if (thread.joinable())
            thread.join();
}

void ThreadTeam::serve(int member)
{
    std::uint64_t seen = 0;
    for (;;) {
        const std::function<void(int)> *current;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [&] { return quit || generation != seen; });
            if (quit)
                return;
            seen = generation;
            current = task;
        }
        try {
            (*current)(member);
        } catch (...) {
            fail(std::current_exception());
        }
        {
            const std::lock_guard lock(mutex);
            --running;
        }
        finished.notify_all();
    }
}

void ThreadTeam::fail(std::exception_ptr thrown) noexcept
{
    {
        const std::lock_guard lock(mutex);
        if (!error)
            error = thrown;
    }
    abandon = true;
}

void ThreadTeam::run(const std::function<void(int member)> &body)
{
    std::unique_lock lock(mutex);
    task = &body;
    running = size();
    abandon = false;
    stopped = false;
    error = nullptr;
    ++generation;
    wake.notify_all();
    if (std::chrono::steady_clock::now() - lastAsked >= STOP_POLL)
        askStop(lock);
    while (!finished.wait_for(lock, STOP_POLL, [&] { return running == 0; }))
        askStop(lock);
    task = nullptr;
    if (error)
        std::rethrow_exception(error);
    if (stopped)
        throw Stopped();
}

void ThreadTeam::askStop(std::unique_lock<std::mutex> &lock)
{
    if (stopped || !stop)
        return;
    lastAsked = std::chrono::steady_clock::now();
    lock.unlock();
    bool stopNow = false;
    std::exception_ptr thrown;
    try {
        stopNow = stop();
    } catch (...) {
        thrown = std::current_exception();
    }
    lock.lock();
    if (thrown && !error)
        error = thrown;
    if (stopNow || thrown) {
        stopped = stopNow;
        abandon = true;
    }
}

void ThreadTeam::forEachBlock(std::int64_t count, const std::function<void(std::int64_t, std::int64_t)> &body)
{
    const std::int64_t members = size();
    run([&](int member) { body(count * member / members, count * (member + 1) / members); });
}
