#include "pilebuilder.h"
#include "potentialkernel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <thread>

namespace {

// Below these the piles topple from nothing, in no time.
constexpr std::uint64_t BASE_GRAINS = 1 << 12;
constexpr int BASE_SIDE = 32;
// How the guesses' excess over the least odometer grows from one resolution
// to the next (measured): the centre pile's three to fourfold, with the area;
// the identity's less and unsteadily, up to about L^2 / 3000, so its margin
// has a floor.
constexpr double CENTRE_GROWTH = 4;
constexpr double IDENTITY_GROWTH = 1.5;
constexpr double IDENTITY_MARGIN = 1.0 / 20000;

// The stored sites from the centre that n grains need: the pile's radius is
// about sqrt(n / (2.1 pi)), its mean height about 2.1. A quadrant too small
// is found out (a site on its edge toppled) and grown.
int centreSide(std::uint64_t grains)
{
    return int(std::ceil(std::sqrt(double(grains) / 6.0))) + 4;
}

// Runs body(first, end) over [0, count) in one contiguous block a thread.
template <typename Body>
void parallelFor(int count, int threads, Body body)
{
    threads = std::clamp(threads, 1, std::max(count, 1));
    if (threads == 1)
        return body(0, count);
    std::vector<std::jthread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] { body(int(std::int64_t(count) * t / threads), int(std::int64_t(count) * (t + 1) / threads)); });
}

// A coarse pile's smooth part on its stored sites, with one more column and
// row beyond its lattice.
struct Field {
    int width = 0, height = 0;
    std::vector<double> values;
    double at(int x, int y) const { return values[std::size_t(y) * width + x]; }
};

// Where a fine site's coordinate falls on the coarse field: between `low`
// and `high`, `t` of the way; low < 0 beyond it.
struct Span {
    int low = -1, high = -1;
    double t = 0;
};

double interpolate(const Field &field, const Span &x, const Span &y)
{
    const double near = field.at(x.low, y.low) * (1 - x.t) + field.at(x.high, y.low) * x.t;
    const double far = field.at(x.low, y.high) * (1 - x.t) + field.at(x.high, y.high) * x.t;
    return near * (1 - y.t) + far * y.t;
}

// A coarse pile's field upscaled into a guess of a finer pile's odometer:
// guess(x, y, scale * the field there) on every stored site within it.
template <typename Guess>
struct Upscaling {
    const Field &field;
    const std::vector<Span> &spans;
    double scale;
    Guess guess;

    template <typename Visit>
    void forEachSite(int side, int threads, Visit visit) const
    {
        parallelFor(side, threads, [&](int first, int end) {
            for (int y = first; y < end; ++y)
                for (int x = 0; x < side; ++x)
                    if (spans[x].low >= 0 && spans[y].low >= 0)
                        visit(y - first, x, y, guess(x, y, scale * interpolate(field, spans[x], spans[y])));
        });
    }
    // The guess lowered by margin(x, y) and rounded down, at least 0.
    template <typename Margin>
    void lay(LeastAction &pile, int threads, Margin margin) const
    {
        forEachSite(pile.lattice().width(), threads, [&](int, int x, int y, double value) {
            value -= margin(spans[x], spans[y]);
            pile.odometer(x, y) = value > 0 ? std::int64_t(value) : 0;
        });
    }
    // How far the guess lay above the least odometer, site by site (0 where
    // below), laid out as the field of the next resolution.
    Field overestimate(const LeastAction &pile, int threads) const
    {
        const int side = pile.lattice().width();
        Field excess{side + 1, side + 1, std::vector<double>(std::size_t(side + 1) * (side + 1), 0.0)};
        forEachSite(side, threads, [&](int, int x, int y, double value) {
            excess.values[std::size_t(y) * (side + 1) + x] = std::max(0.0, value - double(pile.odometer(x, y)));
        });
        return excess;
    }
};

struct Solved {
    std::unique_ptr<LeastAction> pile;
    LeastAction::Work work;
};

class Levels
{
public:
    Levels(const PileBuilder::Settings &settings, int levels) : settings(settings), levels(levels) {}
    const PileBuilder::Settings &settings;

    Solved solve(std::unique_ptr<LeastAction> pile)
    {
        pile->applyOdometer();
        const LeastAction::Work work = pile->stabilise(settings.stop, settings.threads);
        return {std::move(pile), work};
    }
    // A guess too high costs a burning pass per toppling too many, one too
    // low only the topplings it misses. The upscaled guesses are off by a
    // smooth bump that grows with the pile's area, so each resolution's guess
    // is lowered where the last one's was too high, by that excess grown.
    // The margin is at least `least`; the excess grows about `growth` times
    // from one resolution to the next.
    template <typename Guess>
    Solved solve(std::unique_ptr<LeastAction> pile, const Upscaling<Guess> &upscaling, double least, double growth)
    {
        upscaling.lay(*pile, settings.threads, [&](const Span &x, const Span &y) {
            const bool known = lastExcess.width == upscaling.field.width;
            return std::max(least, known ? growth * interpolate(lastExcess, x, y) : 0.0) + 1;
        });
        Solved solved = solve(std::move(pile));
        lastExcess = upscaling.overestimate(*solved.pile, settings.threads);
        return solved;
    }
    void done()
    {
        if (settings.progress)
            settings.progress(++finished, levels);
    }

private:
    int levels;
    int finished = 0;
    Field lastExcess;   // of the last resolution, in its field's layout
};

