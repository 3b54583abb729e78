#include "pile.h"

#include <stdexcept>
#include <string>

Pile::Pile(int side, std::int64_t seed, Start start)
    : sandpile(side, seed)
    , measuring(side, seed)
    , firstSeed(seed)
{
    switch (start) {
    case Start::Window: sandpile.reinitialise(SandpileModel::RunFree); break;
    case Start::Stationary: sandpile.layStationaryPile(); break;
    case Start::Empty: sandpile.reinitialise(SandpileModel::Fractalsand0); break;
    }
}

void Pile::requireStable(const char *action) const
{
    if (sandpile.avalancheInProgress())
        throw std::logic_error(std::string("cannot ") + action
                               + " while an avalanche is in progress: sweep() until it ends");
}

void Pile::lendPile()
{
    measuring.setHeights(sandpile.z());   // stable: drop() requires it
    measuring.random().setSeed(sandpile.random().seed());
}

void Pile::takePileBack()
{
    // Site by site: the model keeps its height vector, which the NumPy view
    // of the heights points into.
    const std::vector<std::uint8_t> &z = measuring.z();
    for (int site = 0; site < sandpile.sites(); ++site)
        if (sandpile.z()[std::size_t(site)] != z[std::size_t(site)])
            sandpile.setHeight(site, z[std::size_t(site)]);
    sandpile.random().setSeed(measuring.random().seed());
}

Avalanche Pile::dropOnce(std::int64_t limit)
{
    const MeasuringPile::Drop drop = measuring.drop(limit);
    droppedGrains += drop.grains;
    if (drop.site >= 0) {
        lastDropped = drop.size;
        largestDropped = std::max(largestDropped, drop.size);
    }
    return {drop.site, drop.grains, drop.size, drop.area, drop.duration};
}

bool Pile::add(std::int64_t row, std::int64_t column)
{
    const int L = sandpile.side();
    if (row < 0 || row >= L || column < 0 || column >= L)
        throw std::out_of_range("site (" + std::to_string(row) + ", " + std::to_string(column)
                                + ") is outside the pile: rows and columns run from 0 to " + std::to_string(L - 1));
    requireStable("add a grain");
    SandpileObserver none;
    sandpile.selectSite(int(row * L + column));
    sandpile.dropAtSelectedSite(none);
    if (sandpile.avalancheInProgress())
        lastDropped.reset();
    return sandpile.avalancheInProgress();
}

std::int64_t Pile::sweep()
{
    if (!sandpile.avalancheInProgress())
        throw std::logic_error("no avalanche in progress: add() grains until a site reaches 4 first");
    const std::int64_t before = sandpile.avalancheSize();
    sandpile.relax();
    return sandpile.avalancheSize() - before;
}

std::vector<std::uint8_t> Pile::burn()
{
    requireStable("run the burning test");
    sandpile.burn();
    std::vector<std::uint8_t> marks(std::size_t(sandpile.sites()));
    for (int site = 0; site < sandpile.sites(); ++site)
        marks[std::size_t(site)] = sandpile.isBurnt(site);
    return marks;
}
