#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The few drawing operations a plot needs, in pixels from the top left, so
// that one drawing code makes both the PNG and the SVG.
class Canvas
{
public:
    struct Point {
        double x, y;
    };
    enum Align { Left, Centre, Right };
    using Colour = std::uint32_t;   // 0xRRGGBB

    virtual ~Canvas() = default;
    virtual void polyline(const std::vector<Point> &points, Colour colour, double width, bool dashed) = 0;
    virtual void dot(Point centre, double radius, Colour colour) = 0;
    // Text with its baseline at `at`; vertical text reads upwards.
    virtual void text(Point at, const std::string &utf8, Align align, bool vertical = false) = 0;
};
