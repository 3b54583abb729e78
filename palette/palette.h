#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The pictures' colours: one for each height 0 to 3, and, for the zoomed-out
// pictures, one for any mean height between, mixed from the two heights it
// lies between. Plain RGB, no toolkit, so that the Python module has it too.
class Palette
{
public:
    using Rgb = std::array<std::uint8_t, 3>;
    // Mean heights are quantised to this many steps a height: 0 to 3 are
    // the levels 0, 85, 170 and 255 of one byte.
    static constexpr int LEVELS_PER_HEIGHT = 85;
    static constexpr int LEVELS = 3 * LEVELS_PER_HEIGHT + 1;

    // The palettes' names, the window's first.
    static std::vector<std::string> names();
    static bool has(const std::string &name);

    // Throws std::invalid_argument for a name not in names().
    explicit Palette(const std::string &name);

    Rgb colour(int height) const { return colours[std::size_t(height)]; }
    // The colour of the mean height level / LEVELS_PER_HEIGHT, level 0 to LEVELS - 1.
    Rgb mixed(int level) const;

private:
    std::array<Rgb, 4> colours;
};
