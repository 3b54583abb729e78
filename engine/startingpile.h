#pragma once

#include <optional>
#include <string_view>

// The piles a run of grains can start from: an exact sample of the steady
// state (SandpileModel::layStationaryPile), or the window's random pile of
// heights 0..3 (SandpileModel::reinitialise(RunFree)), which needs a
// warm-up of about 2 L^2 grains to reach the steady state.
enum class StartingPile { Stationary, Window };

// The names a user gives them.
constexpr std::string_view startingPileName(StartingPile start)
{
    return start == StartingPile::Stationary ? "stationary" : "window";
}

constexpr std::optional<StartingPile> startingPileNamed(std::string_view name)
{
    for (StartingPile start : {StartingPile::Stationary, StartingPile::Window})
        if (name == startingPileName(start))
            return start;
    return std::nullopt;
}
