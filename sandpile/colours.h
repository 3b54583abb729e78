#pragma once

#include <QColor>

// The colour scheme of the lattice picture, shared with the legend.
namespace Colours {

// Colour of a site by its height: 0, 1, 2, 3, and 4 or more (toppling).
inline const QColor height[] = {Qt::black, Qt::darkGray, Qt::lightGray, Qt::white, Qt::red};
constexpr int HEIGHT_COLOUR_COUNT = sizeof(height) / sizeof(height[0]);

// A site that toppled in the burning test.
inline const QColor burnt = Qt::yellow;

} // namespace Colours
