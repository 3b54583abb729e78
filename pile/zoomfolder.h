#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// A folder that shows a pile zoomable in a web browser, offline: a pyramid
// of PNG tiles of TILE x TILE pixels, each level half the last, where a
// pixel of a zoomed-out level shows the mean height of the sites it covers
// through the palette; the heights themselves, one small script a tile,
// for the read-out of the site under the pointer; and index.html, a viewer
// on Leaflet, whose script is copied into the folder so that it stands
// alone. Tiles that are alike are written once, and the others refer to
// them in pile.js.
//
// The folder is written whole or not at all: it is built under a temporary
// name beside its place and renamed into it, replacing only a zoom folder
// written here before.
class ZoomFolder
{
public:
    static constexpr int TILE = 256;
    // The viewer zooms in until a site is this many screen pixels wide.
    static constexpr int MAX_PIXELS_A_SITE = 8;

    // Throws std::invalid_argument when `folder` exists and is not a zoom
    // folder, std::runtime_error when it cannot be written or the viewer's
    // script is missing. Creates nothing.
    static void checkWritable(const std::string &folder);
    // The memory write() takes beside the heights, in bytes.
    static std::size_t bytes(int width, int height);

    // Heights row by row, `width` a row, each 0 to 3. `stop` is polled; true
    // removes what was written and throws LeastAction::Stopped. Throws as
    // checkWritable() does, and std::runtime_error when writing fails.
    static void write(const std::string &folder, const std::uint8_t *heights, int width, int height,
                      const std::string &palette, const std::function<bool()> &stop, int threads);
};
