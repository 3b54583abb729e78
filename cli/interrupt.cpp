#include "interrupt.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<bool> flag{false};
std::atomic<int> firstSignal{SIGINT}, count{0};
// When the first signal came, in nanoseconds of the monotonic clock; 0: none.
std::atomic<std::int64_t> firstInterrupt{0};
std::atomic<const char *const *> temporaries{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::int64_t>::is_always_lock_free
                  && std::atomic<const char *const *>::is_always_lock_free,
              "the signal handler needs lock-free atomics");
constexpr std::int64_t SECOND_INTERRUPT_NS = 1000000000;

sigset_t handled()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : SIGNALS)
        sigaddset(&set, signal);
    return set;
}

// Only async-signal-safe calls: clock_gettime, unlink, _exit, lock-free
// atomics.
extern "C" void onSignal(int signal)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Never 0, which stands for no signal yet. Two threads can take the
    // same Ctrl-C sent twice at once: the first to store its time wins.
    const std::int64_t ns = std::max<std::int64_t>(1, std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec);
    std::int64_t first = 0;
    if (firstInterrupt.compare_exchange_strong(first, ns)) {
        firstSignal.store(signal);
        count.fetch_add(1);
        flag.store(true);
    } else if (ns - first >= SECOND_INTERRUPT_NS) {
        count.fetch_add(1);
        if (const char *const *paths = temporaries.load())
            for (; *paths; ++paths)
                unlink(*paths);
        _exit(Interrupt::exitStatus());
    }
}

} // namespace

namespace Interrupt {

void install()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;   // stays in place for a second signal
    action.sa_mask = handled();     // one handler at a time
    for (const int signal : SIGNALS)
        sigaction(signal, &action, nullptr);
}

const std::atomic<bool> &interrupted()
{
    return flag;
}

int signalsSoFar()
{
    return count.load();
}

int exitStatus()
{
    return 128 + firstSignal.load();
}

void setTemporaries(const char *const *paths)
{
    temporaries.store(paths);
}

Deferred::Deferred()
{
    const sigset_t set = handled();
    pthread_sigmask(SIG_BLOCK, &set, &previous);
}

Deferred::~Deferred()
{
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace Interrupt
