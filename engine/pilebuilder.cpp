#include "pilebuilder.h"
#include "potentialkernel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>

namespace {

// Below these the piles topple from nothing, in no time.
constexpr std::uint64_t BASE_GRAINS = 1 << 12;
constexpr int BASE_SIDE = 32;
// How the identity's guesses overshoot the least odometer
// from one resolution to the next (measured): the excess grows about 1.5
// times, unsteadily, up to about L^2 / 3000, so their margin has a floor.
constexpr double MARGIN_GROWTH = 1.5;
constexpr double MARGIN_FLOOR = 1.0 / 20000;
// Any pile's guess may lie low (a random pile's) or high (an all-k pile's,
// whose excess grows two to three times a resolution): its margin is only
// where the last resolution's overshot, grown.
constexpr double ANY_MARGIN_GROWTH = 3;
// The centre pile's guess is too high by a smooth bump that grows 2.6 to 3.2
// times from one resolution to the next, site by site up to 3.6 times near
// the centre (measured). Its margin is what the last resolution's overshot,
// grown 3.5 times: the few sites near the centre it leaves too high cost
// less than a margin that covers them would cost everywhere else.
constexpr double CENTRE_MARGIN_GROWTH = 3.5;

// Up to these the centre pile's counts fit in 32 bits: the centre topples
// about 1.7 n times at 2^30 grains, and 2^31 times from about 1.25 x 10^9.
constexpr std::uint64_t NARROW_CENTRE_GRAINS = std::uint64_t(1) << 30;

// The stored sites from the centre that n grains need: the pile's radius is
// about sqrt(n / (2.1 pi)), its mean height about 2.1. A quadrant too small
// is found out (a site on its edge toppled) and grown.
int centreSide(std::uint64_t grains)
{
    return int(std::ceil(std::sqrt(double(grains) / 6.0))) + 4;
}

using Solved = ResolutionLadder::Solved;
using Upscaled = ResolutionLadder::Upscaled;

// The ladder of a pile's `levels` resolutions, the finest `rows` rows high.
ResolutionLadder ladderOf(const PileBuilder::Settings &settings, int levels, int rows)
{
    return ResolutionLadder(settings.threads, settings.stop, {settings.progress, settings.report}, levels, rows);
}

// n grains on the origin: the odometer is n a / 4 (a the potential kernel)
// plus a smooth part, which scales as 4 u(x / 2) from n / 4 grains.
Solved centreQuadrant(std::uint64_t grains, const PotentialKernel &kernel, ResolutionLadder &ladder)
{
    std::unique_ptr<MultiscaleGuess::Field> coarse;
    if (grains >= BASE_GRAINS) {
        const std::uint64_t quarter = grains / 4;
        const Solved solved = centreQuadrant(quarter, kernel, ladder);
        const LeastAction &pile = *solved.pile;
        coarse = std::make_unique<MultiscaleGuess::Field>(pile.lattice());
        const int side = pile.lattice().width();
        // Beyond the quadrant the odometer is 0: the ring holds the kernel alone.
        ladder.team.forEachBlock(side + 1, [&](std::int64_t first, std::int64_t end) {
            for (int y = int(first); y < int(end); ++y)
                for (int x = 0; x <= side; ++x)
                    coarse->at(x, y) = (x < side && y < side ? double(pile.odometer(x, y)) : 0)
                                       + double(quarter) / 4 * kernel(x, y);
        });
    }
    for (int side = centreSide(grains);; side += side / 8 + 1) {
        auto pile = std::make_unique<LeastAction>(FoldedLattice(side, side, Fold::ThroughSites, Fold::ThroughSites));
        if (grains > NARROW_CENTRE_GRAINS)
            pile->widen();   // now, before it holds anything, not later beside a copy
        pile->setHeight(0, 0, std::int64_t(grains));
        Solved solved;
        if (coarse) {
            // a grows as (2/pi) ln r: halving r lowers n a / 4 by n ln 2 / (2 pi).
            const double halving = double(grains / 4) * std::numbers::ln2 * 2 / std::numbers::pi;
            const MultiscaleGuess upscaled(*coarse, pile->lattice(), 2, 2, 4);
            const Upscaled guess{upscaled, [&](int x, int y, double smooth) {
                                     return smooth + halving - double(grains) / 4 * kernel(x, y);
                                 }};
            solved = ladder.solve(std::move(pile), guess, {0, CENTRE_MARGIN_GROWTH});
        } else {
            solved = ladder.solve(std::move(pile));
        }
        // No site on the quadrant's edge toppled: no grain left it.
        bool held = true;
        for (int x = 0; x < side; ++x)
            held = held && solved.pile->odometer(x, side - 1) == 0 && solved.pile->odometer(side - 1, x) == 0;
        if (held)
            return solved;
    }
}

// The identity: t = -Lap w with w(i, j) = i (L + 1 - i) + j (L + 1 - j) is
// 4 inside and more at the edges, at least 3 everywhere and equivalent to the
// empty pile, so its stabilisation is the identity. Its odometer is w plus a
// smooth part psi <= 0, which scales as psi(x r) / r^2 from the side L / 2,
// r = (L / 2 + 1) / (L + 1), the ratio of the two lattices between their sinks.
Solved identityQuadrant(int L, ResolutionLadder &ladder)
{
    const auto parabola = [](std::int64_t side, std::int64_t i) { return i * (side + 1 - i); };
    const Fold fold = L % 2 ? Fold::ThroughSites : Fold::BetweenSites;
    const FoldedLattice lattice((L + 1) / 2, (L + 1) / 2, fold, fold);
    const auto w = [&](const FoldedLattice &on, int side, int x, int y) {
        return parabola(side, on.wholeX(x) + 1) + parabola(side, on.wholeY(y) + 1);
    };
    std::unique_ptr<MultiscaleGuess::Field> coarse;
    const int coarseL = L / 2;
    if (L >= BASE_SIDE) {
        const Solved solved = identityQuadrant(coarseL, ladder);
        const LeastAction &pile = *solved.pile;
        coarse = std::make_unique<MultiscaleGuess::Field>(pile.lattice());   // psi is 0 on the sink: the ring
        for (int y = 0; y < pile.lattice().height(); ++y)
            for (int x = 0; x < pile.lattice().width(); ++x)
                coarse->at(x, y) = double(pile.odometer(x, y) - w(pile.lattice(), coarseL, x, y));
    }
    auto pile = std::make_unique<LeastAction>(lattice);
    for (int y = 0; y < lattice.height(); ++y)
        for (int x = 0; x < lattice.width(); ++x) {
            const std::int64_t i = lattice.wholeX(x) + 1, j = lattice.wholeY(y) + 1;
            pile->setHeight(x, y, 4 + ((i == 1) + (i == L)) * parabola(L, j) + ((j == 1) + (j == L)) * parabola(L, i));
        }
    if (!coarse)
        return ladder.solve(std::move(pile));
    const double scale = double(L + 1) / (coarseL + 1);
    const MultiscaleGuess upscaled(*coarse, lattice, scale, scale, scale * scale);
    const Upscaled guess{upscaled, [&](int x, int y, double smooth) {
                             const double parabolas = double(w(lattice, L, x, y));
                             return std::min(parabolas, parabolas + smooth);
                         }};
    return ladder.solve(std::move(pile), guess, {MARGIN_FLOOR * double(L) * L, MARGIN_GROWTH});
}

// One axis of the 2 x 2 blocks: the stored sites a coarse stored site
// stands for. Blocks start at the fold, so that the coarse pile has the
// fine one's symmetry: a fold through sites keeps its line of sites alone.
struct Blocks {
    int stored = 0;   // coarse stored sites
    Fold fold = Fold::Open;
    int first(int coarse) const { return fold == Fold::ThroughSites ? std::max(0, 2 * coarse - 1) : 2 * coarse; }
    int end(int coarse, int fine) const { return std::min(fine, fold == Fold::ThroughSites ? 2 * coarse + 1 : 2 * coarse + 2); }

