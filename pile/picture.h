#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A stable pile as a PNG picture, one pixel a site, in one of the palettes'
// four colours for the heights 0 to 3: a 2-bit indexed PNG, packed and
// compressed a row at a time, so that no second copy of the picture is made.
class Picture
{
public:
    // The palettes' names, the window's first.
    static std::vector<std::string> palettes();

    // The most memory png() takes: the PNG bytes at worst, which deflate
    // keeps within a little more than the packed rows.
    static std::size_t pngBytes(int width, int height);

    // The PNG bytes; throws std::runtime_error when they cannot be made.
    static std::string png(const std::vector<std::uint8_t> &heights, int width, int height, const std::string &palette);
};
