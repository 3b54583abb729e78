// Resident memory of a MeasuringPile, its stationary pile laid and a few
// avalanches run:
//   build/bench/pile_memory [side [drops]]     (4096 and 1000 unless given)
// Prints the process's peak resident size (VmHWM) before the pile was made
// and after, and the difference per site.

#include "engine/measuringpile.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The peak resident size of this process so far, in KiB; -1 if unknown.
long peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    const int side = argc > 1 ? std::atoi(argv[1]) : 4096;
    const int drops = argc > 2 ? std::atoi(argv[2]) : 1000;
    const long before = peakResidentKiB();
    MeasuringPile pile(side);
    pile.layStationaryPile();
    std::int64_t topplings = 0;
    for (int k = 0; k < drops; ++k)
        topplings += pile.drop(1 << 30).size;
    const long after = peakResidentKiB();
    if (before < 0 || after < 0) {
        std::fprintf(stderr, "pile_memory: cannot read /proc/self/status\n");
        return 1;
    }
    const double sites = double(side) * side;
    std::printf("L = %d: %lld topplings; peak resident %ld KiB before, %ld KiB after: %.2f bytes per site\n", side,
                static_cast<long long>(topplings), before, after, double(after - before) * 1024 / sites);
    return 0;
}
