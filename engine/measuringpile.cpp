#include "measuringpile.h"

#include "stationarypile.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace {

// Every front of an avalanche lies on one colour of the checkerboard (see
// SandpileModel's sweep), and lists each site once: at most half the sites,
// rounded up. One slot more takes the write of a site not appended. Two
// fronts hold at least one int per site.
int frontCapacity(int sites) { return (sites + 1) / 2 + 1; }

} // namespace

MeasuringPile::MeasuringPile(int side, std::int64_t seed)
    : geometry(side)
    , source(seed)
    , heights(std::size_t(geometry.sites()), 0)
    , tags(std::size_t(geometry.sites()), 0)
    , fronts(2 * std::size_t(frontCapacity(geometry.sites())))
{
    for (int site = 0; site < sites(); ++site)
        if (geometry.neighbourCount(site) < Lattice::TOPPLING_HEIGHT)   // one grain to each neighbour
            tags[std::size_t(site)] = EDGE_SITE;
}

void MeasuringPile::layWindowPile()
{
    for (std::uint8_t &height : heights)
        height = std::uint8_t(int(source.uniformRandom() * 4.0));
    grains = 0;
}

void MeasuringPile::layStationaryPile()
{
    StationaryPile::lay(geometry, std::uint64_t(source.seed()), heights.data(), fronts.data());
    grains = 0;
}

void MeasuringPile::setHeights(const std::vector<int> &pile)
{
    if (pile.size() != heights.size())
        throw std::invalid_argument("a pile needs one height per site");
    if (!std::all_of(pile.begin(), pile.end(), [](int z) { return z >= 0 && z < Lattice::TOPPLING_HEIGHT; }))
        throw std::invalid_argument("a measuring pile starts stable: heights 0 to 3");
    std::copy(pile.begin(), pile.end(), heights.begin());   // the edge tags and stamps stay valid
    grains = 0;
}

MeasuringPile::Drop MeasuringPile::drop(std::int64_t limit)
{
    const int L = side();
    Drop done;
    while (done.grains < limit) {
        // The product is below L * L; the bound guards the rounding anyway.
        const int site = std::min(int(source.uniformRandom() * L * L), sites() - 1);
        ++done.grains;
        if (++heights[std::size_t(site)] == Lattice::TOPPLING_HEIGHT) {
            done.site = site;
            relax(site, done);
            break;
        }
    }
    grains += done.grains;
    return done;
}

// Heights stay within a byte: between drops the pile is stable (at most 3)
// and the dropped grain brings one site to 4. During a sweep the front's
// sites, all of one colour, topple once each and fall to 0..3, while a site
// of the other colour receives at most one grain from each of its four
// neighbours, 3 + 4 = 7 at most; the sites that reach 4 make up the next
// front, which topples them back to 0..3. So no height exceeds 7, no front
// site holds less than 4, and no site enters a front twice.
void MeasuringPile::relax(int site, Drop &drop)
{
    if (++mark > STAMP_BITS) {   // the stamps ran out: start afresh
        for (std::uint8_t &tag : tags)
            tag &= EDGE_SITE;
        mark = 1;
    }
    // Locals only: the byte stores below could change any member. Sites
    // are counted in pointer-sized integers, which index without widening.
    const std::ptrdiff_t L = side();
    const std::uint8_t *neighbours = geometry.neighbourTable();
    std::uint8_t *z = heights.data();
    std::uint8_t *tag = tags.data();
    int *current = fronts.data();
    int *next = current + fronts.size() / 2;
    const unsigned avalanche = mark;
    std::int64_t size = 0, area = 0, duration = 0;
    const auto give = [&](std::ptrdiff_t n, std::ptrdiff_t &nextCount) {
        next[nextCount] = int(n);
        nextCount += ++z[n] == Lattice::TOPPLING_HEIGHT;
    };
    current[0] = site;
    std::ptrdiff_t count = 1;
    while (count > 0) {
        std::ptrdiff_t nextCount = 0;
        for (std::ptrdiff_t k = 0; k < count; ++k) {
            const std::ptrdiff_t i = current[k];
            z[i] -= Lattice::TOPPLING_HEIGHT;
            const unsigned t = tag[i];
            area += (t & STAMP_BITS) != avalanche;
            tag[i] = std::uint8_t((t & EDGE_SITE) | avalanche);
            if (!(t & EDGE_SITE)) {   // the interior: almost every toppling
                give(i - L, nextCount);
                give(i + 1, nextCount);
                give(i + L, nextCount);
                give(i - 1, nextCount);
            } else {
                Lattice::forEachNeighbour(neighbours[i], int(L), int(i), [&](int n) { give(n, nextCount); });
            }
        }
        size += count;
        ++duration;
        std::swap(current, next);
        count = nextCount;
    }
    drop.size = size;
    drop.area = area;
    drop.duration = duration;
}
