#pragma once

#include "canvas.h"

// Draws by writing SVG elements.
class SvgCanvas : public Canvas
{
public:
    SvgCanvas(int width, int height);
    void polyline(const std::vector<Point> &points, Colour colour, double width, bool dashed) override;
    void dot(Point centre, double radius, Colour colour) override;
    void text(Point at, const std::string &utf8, Align align, bool vertical) override;
    std::string document() const { return body + "</svg>\n"; }

private:
    std::string body;
};
