#pragma once

#include "seriessummary.h"

#include <string>

class QPainter;

// The log-log plot of the avalanche size distributions of every side, each
// with its fitted power law over the fit window, labelled axes and a legend.
// A series with the moments' scaling (SeriesSummary::scaled) gets two more
// panels below it: sigma(q) of size, area and duration against q with their
// straight-line fits over q >= 2, and the collapse of the size distributions,
// P(s) s^tau against s / L^D with the fitted tau and D.
namespace Plot {

constexpr int WIDTH = 800;
constexpr int HEIGHT = 600;   // of one panel
constexpr int SCALING_PANELS = 2;

// The picture's height: one panel, or three with the scaling.
int height(const SeriesSummary &summary);
// Draws on a WIDTH x height(summary) device, white already.
void draw(const SeriesSummary &summary, QPainter &painter);
// Writes a .png or a .svg file, whole or not at all; both need a
// QGuiApplication for their fonts. Throws std::runtime_error.
void write(const SeriesSummary &summary, const std::string &path);

} // namespace Plot
