#include "svgcanvas.h"

#include "cformat.h"
#include "report.h"

namespace {

std::string colourName(Canvas::Colour colour)
{
    return cformat("#%06x", unsigned(colour));
}

std::string escaped(const std::string &text)
{
    std::string out;
    for (char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return out;
}

} // namespace

SvgCanvas::SvgCanvas(int width, int height)
    : body(cformat("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                          "viewBox=\"0 0 %d %d\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"13\">\n"
                          "<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n",
                          width, height, width, height))
{
}

void SvgCanvas::polyline(const std::vector<Point> &points, Colour colour, double width, bool dashed)
{
    body += "<polyline fill=\"none\" stroke=\"" + colourName(colour) + "\" stroke-width=\""
            + cformat("%g", width) + "\"" + (dashed ? " stroke-dasharray=\"6,4\"" : "") + " points=\"";
    for (const Point &p : points)
        body += cformat("%.2f,%.2f ", p.x, p.y);
    body += "\"/>\n";
}

void SvgCanvas::dot(Point centre, double radius, Colour colour)
{
    body += cformat("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"%g\" fill=\"%s\"/>\n", centre.x, centre.y, radius,
                           colourName(colour).c_str());
}

void SvgCanvas::text(Point at, const std::string &utf8, Align align, bool vertical)
{
    const char *anchor = align == Left ? "start" : align == Centre ? "middle" : "end";
    body += cformat("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"%s\"", at.x, at.y, anchor);
    if (vertical)
        body += cformat(" transform=\"rotate(-90 %.2f %.2f)\"", at.x, at.y);
    body += ">" + escaped(utf8) + "</text>\n";
}
