#pragma once

#include "leastaction.h"
#include "threadteam.h"

#include <cstdint>
#include <functional>
#include <vector>

// A guess of a pile's odometer from the same pile solved at half the
// resolution (a quarter of the grains, half the side, the 2 x 2 block means):
// the coarse odometer's smooth part, read between the coarse sites, scaled
// about the lattice's centre and up in amplitude. The singular parts (the
// point source's kernel, the identity's parabolas) are taken out before and
// put back after by the caller, who knows them.
//
// Stabilisation costs about a stack pop a site for each toppling the guess
// is too low, and a burning pass for each sqrt(2 d) it is too high by d. The
// scale is what decides most of the error: between two lattices with sinks,
// the ratio of their sides between the sinks.
class MultiscaleGuess
{
public:
    // The smooth part on a coarse lattice's stored sites and a ring of
    // cells around them (the sink, or the singular part's continuation).
    class Field
    {
    public:
        explicit Field(const FoldedLattice &lattice);
        const FoldedLattice &lattice() const { return coarse; }
        // x and y from -1 to the side: the ring included.
        double &at(int x, int y) { return values[index(x, y)]; }
        double at(int x, int y) const { return values[index(x, y)]; }

    private:
        std::size_t index(int x, int y) const { return std::size_t(y + 1) * std::size_t(coarse.width() + 2) + std::size_t(x + 1); }
        FoldedLattice coarse;
        std::vector<double> values;
    };

    // How the fine lattice's stored sites read a coarse field: each site's
    // place relative to the centre shrunk `scaleX` and `scaleY` times along
    // the two axes, and the field there times `amplitude`.
    // The field is held by reference: it outlives the guess.
    MultiscaleGuess(const Field &field, const FoldedLattice &fine, double scaleX, double scaleY, double amplitude);
    MultiscaleGuess(Field &&, const FoldedLattice &, double, double, double) = delete;

    double scaleX() const { return shrinkX; }
    double scaleY() const { return shrinkY; }
    // The upscaled field at a fine stored site; false beyond the field.
    bool value(int x, int y, double &smooth) const;

    // odometer(x, y) = max(0, floor(guess(x, y, smooth))) on every fine
    // site within the field, 0 elsewhere, on the team's members.
    void lay(LeastAction &pile, ThreadTeam &team, const std::function<double(int x, int y, double smooth)> &guess) const;

    // How far a guess lay from a solved pile's odometer: most above (a
    // site that never toppled counts too), most below, and the mean
    // distance over the sites that toppled.
    struct Error {
        double above = 0, below = 0, mean = 0;
    };
    Error error(const LeastAction &solved, const std::function<double(int x, int y, double smooth)> &guess) const;

private:
    // Where a fine site's coordinate falls on the coarse field: between the
    // stored coordinates `low` and `high` (-1 and the side are the ring),
    // `t` of the way; `inside` false beyond the ring.
    struct Span {
        int low = 0, high = 0;
        double t = 0;
        bool inside = false;
    };
    struct Axis;   // one axis of a lattice, as the spans see it
    static std::vector<Span> spans(const Axis &fine, const Axis &coarse, double scale);
    double interpolate(const Span &x, const Span &y) const;

    const Field &field;
    double shrinkX, shrinkY, amplitude;
    std::vector<Span> alongX, alongY;
};
