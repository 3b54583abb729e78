#pragma once

#include "seriessummary.h"

#include <string>

class QPainter;

// The log-log plot of the avalanche size distributions of every side, each
// with its fitted power law over the fit window, labelled axes and a legend.
namespace Plot {

constexpr int WIDTH = 800;
constexpr int HEIGHT = 600;

// Draws on a WIDTH x HEIGHT device, white already.
void draw(const SeriesSummary &summary, QPainter &painter);
// Writes a .png or a .svg file, whole or not at all; both need a
// QGuiApplication for their fonts. Throws std::runtime_error.
void write(const SeriesSummary &summary, const std::string &path);

} // namespace Plot