    static Blocks of(int fine, Fold fold)
    {
        return {fold == Fold::ThroughSites ? 1 + fine / 2 : (fine + 1) / 2, fold};
    }
};

// Any pile, stored on a lattice that may be folded: its odometer scales as
// u(x r) / r^2 from the pile of its 2 x 2 block means, r the ratio of the
// two lattices between their sinks. The block means are rounded with their
// remainders carried along each row, so that the coarse pile holds as many
// grains a region as the fine one.
Solved anyPile(const FoldedLattice &lattice, const std::vector<std::int64_t> &heights, ResolutionLadder &ladder)
{
    const int width = lattice.width(), height = lattice.height();
    auto pile = std::make_unique<LeastAction>(lattice);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pile->setHeight(x, y, heights[std::size_t(y) * std::size_t(width) + std::size_t(x)]);
    if (std::min(lattice.wholeWidth(), lattice.wholeHeight()) < 2 * BASE_SIDE)
        return ladder.solve(std::move(pile));
    const Blocks columns = Blocks::of(width, lattice.foldX()), rows = Blocks::of(height, lattice.foldY());
    std::vector<std::int64_t> means(std::size_t(columns.stored) * std::size_t(rows.stored));
    for (int Y = 0; Y < rows.stored; ++Y) {
        double carried = 0;
        for (int X = 0; X < columns.stored; ++X) {
            double sum = 0;
            int sites = 0;
            for (int y = rows.first(Y); y < rows.end(Y, height); ++y)
                for (int x = columns.first(X); x < columns.end(X, width); ++x, ++sites)
                    sum += double(heights[std::size_t(y) * std::size_t(width) + std::size_t(x)]);
            const double mean = sum / sites + carried;
            const std::int64_t rounded = std::max<std::int64_t>(0, std::llround(mean));
            carried = mean - double(rounded);
            means[std::size_t(Y) * std::size_t(columns.stored) + std::size_t(X)] = rounded;
        }
    }
    std::unique_ptr<MultiscaleGuess::Field> coarse;
    {
        const Solved solved
            = anyPile(FoldedLattice(columns.stored, rows.stored, lattice.foldX(), lattice.foldY()), means, ladder);
        coarse = std::make_unique<MultiscaleGuess::Field>(solved.pile->lattice());   // 0 on the sink: the ring
        for (int y = 0; y < rows.stored; ++y)
            for (int x = 0; x < columns.stored; ++x)
                coarse->at(x, y) = double(solved.pile->odometer(x, y));
    }
    const double scaleX = double(lattice.wholeWidth() + 1) / (coarse->lattice().wholeWidth() + 1);
    const double scaleY = double(lattice.wholeHeight() + 1) / (coarse->lattice().wholeHeight() + 1);
    const MultiscaleGuess upscaled(*coarse, lattice, scaleX, scaleY, scaleX * scaleY);
    const Upscaled guess{upscaled, [](int, int, double smooth) { return smooth; }};
    return ladder.solve(std::move(pile), guess, {0, ANY_MARGIN_GROWTH});
}

// How a pile folds along an axis: onto its mirror line where it has one.
Fold foldOf(int side, bool mirrored)
{
    return !mirrored || side < 2 ? Fold::Open : side % 2 ? Fold::ThroughSites : Fold::BetweenSites;
}

int levelsOf(std::uint64_t grains)
{
    int levels = 1;
    for (; grains >= BASE_GRAINS; grains /= 4)
        ++levels;
    return levels;
}

int levelsOfSide(int side)
{
    int levels = 1;
    for (; side >= BASE_SIDE; side /= 2)
        ++levels;
    return levels;
}

// As anyPile() recurses: on the coarse lattice of the block means.
int levelsOfPile(const FoldedLattice &lattice)
{
    if (std::min(lattice.wholeWidth(), lattice.wholeHeight()) < 2 * BASE_SIDE)
        return 1;
    const Blocks columns = Blocks::of(lattice.width(), lattice.foldX()), rows = Blocks::of(lattice.height(), lattice.foldY());
    return 1 + levelsOfPile(FoldedLattice(columns.stored, rows.stored, lattice.foldX(), lattice.foldY()));
}

// The bytes a stabilisation on `lattice` needs, with its result on `whole` sites.
std::size_t bytesOf(const FoldedLattice &lattice, std::size_t whole, bool odometer, bool wide = false)
{
    const std::size_t sites = std::size_t(lattice.width()) * lattice.height();
    return LeastAction::bytesFor(lattice, wide) + lattice.residentBytes(1)   // the pile, the burning test
           + sites * sizeof(std::uint32_t)                              // the stack, at its fullest
           + whole * (1 + (odometer ? sizeof(std::int64_t) : 0));       // the result
}

} // namespace

