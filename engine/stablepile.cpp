#include "stablepile.h"

#include <stdexcept>

StablePile StablePile::unfold(const LeastAction &pile, const LeastAction::Work &work, std::int64_t grainsBefore,
                              int x0, int y0, int width, int height, bool withOdometer)
{
    const FoldedLattice &lattice = pile.lattice();
    StablePile stable;
    stable.width = width;
    stable.height = height;
    stable.heights.resize(std::size_t(width) * height);
    if (withOdometer)
        stable.odometer.resize(stable.heights.size());
    std::vector<int> columns(width);
    for (int x = 0; x < width; ++x)
        columns[x] = lattice.foldedX(x0 + x);
    std::size_t at = 0;
    for (int y = 0; y < height; ++y) {
        const int row = lattice.foldedY(y0 + y);
        for (int x = 0; x < width; ++x, ++at) {
            const std::int64_t z = pile.height(columns[x], row), topplings = pile.odometer(columns[x], row);
            if (z < 0 || z > 3)
                throw std::logic_error("an unstable pile cannot be unfolded");
            stable.heights[at] = std::uint8_t(z);
            ++stable.sitesOfHeight[z];
            stable.grains += z;
            stable.topplings += topplings;
            if (withOdometer)
                stable.odometer[at] = topplings;
        }
    }
    stable.grainsLost = grainsBefore - stable.grains;
    stable.centreTopplings = pile.odometer(lattice.foldedX(x0 + width / 2), lattice.foldedY(y0 + height / 2));
    // The burning test ran on the stored sites: count their images.
    stable.toppledSites = 0;
    for (int y = 0; y < lattice.height(); ++y)
        for (int x = 0; x < lattice.width(); ++x)
            if (pile.odometer(x, y) > 0)
                stable.toppledSites += lattice.images(x, y);
    stable.burningPasses = work.burningPasses;
    const std::string burnt = stable.toppledSites == 0   ? "no site toppled"
                              : stable.toppledSites == 1 ? "the 1 toppled site burns"
                                                         : "all " + std::to_string(stable.toppledSites) + " toppled sites burn";
    stable.checks.push_back("stable, and the least odometer: " + burnt);
    return stable;
}
