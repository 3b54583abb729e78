#include "pile.h"

#include <algorithm>
#include <stdexcept>
#include <string>

Pile::Pile(int side, std::int64_t seed, Start start)
    : sandpile(side, seed)
    , counter(sandpile.sites())
    , firstSeed(seed)
{
    sandpile.reinitialise(start == Start::Random ? SandpileModel::RunFree : SandpileModel::Fractalsand0);
}

void Pile::requireStable(const char *action) const
{
    if (sandpile.avalancheInProgress())
        throw std::logic_error(std::string("cannot ") + action
                               + " while an avalanche is in progress: sweep() until it ends");
}

Avalanche Pile::dropOnce(std::int64_t limit)
{
    const int L = sandpile.side();
    const int N = sandpile.sites();
    Avalanche avalanche;
    SandpileObserver none;
    // SandpileModel::dropAtRandom's draws, grain by grain so that the limit
    // can stop them: the same random sites, and the same counted grains.
    while (avalanche.grains < limit && !sandpile.avalancheInProgress()) {
        const int site = std::min(int(sandpile.uniformRandom() * L * L), N - 1);
        sandpile.selectSite(site);
        sandpile.dropAtSelectedSite(none);
        ++avalanche.grains;
        avalanche.site = site;
    }
    if (!sandpile.avalancheInProgress()) {
        avalanche.site = -1;
        return avalanche;
    }
    // The counter relaxes as a local (its stamps moved, not copied): the
    // compiler then knows the pile's writes leave its mark alone, and keeps
    // the mark in a register instead of reloading it after every toppling.
    AreaCounter local(std::move(counter));
    local.begin();
    while (sandpile.avalancheInProgress()) {
        sandpile.relax(local);
        ++avalanche.duration;
    }
    avalanche.size = sandpile.avalancheSize();
    avalanche.area = local.area;
    counter = std::move(local);
    return avalanche;
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
