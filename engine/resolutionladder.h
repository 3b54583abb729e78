#pragma once

#include "leastaction.h"
#include "multiscaleguess.h"
#include "threadteam.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// The resolutions of one big pile, from the coarsest up, on one team of
// threads: each is solved from the guess the one below it gives, laid low
// by a margin the one below measured, and reported.
//
// A guess too low costs a stack pop a site for each toppling it misses,
// one too high a burning pass for each sqrt(2 d) of its excess d and, as the
// passes untopple in uniform steps, topplings across most of the set: so
// each guess is laid below where the last resolution's guess overshot,
// grown as the excess grows from one resolution to the next.
class ResolutionLadder
{
public:
    // What a resolution's guess makes of the upscaled field at a site.
    using Guess = std::function<double(int x, int y, double smooth)>;
    struct Upscaled {
        const MultiscaleGuess &field;
        Guess guess;
    };
    struct Solved {
        std::unique_ptr<LeastAction> pile;
        LeastAction::Work work;
    };

    // One resolution's stabilisation, for those who measure: its stored
    // sites, the work, how far the guess lay from the least odometer before
    // its margin and as laid, the scale it was read at, and the time.
    struct Resolution {
        int width = 0, height = 0;
        LeastAction::Work work;
        MultiscaleGuess::Error plainError, laidError;
        double scale = 1;
        double seconds = 0;
    };
    struct Watchers {
        std::function<void(int done, int levels)> progress;   // after each resolution, if set
        std::function<void(const Resolution &)> report;       // the same
    };

    // `threads` no more than the finest lattice's `rows` have bands for.
    ResolutionLadder(int threads, const ThreadTeam::Stop &stop, Watchers watchers, int levels, int rows);

    ThreadTeam team;

    // How far below its guess a resolution is laid: by `least` at least,
    // and where the last resolution's guess overshot, by that excess grown
    // `growth` times.
    struct Margin {
        double least = 0;
        double growth = 0;
    };

    // The coarsest resolution: from no guess.
    Solved solve(std::unique_ptr<LeastAction> pile);
    // The guess laid, lowered by its margin; solved. The next resolution's
    // margin is measured against the guess as given.
    Solved solve(std::unique_ptr<LeastAction> pile, const Upscaled &guess, const Margin &margin);

private:
    Solved finish(std::unique_ptr<LeastAction> pile, const Upscaled *plain, const Upscaled *laid,
                  std::chrono::steady_clock::time_point start);
    // How far the guess lay above the least odometer, site by site (0 where
    // below), as a field for the next resolution.
    void measureExcess(const LeastAction &pile, const Upscaled &guess);

    Watchers watchers;
    int levels;
    int finished = 0;
    std::unique_ptr<MultiscaleGuess::Field> lastExcess;
};
