#pragma once

#include "palette.h"

#include <QColor>

// The colour scheme of the lattice picture, shared with the legend.
namespace Colours {

inline QColor windowColour(int height)
{
    const Palette::Rgb rgb = Palette("window").colour(height);
    return QColor(rgb[0], rgb[1], rgb[2]);
}

// Colour of a site by its height: 0, 1, 2, 3, and 4 or more (toppling).
inline const QColor height[] = {windowColour(0), windowColour(1), windowColour(2), windowColour(3), Qt::red};
constexpr int HEIGHT_COLOUR_COUNT = sizeof(height) / sizeof(height[0]);

// A site that toppled in the burning test.
inline const QColor burnt = Qt::yellow;

} // namespace Colours
