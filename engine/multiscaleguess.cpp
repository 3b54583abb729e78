#include "multiscaleguess.h"

#include <algorithm>
#include <atomic>
#include <cmath>

MultiscaleGuess::Field::Field(const FoldedLattice &lattice)
    : coarse(lattice)
    , values(std::size_t(lattice.width() + 2) * std::size_t(lattice.height() + 2), 0.0)
{
}

// One axis of a lattice: its stored sites, the whole lattice's, and how
// the two are related.
struct MultiscaleGuess::Axis {
    int stored, whole;
    std::function<int(int)> wholeOf, storedOf;

    static Axis x(const FoldedLattice &lattice)
    {
        return {lattice.width(), lattice.wholeWidth(), [&lattice](int x) { return lattice.wholeX(x); },
                [&lattice](int x) { return lattice.foldedX(x); }};
    }
    static Axis y(const FoldedLattice &lattice)
    {
        return {lattice.height(), lattice.wholeHeight(), [&lattice](int y) { return lattice.wholeY(y); },
                [&lattice](int y) { return lattice.foldedY(y); }};
    }
    // The stored coordinate of a whole one, the ring's -1 or `stored`
    // just beyond the whole lattice's edges, or nothing further out.
    bool storedAt(int wholeAt, int &at) const
    {
        if (wholeAt >= 0 && wholeAt < whole)
            at = storedOf(wholeAt);
        else if (wholeAt == -1 || wholeAt == whole)
            at = wholeAt < 0 ? -1 : stored;
        else
            return false;
        return true;
    }
};

std::vector<MultiscaleGuess::Span> MultiscaleGuess::spans(const Axis &fine, const Axis &coarse, double scale)
{
    // Places relative to the whole lattice's centre, so that the folds and
    // the sinks of both lattices line up.
    const double fineCentre = (fine.whole - 1) / 2.0, coarseCentre = (coarse.whole - 1) / 2.0;
    std::vector<Span> result(std::size_t(fine.stored));
    for (int x = 0; x < fine.stored; ++x) {
        const double at = (fine.wholeOf(x) - fineCentre) / scale + coarseCentre;
        const int low = int(std::floor(at));
        Span &span = result[std::size_t(x)];
        span.t = at - low;
        span.inside = coarse.storedAt(low, span.low) && coarse.storedAt(low + 1, span.high);
    }
    return result;
}

MultiscaleGuess::MultiscaleGuess(const Field &field, const FoldedLattice &fine, double scaleX, double scaleY,
                                 double amplitude)
    : field(field)
    , shrinkX(scaleX)
    , shrinkY(scaleY)
    , amplitude(amplitude)
    , alongX(spans(Axis::x(fine), Axis::x(field.lattice()), scaleX))
    , alongY(spans(Axis::y(fine), Axis::y(field.lattice()), scaleY))
{
}

double MultiscaleGuess::interpolate(const Span &x, const Span &y) const
{
    const double near = field.at(x.low, y.low) * (1 - x.t) + field.at(x.high, y.low) * x.t;
    const double far = field.at(x.low, y.high) * (1 - x.t) + field.at(x.high, y.high) * x.t;
    return near * (1 - y.t) + far * y.t;
}

bool MultiscaleGuess::value(int x, int y, double &smooth) const
{
    const Span &sx = alongX[std::size_t(x)], &sy = alongY[std::size_t(y)];
    if (!sx.inside || !sy.inside)
        return false;
    smooth = amplitude * interpolate(sx, sy);
    return true;
}

void MultiscaleGuess::lay(LeastAction &pile, ThreadTeam &team,
                          const std::function<double(int, int, double)> &guess) const
{
    const int width = pile.lattice().width();
    std::atomic<bool> outgrown{false};   // a value the pile cannot hold as it is
    team.forEachBlock(pile.lattice().height(), [&](std::int64_t first, std::int64_t end) {
        for (int y = int(first); y < int(end) && !team.abandoned(); ++y)
            for (int x = 0; x < width; ++x) {
                double smooth = 0;
                const double at = value(x, y, smooth) ? guess(x, y, smooth) : 0;
                const std::int64_t topplings = at > 0 ? std::int64_t(at) : 0;
                if (pile.holds(topplings))
                    pile.setOdometer(x, y, topplings);
                else
                    outgrown.store(true, std::memory_order_relaxed);
            }
    });
    if (outgrown) {   // widened here, on one thread, and laid again
        pile.widen();
        lay(pile, team, guess);
    }
}

MultiscaleGuess::Error MultiscaleGuess::error(const LeastAction &solved,
                                              const std::function<double(int, int, double)> &guess) const
{
    Error error;
    std::int64_t toppled = 0;
    for (int y = 0; y < solved.lattice().height(); ++y)
        for (int x = 0; x < solved.lattice().width(); ++x) {
            const std::int64_t u = solved.odometer(x, y);
            double smooth = 0;
            const double e = double(u) - (value(x, y, smooth) ? guess(x, y, smooth) : 0);
            error.above = std::max(error.above, -e);
            if (u == 0)
                continue;
            error.below = std::max(error.below, e);
            error.mean += std::abs(e);
            ++toppled;
        }
    error.mean /= double(std::max<std::int64_t>(toppled, 1));
    return error;
}
