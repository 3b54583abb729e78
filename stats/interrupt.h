#pragma once

#include <atomic>
#include <csignal>

// Ctrl-C for sandpile-stats: the first asks the runs to stop at their next
// avalanche (they look at interrupted() between avalanches); a second one
// at least a second later ends the program at once. One sooner is the same
// Ctrl-C sent twice (to the process and to its group).
namespace Interrupt {

constexpr int EXIT_STATUS = 128 + SIGINT;

// Puts the handler in place, for good.
void install();
// Set by the first Ctrl-C.
const std::atomic<bool> &interrupted();

} // namespace Interrupt
