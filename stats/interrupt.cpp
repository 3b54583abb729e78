#include "interrupt.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <unistd.h>

namespace {

std::atomic<bool> flag{false};
// When the first Ctrl-C came, in nanoseconds of the monotonic clock; 0: none.
std::atomic<std::int64_t> firstInterrupt{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::int64_t>::is_always_lock_free,
              "the signal handler needs lock-free atomics");
constexpr std::int64_t SECOND_INTERRUPT_NS = 1000000000;

// Only async-signal-safe calls: clock_gettime, _exit, lock-free atomics.
extern "C" void onInterrupt(int)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Never 0, which stands for no Ctrl-C yet. Two threads can take the
    // same Ctrl-C sent twice at once: the first to store its time wins.
    const std::int64_t ns = std::max<std::int64_t>(1, std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec);
    std::int64_t first = 0;
    if (firstInterrupt.compare_exchange_strong(first, ns))
        flag.store(true);
    else if (ns - first >= SECOND_INTERRUPT_NS)
        _exit(Interrupt::EXIT_STATUS);
}

} // namespace

namespace Interrupt {

void install()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;   // stays in place for a second Ctrl-C
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

const std::atomic<bool> &interrupted()
{
    return flag;
}

} // namespace Interrupt
