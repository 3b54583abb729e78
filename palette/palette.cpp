#include "palette.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace {

using Colours = std::array<Palette::Rgb, 4>;

const std::vector<std::pair<std::string, Colours>> &table()
{
    static const std::vector<std::pair<std::string, Colours>> palettes{
        // The window's: black, dark grey, light grey and white.
        {"window", {{{0, 0, 0}, {128, 128, 128}, {192, 192, 192}, {255, 255, 255}}}},
        {"print", {{{255, 255, 255}, {192, 192, 192}, {96, 96, 96}, {0, 0, 0}}}},
        {"heat", {{{0, 0, 0}, {160, 20, 20}, {240, 120, 0}, {255, 230, 80}}}},
        {"sea", {{{8, 16, 48}, {20, 80, 160}, {80, 180, 220}, {230, 250, 255}}}},
    };
    return palettes;
}

} // namespace

std::vector<std::string> Palette::names()
{
    std::vector<std::string> names;
    for (const auto &[name, colours] : table())
        names.push_back(name);
    return names;
}

bool Palette::has(const std::string &name)
{
    return std::any_of(table().begin(), table().end(), [&](const auto &entry) { return entry.first == name; });
}

Palette::Palette(const std::string &name)
{
    const auto found = std::find_if(table().begin(), table().end(), [&](const auto &entry) { return entry.first == name; });
    if (found == table().end())
        throw std::invalid_argument("no palette named '" + name + "'");
    colours = found->second;
}

Palette::Rgb Palette::mixed(int level) const
{
    const int below = std::min(level / LEVELS_PER_HEIGHT, 2);
    const int step = level - below * LEVELS_PER_HEIGHT;   // 0 to LEVELS_PER_HEIGHT
    Rgb colour;
    for (std::size_t c = 0; c < 3; ++c)
        colour[c] = std::uint8_t((colours[below][c] * (LEVELS_PER_HEIGHT - step) + colours[below + 1][c] * step
                                  + LEVELS_PER_HEIGHT / 2)
                                 / LEVELS_PER_HEIGHT);
    return colour;
}