std::size_t PileBuilder::centreBytes(std::uint64_t grains, bool odometer)
{
    const int side = centreSide(grains);
    // Two coarse fields are held while the finest resolution is solved: the
    // odometer its guess is read from, and the excess its margin is.
    const std::size_t fields = 2 * std::size_t(side / 2 + 2) * (side / 2 + 2) * sizeof(double);
    return bytesOf(FoldedLattice(side, side, Fold::ThroughSites, Fold::ThroughSites),
                   std::size_t(2 * side - 1) * (2 * side - 1), odometer, grains > NARROW_CENTRE_GRAINS)
           + fields;
}

std::size_t PileBuilder::identityBytes(int side, bool odometer)
{
    const int stored = (side + 1) / 2;
    const std::size_t field = std::size_t(stored / 2 + 2) * (stored / 2 + 2) * sizeof(double);
    return bytesOf(FoldedLattice(stored, stored), std::size_t(side) * side, odometer) + field;
}

std::size_t PileBuilder::pileBytes(int width, int height, bool odometer)
{
    const std::size_t sites = std::size_t(width) * height;
    return bytesOf(FoldedLattice(width, height), sites, odometer) + sites * sizeof(std::int64_t);
}

StablePile PileBuilder::centre(std::uint64_t grains, const Settings &settings)
{
    PileLimits::checkCentre(grains);
    PileLimits::checkMemory(centreBytes(grains, settings.odometer));
    const PotentialKernel kernel;
    ResolutionLadder ladder = ladderOf(settings, levelsOf(grains), centreSide(grains));
    const Solved solved = centreQuadrant(grains, kernel, ladder);
    const LeastAction &pile = *solved.pile;
    // The smallest centred square that holds every grain.
    const int side = pile.lattice().width();
    int reach = 0;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            if (pile.height(x, y) > 0)
                reach = std::max({reach, x, y});
    const int centre = side - 1;
    StablePile stable = StablePile::unfold(pile, solved.work, std::int64_t(grains), centre - reach, centre - reach,
                                           2 * reach + 1, 2 * reach + 1, settings.odometer);
    stable.threads = ladder.team.size();
    // Lap |x|^2 = 4: the topplings are a quarter of the grains' second moment.
    std::int64_t moment = 0;
    for (int y = 0; y < stable.height; ++y)
        for (int x = 0; x < stable.width; ++x)
            moment += std::int64_t(stable.heights[std::size_t(y) * stable.width + x])
                      * (std::int64_t(x - reach) * (x - reach) + std::int64_t(y - reach) * (y - reach));
    if (stable.grainsLost != 0 || moment != 4 * stable.topplings)
        throw std::logic_error("the centre pile failed its exact checks");
    stable.checks.push_back("no grain lost; 4 x topplings = sum of |x|^2 z(x) = " + std::to_string(moment));
    return stable;
}

