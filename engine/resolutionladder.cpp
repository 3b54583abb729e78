#include "resolutionladder.h"

#include <algorithm>
#include <cmath>
#include <optional>

ResolutionLadder::ResolutionLadder(int threads, const ThreadTeam::Stop &stop, Watchers watchers, int levels, int rows)
    : team(std::clamp(threads, 1, LeastAction::bandsFor(rows)), stop)
    , watchers(std::move(watchers))
    , levels(levels)
{
}

ResolutionLadder::Solved ResolutionLadder::solve(std::unique_ptr<LeastAction> pile)
{
    return finish(std::move(pile), nullptr, nullptr, std::chrono::steady_clock::now());
}

ResolutionLadder::Solved ResolutionLadder::solve(std::unique_ptr<LeastAction> pile, const Upscaled &guess,
                                                 const Margin &margin)
{
    const auto start = std::chrono::steady_clock::now();
    const std::optional<MultiscaleGuess> excess
        = lastExcess ? std::optional<MultiscaleGuess>(std::in_place, *lastExcess, pile->lattice(), guess.field.scaleX(),
                                                      guess.field.scaleY(), margin.growth)
                     : std::nullopt;
    // With a margin, one toppling more for the rounding of the excess.
    const double rounding = margin.growth > 0 ? 1 : 0;
    const Upscaled lowered{guess.field, [&](int x, int y, double smooth) {
                               double over = 0;
                               if (!(excess && excess->value(x, y, over)))
                                   over = 0;
                               return guess.guess(x, y, smooth) - std::max(margin.least, over) - rounding;
                           }};
    guess.field.lay(*pile, team, lowered.guess);
    Solved solved = finish(std::move(pile), &guess, &lowered, start);
    // Only a finer resolution reads the excess; the finest drops it.
    lastExcess.reset();
    if (margin.growth > 0 && finished < levels)
        measureExcess(*solved.pile, guess);
    return solved;
}

ResolutionLadder::Solved ResolutionLadder::finish(std::unique_ptr<LeastAction> pile, const Upscaled *plain,
                                                  const Upscaled *laid, std::chrono::steady_clock::time_point start)
{
    pile->applyOdometer();
    const LeastAction::Work work = pile->stabilise(team);
    if (watchers.report) {
        Resolution resolution;
        resolution.width = pile->lattice().width();
        resolution.height = pile->lattice().height();
        resolution.work = work;
        resolution.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (laid) {
            resolution.scale = std::sqrt(laid->field.scaleX() * laid->field.scaleY());
            resolution.plainError = plain->field.error(*pile, plain->guess);
            resolution.laidError = laid->field.error(*pile, laid->guess);
        }
        watchers.report(resolution);
    }
    ++finished;
    if (watchers.progress)
        watchers.progress(finished, levels);
    return {std::move(pile), work};
}

void ResolutionLadder::measureExcess(const LeastAction &pile, const Upscaled &guess)
{
    lastExcess = std::make_unique<MultiscaleGuess::Field>(pile.lattice());
    team.forEachBlock(pile.lattice().height(), [&](std::int64_t first, std::int64_t end) {
        for (int y = int(first); y < int(end) && !team.abandoned(); ++y)
            for (int x = 0; x < pile.lattice().width(); ++x) {
                double smooth = 0;
                if (guess.field.value(x, y, smooth))
                    lastExcess->at(x, y) = std::max(0.0, guess.guess(x, y, smooth) - double(pile.odometer(x, y)));
            }
    });
}
