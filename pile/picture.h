#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A stable pile as a PNG picture, one pixel a site, in one of a few
// palettes of four colours, for the heights 0 to 3.
class Picture
{
public:
    // The palettes' names, the window's first.
    static std::vector<std::string> palettes();

    // The PNG bytes; throws std::runtime_error when they cannot be made.
    static std::string png(const std::vector<std::uint8_t> &heights, int width, int height, const std::string &palette);
};