// n grains on the origin: the odometer is n a / 4 (a the potential kernel)
// plus a smooth part, which scales as 4 u(x / 2) from n / 4 grains.
Solved centreQuadrant(std::uint64_t grains, const PotentialKernel &kernel, Levels &levels)
{
    std::optional<Field> coarse;
    if (grains >= BASE_GRAINS) {
        const std::uint64_t quarter = grains / 4;
        const Solved solved = centreQuadrant(quarter, kernel, levels);
        const LeastAction &pile = *solved.pile;
        const int side = pile.lattice().width();
        coarse = Field{side + 1, side + 1, std::vector<double>(std::size_t(side + 1) * (side + 1))};
        parallelFor(side + 1, levels.settings.threads, [&](int first, int end) {
            for (int y = first; y < end; ++y)
                for (int x = 0; x <= side; ++x)
                    coarse->values[std::size_t(y) * (side + 1) + x]
                        = (x < side && y < side ? double(pile.odometer(x, y)) : 0) + double(quarter) / 4 * kernel(x, y);
        });
    }
    for (int side = centreSide(grains);; side += side / 8 + 1) {
        auto pile = std::make_unique<LeastAction>(FoldedLattice(side, side, Fold::ThroughSites, Fold::ThroughSites));
        pile->height(0, 0) = std::int64_t(grains);
        Solved solved;
        if (coarse) {
            std::vector<Span> spans(side);
            for (int x = 0; x < side; ++x)
                if (x / 2 + 1 < coarse->width)
                    spans[x] = {x / 2, x / 2 + x % 2, 0.5 * (x % 2)};
            // a grows as (2/pi) ln r: halving r lowers n a / 4 by n ln 2 / (2 pi).
            const double halving = double(grains / 4) * std::numbers::ln2 * 2 / std::numbers::pi;
            const auto guess = [&](int x, int y, double smooth) {
                return smooth + halving - double(grains) / 4 * kernel(x, y);
            };
            solved = levels.solve(std::move(pile), Upscaling<decltype(guess)>{*coarse, spans, 4, guess}, 0, CENTRE_GROWTH);
        } else {
            solved = levels.solve(std::move(pile));
        }
        // No site on the quadrant's edge toppled: no grain left it.
        bool held = true;
        for (int x = 0; x < side; ++x)
            held = held && solved.pile->odometer(x, side - 1) == 0 && solved.pile->odometer(side - 1, x) == 0;
        if (held) {
            levels.done();
            return solved;
        }
    }
}

// The identity: t = -Lap w with w(i, j) = i (L + 1 - i) + j (L + 1 - j) is
// 4 inside and more at the edges, at least 3 everywhere and equivalent to the
// empty pile, so its stabilisation is the identity. Its odometer is w plus a
// smooth part, which scales as 4 psi(x / 2) from the side L / 2.
Solved identityQuadrant(int L, Levels &levels)
{
    const auto parabola = [L](std::int64_t i) { return i * (L + 1 - i); };
    std::optional<Field> coarse;
    const int coarseL = L / 2;
    std::optional<FoldedLattice> coarseLattice;
    if (L >= BASE_SIDE) {
        const Solved solved = identityQuadrant(coarseL, levels);
        const LeastAction &pile = *solved.pile;
        coarseLattice = pile.lattice();
        const int side = pile.lattice().width();
        const auto coarseParabola = [coarseL](std::int64_t i) { return i * (coarseL + 1 - i); };
        coarse = Field{side + 1, side + 1, std::vector<double>(std::size_t(side + 1) * (side + 1), 0.0)};
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                coarse->values[std::size_t(y) * (side + 1) + x]
                    = double(pile.odometer(x, y) - coarseParabola(pile.lattice().wholeX(x) + 1)
                             - coarseParabola(pile.lattice().wholeY(y) + 1));
    }
    const Fold fold = L % 2 ? Fold::ThroughSites : Fold::BetweenSites;
    const int side = (L + 1) / 2;
    auto pile = std::make_unique<LeastAction>(FoldedLattice(side, side, fold, fold));
    const FoldedLattice &lattice = pile->lattice();
    const auto whole = [&](int x) { return std::int64_t(lattice.wholeX(x)) + 1; };   // 1..L
    const auto w = [&](int x, int y) { return parabola(whole(x)) + parabola(whole(y)); };
    const auto layStart = [&] {
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const std::int64_t i = whole(x), j = whole(y);
                pile->height(x, y) = 4 + ((i == 1) + (i == L)) * parabola(j) + ((j == 1) + (j == L)) * parabola(i);
            }
    };
    Solved solved;
    if (coarse) {
        // Site i of the side L lies at i (L' + 1) / (L + 1) of the side L';
        // sites 0 and L' + 1 are the sink, where psi is 0.
        const double ratio = double(coarseL + 1) / (L + 1);
        const auto stored = [&](std::int64_t i) {
            return i < 1 || i > coarseL ? coarse->width - 1 : coarseLattice->foldedX(int(i - 1));
        };
        std::vector<Span> spans(side);
        for (int x = 0; x < side; ++x) {
            const double at = double(whole(x)) * ratio;
            const std::int64_t low = std::int64_t(at);
            spans[x] = {stored(low), stored(low + 1), at - double(low)};
        }
        const auto guess = [&](int x, int y, double smooth) {
            return std::min(double(w(x, y)), double(w(x, y)) + smooth);
        };
        layStart();
        solved = levels.solve(std::move(pile), Upscaling<decltype(guess)>{*coarse, spans, 1 / (ratio * ratio), guess},
                              IDENTITY_MARGIN * double(L) * L, IDENTITY_GROWTH);
    } else {
        layStart();
        solved = levels.solve(std::move(pile));
    }
    levels.done();
    return solved;
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

