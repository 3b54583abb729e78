#pragma once

#include <atomic>
#include <csignal>

// Ctrl-C (SIGINT), SIGTERM and SIGHUP for the command-line tools. The first
// asks the work to stop (it polls interrupted()); the exit status is then
// 128 + that signal. Another at least a second later ends the program at
// once, after removing the temporary files being written. One sooner is the
// same Ctrl-C sent twice (to the process and to its group).
namespace Interrupt {

// Puts the handler in place, for good.
void install();
// Set by the first signal.
const std::atomic<bool> &interrupted();
// How many signals came so far (those a second apart).
int signalsSoFar();
// 128 + the first signal's number; 128 + SIGINT before any.
int exitStatus();
// The temporary files a second signal removes before the program ends: a
// null-terminated array of paths that outlives its use, or nullptr.
void setTemporaries(const char *const *paths);

// Holds the three signals back for its life on the calling thread, so that
// what it guards (a set of renames) happens whole; they come after it.
class Deferred
{
public:
    Deferred();
    ~Deferred();
    Deferred(const Deferred &) = delete;
    Deferred &operator=(const Deferred &) = delete;

private:
    sigset_t previous;
};

} // namespace Interrupt