StablePile PileBuilder::identity(int side, const Settings &settings)
{
    PileLimits::checkIdentity(side);
    PileLimits::checkMemory(identityBytes(side, settings.odometer));
    ResolutionLadder ladder = ladderOf(settings, levelsOfSide(side), (side + 1) / 2);
    const Solved solved = identityQuadrant(side, ladder);
    // The starting pile t, counted on the whole lattice: 4 a site and the
    // edge's extra, sum over the four edges of sum_j j (L + 1 - j).
    const std::int64_t L = side;
    const std::int64_t edge = L * (L + 1) * (L + 2) / 6;
    StablePile stable = StablePile::unfold(*solved.pile, solved.work, 4 * L * L + 4 * edge, 0, 0, side, side,
                                           settings.odometer);
    stable.threads = ladder.team.size();
    // Every site of t toppled, and all burnt: the identity is recurrent.
    if (!stable.recurrent())
        throw std::logic_error("the identity failed its exact check");
    stable.checks.push_back(side == 1 ? std::string("recurrent: its one site burns")
                                      : "recurrent: all " + std::to_string(stable.toppledSites) + " sites burn");
    return stable;
}

StablePile PileBuilder::stabilise(int width, int height, const std::vector<std::int64_t> &heights,
                                  const Settings &settings)
{
    PileLimits::checkPile(width, height, heights);
    PileLimits::checkMemory(pileBytes(width, height, settings.odometer));
    // A pile with mirror lines is stabilised on the part they cut off.
    const auto at = [&](int x, int y) { return heights[std::size_t(y) * std::size_t(width) + std::size_t(x)]; };
    bool acrossColumns = true, acrossRows = true;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            acrossColumns = acrossColumns && at(x, y) == at(width - 1 - x, y);
            acrossRows = acrossRows && at(x, y) == at(x, height - 1 - y);
        }
    const FoldedLattice lattice = FoldedLattice::folding(width, height, foldOf(width, acrossColumns),
                                                         foldOf(height, acrossRows));
    std::vector<std::int64_t> stored(std::size_t(lattice.width()) * std::size_t(lattice.height()));
    std::int64_t grains = 0;
    for (int y = 0; y < lattice.height(); ++y)
        for (int x = 0; x < lattice.width(); ++x)
            stored[std::size_t(y) * std::size_t(lattice.width()) + std::size_t(x)] = at(lattice.wholeX(x), lattice.wholeY(y));
    for (const std::int64_t z : heights)
        grains += z;
    ResolutionLadder ladder = ladderOf(settings, levelsOfPile(lattice), lattice.height());
    const Solved solved = anyPile(lattice, stored, ladder);
    StablePile stable = StablePile::unfold(*solved.pile, solved.work, grains, 0, 0, width, height, settings.odometer);
    stable.threads = ladder.team.size();
    return stable;
}