// The bytes a stabilisation on `lattice` needs, with its result on `whole` sites.
std::size_t bytesOf(const FoldedLattice &lattice, std::size_t whole, bool odometer)
{
    const std::size_t sites = std::size_t(lattice.width()) * lattice.height();
    return LeastAction::bytesFor(lattice) + lattice.residentBytes(1)   // the pile, the burning test
           + sites * sizeof(std::uint32_t)                              // the stack, at its fullest
           + whole * (1 + (odometer ? sizeof(std::int64_t) : 0));       // the result
}

} // namespace

std::size_t PileBuilder::centreBytes(std::uint64_t grains, bool odometer)
{
    const int side = centreSide(grains);
    const std::size_t field = std::size_t(side / 2 + 2) * (side / 2 + 2) * sizeof(double);
    return bytesOf(FoldedLattice(side, side, Fold::ThroughSites, Fold::ThroughSites),
                   std::size_t(2 * side - 1) * (2 * side - 1), odometer)
           + field;
}

std::size_t PileBuilder::identityBytes(int side, bool odometer)
{
    const int stored = (side + 1) / 2;
    const std::size_t field = std::size_t(stored / 2 + 2) * (stored / 2 + 2) * sizeof(double);
    // The coarser resolution's pile is still held while the guess is laid
    // (measured: without it the estimate ran 10-20 % low).
    const std::size_t coarser = LeastAction::bytesFor(FoldedLattice(std::max(1, stored / 2), std::max(1, stored / 2)));
    return bytesOf(FoldedLattice(stored, stored), std::size_t(side) * side, odometer) + field + coarser;
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
    Levels levels(settings, levelsOf(grains));
    const Solved solved = centreQuadrant(grains, kernel, levels);
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
    Levels levels(settings, levelsOfSide(side));
    const Solved solved = identityQuadrant(side, levels);
    // The starting pile t, counted on the whole lattice: 4 a site and the
    // edge's extra, sum over the four edges of sum_j j (L + 1 - j).
    const std::int64_t L = side;
    const std::int64_t edge = L * (L + 1) * (L + 2) / 6;
    StablePile stable = StablePile::unfold(*solved.pile, solved.work, 4 * L * L + 4 * edge, 0, 0, side, side,
                                           settings.odometer);
    // Every site of t toppled, and all burnt: the identity is recurrent.
    if (!stable.recurrent())
        throw std::logic_error("the identity failed its exact check");
    stable.checks.push_back("recurrent: all " + std::to_string(stable.toppledSites) + " sites burn");
    return stable;
}

StablePile PileBuilder::stabilise(int width, int height, const std::vector<std::int64_t> &heights,
                                  const Settings &settings)
{
    PileLimits::checkPile(width, height, heights);
    PileLimits::checkMemory(pileBytes(width, height, settings.odometer));
    Levels levels(settings, 1);
    auto pile = std::make_unique<LeastAction>(FoldedLattice(width, height));
    std::int64_t grains = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            grains += pile->height(x, y) = heights[std::size_t(y) * width + x];
    const Solved solved = levels.solve(std::move(pile));
    levels.done();
    return StablePile::unfold(*solved.pile, solved.work, grains, 0, 0, width, height, settings.odometer);
}
