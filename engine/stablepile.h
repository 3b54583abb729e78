#pragma once

#include "leastaction.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A stabilised pile on its whole lattice, and what its stabilisation did.
// The counts are exact integers.
struct StablePile {
    int width = 0;                           // sites a row
    int height = 0;                          // rows
    std::vector<std::uint8_t> heights;       // row by row, each 0..3
    std::vector<std::int64_t> odometer;      // topplings of each site, when asked for
    std::int64_t grains = 0;                 // grains the stable pile holds
    std::int64_t grainsLost = 0;             // grains given across the edge
    std::int64_t topplings = 0;
    std::int64_t centreTopplings = 0;        // of the site (width / 2, height / 2)
    std::array<std::int64_t, 4> sitesOfHeight{};
    std::int64_t toppledSites = 0;           // all of which burnt: the odometer is least
    int burningPasses = 0;
    int threads = 1;                         // the stabilisation ran on
    std::vector<std::string> checks;         // the exact checks it passed, one line each

    bool recurrent() const { return toppledSites == std::int64_t(width) * height; }

    // The whole lattice's sites [x0, x0 + width) x [y0, y0 + height) of a
    // stabilised pile, which held `grainsBefore` grains before it toppled
    // (every grain it held lies in the window).
    static StablePile unfold(const LeastAction &pile, const LeastAction::Work &work, std::int64_t grainsBefore,
                             int x0, int y0, int width, int height, bool withOdometer);
};
