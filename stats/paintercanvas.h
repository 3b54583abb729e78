#pragma once

#include "canvas.h"

class QPainter;

// Draws on a QPainter (a QImage for PNG files).
class PainterCanvas : public Canvas
{
public:
    explicit PainterCanvas(QPainter &painter) : painter(painter) {}
    void polyline(const std::vector<Point> &points, Colour colour, double width, bool dashed) override;
    void dot(Point centre, double radius, Colour colour) override;
    void text(Point at, const std::string &utf8, Align align, bool vertical) override;

private:
    QPainter &painter;
};
