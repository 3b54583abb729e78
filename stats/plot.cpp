#include "plot.h"

#include "atomicfiles.h"
#include "paintercanvas.h"
#include "cformat.h"
#include "report.h"
#include "sidesummary.h"
#include "svgcanvas.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace Plot {

namespace {

// The frame of the plot inside the picture.
constexpr double LEFT = 90, RIGHT = WIDTH - 30, TOP = 40, BOTTOM = HEIGHT - 70;
constexpr Canvas::Colour PALETTE[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0x9467bd, 0xff7f0e, 0x8c564b, 0xe377c2, 0x17becf};
constexpr Canvas::Colour BLACK = 0x000000, GREY = 0xdddddd;

// One side's measured points (bin centre, density) and its fitted line.
struct Curve {
    std::vector<Canvas::Point> points;
    std::vector<Canvas::Point> fit;
    std::string label;
};

// The fitted law as a density over all avalanches: the fraction f of them
// inside the window, times x^-tau / Z(tau).
std::vector<Canvas::Point> fittedLine(const PowerLawFit &fit, double avalanches)
{
    if (!fit.valid)
        return {};
    double z = 0;
    for (std::int64_t x = fit.xmin; x <= fit.xmax; ++x)
        z += std::pow(double(x), -fit.tau);
    const double fraction = double(fit.samples) / avalanches;
    const auto at = [&](double x) { return Canvas::Point{x, fraction * std::pow(x, -fit.tau) / z}; };
    return {at(double(fit.xmin)), at(double(fit.xmax))};
}

std::string powerOfTen(int exponent)
{
    static const char *const SUPERSCRIPT[] = {"⁰", "¹", "²", "³", "⁴", "⁵", "⁶", "⁷", "⁸", "⁹"};
    std::string digits = std::to_string(std::abs(exponent)), text = "10";
    if (exponent < 0)
        text += "⁻";
    for (char d : digits)
        text += SUPERSCRIPT[d - '0'];
    return text;
}

} // namespace

void draw(const SeriesSummary &summary, Canvas &canvas)
{
    const SeriesResult &result = summary.result;
    std::vector<Curve> curves;
    double xHigh = 10, yLow = 1, yHigh = 1e-1;
    for (std::size_t i = 0; i < result.sides.size(); ++i) {
        const SeriesResult::Side &side = result.sides[i];
        const PowerLawFit &sizeFit = summary.sides[i].sizeFit;
        Curve curve;
        const double total = double(side.tally.size.total());
        for (const Histogram::Bin &bin : side.tally.size.logBins())
            if (bin.count > 0) {
                const double density = double(bin.count) / (total * double(bin.high - bin.low + 1));
                curve.points.push_back({std::sqrt(double(bin.low) * double(bin.high)), density});
            }
        curve.fit = fittedLine(sizeFit, total);
        curve.label = "L = " + std::to_string(side.side)
                      + (sizeFit.valid ? cformat(", τ = %.3f ± %.3f", sizeFit.tau, sizeFit.error)
                                               : std::string());
        for (const Canvas::Point &p : curve.points) {
            xHigh = std::max(xHigh, p.x);
            yLow = std::min(yLow, p.y);
            yHigh = std::max(yHigh, p.y);
        }
        curves.push_back(std::move(curve));
    }

    // Whole decades on both axes, at least one: when every point lies on
    // one power of ten the axis still spans a decade below it.
    const int x0 = 0, x1 = std::max(x0 + 1, int(std::ceil(std::log10(xHigh))));
    const int y1 = int(std::ceil(std::log10(yHigh)));
    const int y0 = std::min(y1 - 1, int(std::floor(std::log10(yLow))));
    const auto map = [&](Canvas::Point p) {
        return Canvas::Point{LEFT + (std::log10(p.x) - x0) / (x1 - x0) * (RIGHT - LEFT),
                             BOTTOM - (std::log10(p.y) - y0) / (y1 - y0) * (BOTTOM - TOP)};
    };

    for (int e = x0; e <= x1; ++e) {
        const double x = map({std::pow(10.0, e), 1}).x;
        canvas.polyline({{x, TOP}, {x, BOTTOM}}, GREY, 1, false);
        canvas.text({x, BOTTOM + 20}, powerOfTen(e), Canvas::Centre);
    }
    const int yStep = std::max(1, (y1 - y0 + 9) / 10);   // at most about ten labels
    for (int e = y0; e <= y1; e += yStep) {
        const double y = map({1, std::pow(10.0, e)}).y;
        canvas.polyline({{LEFT, y}, {RIGHT, y}}, GREY, 1, false);
        canvas.text({LEFT - 8, y + 5}, powerOfTen(e), Canvas::Right);
    }
    canvas.polyline({{LEFT, TOP}, {RIGHT, TOP}, {RIGHT, BOTTOM}, {LEFT, BOTTOM}, {LEFT, TOP}}, BLACK, 1, false);
    canvas.text({(LEFT + RIGHT) / 2, HEIGHT - 25}, "avalanche size s (topplings)", Canvas::Centre);
    canvas.text({28, (TOP + BOTTOM) / 2}, "P(s), probability per unit s", Canvas::Centre, true);
    canvas.text({(LEFT + RIGHT) / 2, 25}, "BTW sandpile: avalanche size distributions, seed "
                                              + std::to_string(result.seed), Canvas::Centre);

    for (std::size_t c = 0; c < curves.size(); ++c) {
        const Canvas::Colour colour = PALETTE[c % std::size(PALETTE)];
        std::vector<Canvas::Point> line;
        for (const Canvas::Point &p : curves[c].points) {
            line.push_back(map(p));
            canvas.dot(line.back(), 2.5, colour);
        }
        canvas.polyline(line, colour, 1, false);
        if (!curves[c].fit.empty())
            canvas.polyline({map(curves[c].fit[0]), map(curves[c].fit[1])}, BLACK, 1.5, true);
        // The legend, top right.
        const double y = TOP + 22 + 20 * double(c);
        canvas.polyline({{RIGHT - 250, y - 4}, {RIGHT - 225, y - 4}}, colour, 2, false);
        canvas.dot({RIGHT - 237.5, y - 4}, 2.5, colour);
        canvas.text({RIGHT - 218, y}, curves[c].label, Canvas::Left);
    }
    const double y = TOP + 22 + 20 * double(curves.size());
    canvas.polyline({{RIGHT - 250, y - 4}, {RIGHT - 225, y - 4}}, BLACK, 1.5, true);
    canvas.text({RIGHT - 218, y}, "power law fitted over its window", Canvas::Left);
}

void write(const SeriesSummary &summary, const std::string &path)
{
    std::string contents;
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".svg") == 0) {
        SvgCanvas canvas(WIDTH, HEIGHT);
        draw(summary, canvas);
        contents = canvas.document();
    } else {
        QImage image(WIDTH, HEIGHT, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setFont(QFont("DejaVu Sans", 10));
            PainterCanvas canvas(painter);
            draw(summary, canvas);
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            throw std::runtime_error("cannot encode the plot as PNG");
        contents.assign(bytes.constData(), std::size_t(bytes.size()));
    }
    AtomicFiles files;
    files.add(path, std::move(contents));
    files.commit();
}

} // namespace Plot
