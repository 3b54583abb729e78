#pragma once

#include "leastaction.h"
#include "pilelimits.h"
#include "resolutionladder.h"
#include "stablepile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The big piles, stabilised exactly by least action:
// - the centre pile: n grains dropped on one site of the unbounded lattice;
// - the identity of the L x L pile's group with open edges;
// - any pile of heights at least 0.
// The first two have the square's eight symmetries, so only a quadrant is
// stored, and so has any pile with mirror lines the part they cut off.
// Each odometer is guessed from the same pile at half the resolution (n / 4
// grains, side L / 2, the 2 x 2 block means), upscaled with the singular
// part taken out, so that little is left to topple. Every result is
// certified by the burning test whatever the guess.
class PileBuilder
{
public:
    static constexpr std::uint64_t MAX_CENTRE_GRAINS = PileLimits::MAX_CENTRE_GRAINS;
    static constexpr int MAX_SIDE = PileLimits::MAX_SIDE;   // of the identity and of any pile

    using Resolution = ResolutionLadder::Resolution;

    struct Settings {
        bool odometer = false;   // keep every site's topplings in the result
        int threads = 1;         // any number gives the same pile
        LeastAction::Stop stop;  // polled on the caller's thread; true stops the work with LeastAction::Stopped
        // After each resolution: levels done, levels in all.
        std::function<void(int, int)> progress;
        // After each resolution, if set.
        std::function<void(const Resolution &)> report;
    };

    // The memory each pile needs at its peak, in bytes.
    static std::size_t centreBytes(std::uint64_t grains, bool odometer);
    static std::size_t identityBytes(int side, bool odometer);
    // With the heights given, 8 bytes a site.
    static std::size_t pileBytes(int width, int height, bool odometer);

    // Check their settings and the memory first: throw PileLimits::Fault
    // (a std::invalid_argument) or PileLimits::OutOfMemory (a
    // std::bad_alloc), each with one line; any later allocation failure is
    // a std::bad_alloc too.
    static StablePile centre(std::uint64_t grains, const Settings &settings);
    static StablePile identity(int side, const Settings &settings);
    // Heights row by row, `width` a row.
    static StablePile stabilise(int width, int height, const std::vector<std::int64_t> &heights,
                                const Settings &settings);
};
