#pragma once

#include "canvas.h"
#include "seriessummary.h"

#include <string>

// The log-log plot of the avalanche size distributions of every side, each
// with its fitted power law over the fit window, labelled axes and a legend.
namespace Plot {

constexpr int WIDTH = 800;
constexpr int HEIGHT = 600;

void draw(const SeriesSummary &summary, Canvas &canvas);
// Writes a .png (needs a QGuiApplication for its fonts) or a .svg file,
// whole or not at all. Throws std::runtime_error.
void write(const SeriesSummary &summary, const std::string &path);

} // namespace Plot
