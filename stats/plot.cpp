#include "plot.h"

#include "atomicfiles.h"
#include "sidesummary.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace Plot {

namespace {

// The frame of the plot inside the picture.
constexpr double LEFT = 90, RIGHT = WIDTH - 30, TOP = 40, BOTTOM = HEIGHT - 70;
constexpr QRgb PALETTE[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0x9467bd, 0xff7f0e, 0x8c564b, 0xe377c2, 0x17becf};
constexpr QRgb BLACK = 0x000000, GREY = 0xdddddd;
constexpr int FONT_PIXELS = 13;
constexpr int CSS_DPI = 96;   // a CSS pixel is 1/96 inch
constexpr double DOT_RADIUS = 2.5;

// One side's measured points (bin centre, density) and its fitted line.
struct Curve {
    QPolygonF points;
    QPolygonF fit;
    QString label;
};

// The fitted law as a density over all avalanches: the fraction f of them
// inside the window, times x^-tau / Z(tau).
QPolygonF fittedLine(const PowerLawFit &fit, double avalanches)
{
    if (!fit.valid)
        return {};
    double z = 0;
    for (std::int64_t x = fit.xmin; x <= fit.xmax; ++x)
        z += std::pow(double(x), -fit.tau);
    const double fraction = double(fit.samples) / avalanches;
    const auto at = [&](double x) { return QPointF(x, fraction * std::pow(x, -fit.tau) / z); };
    return {at(double(fit.xmin)), at(double(fit.xmax))};
}

QString powerOfTen(int exponent)
{
    static const char16_t SUPERSCRIPT[] = u"⁰¹²³⁴⁵⁶⁷⁸⁹";
    QString text = "10";
    if (exponent < 0)
        text += QChar(u'⁻');
    for (QChar d : QString::number(std::abs(exponent)))
        text += QChar(SUPERSCRIPT[d.digitValue()]);
    return text;
}

// Numbers in labels come from QString::number, which never follows the
// locale: the plot reads the same anywhere.
QString fixed3(double value)
{
    return QString::number(value, 'f', 3);
}

void line(QPainter &painter, const QPolygonF &points, QRgb colour, double width, bool dashed = false)
{
    QPen pen{QColor(colour)};
    pen.setWidthF(width);
    if (dashed)
        pen.setDashPattern({6 / width, 4 / width});   // in pen widths: 6 px on, 4 off
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(points);
}

void dot(QPainter &painter, QPointF centre, QRgb colour)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(colour));
    painter.drawEllipse(centre, DOT_RADIUS, DOT_RADIUS);
}

// Text with its baseline at `at`, aligned left, centred or right of it
// (Qt::AlignLeft, AlignHCenter, AlignRight); vertical text reads upwards.
void text(QPainter &painter, QPointF at, const QString &string, Qt::Alignment align, bool vertical = false)
{
    const double width = QFontMetricsF(painter.font()).horizontalAdvance(string);
    const double shift = align == Qt::AlignLeft ? 0 : align == Qt::AlignHCenter ? width / 2 : width;
    painter.save();
    painter.setPen(QColor(BLACK));
    painter.translate(at);
    if (vertical)
        painter.rotate(-90);
    painter.drawText(QPointF(-shift, 0), string);
    painter.restore();
}

} // namespace

void draw(const SeriesSummary &summary, QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font("DejaVu Sans");
    font.setPixelSize(FONT_PIXELS);
    painter.setFont(font);

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
                curve.points << QPointF(std::sqrt(double(bin.low) * double(bin.high)), density);
            }
        curve.fit = fittedLine(sizeFit, total);
        curve.label = "L = " + QString::number(side.side);
        if (sizeFit.valid)
            curve.label += ", τ = " + fixed3(sizeFit.tau) + " ± " + fixed3(sizeFit.error);
        for (const QPointF &p : curve.points) {
            xHigh = std::max(xHigh, p.x());
            yLow = std::min(yLow, p.y());
            yHigh = std::max(yHigh, p.y());
        }
        curves.push_back(std::move(curve));
    }

    // Whole decades on both axes, at least one: when every point lies on
    // one power of ten the axis still spans a decade below it.
    const int x0 = 0, x1 = std::max(x0 + 1, int(std::ceil(std::log10(xHigh))));
    const int y1 = int(std::ceil(std::log10(yHigh)));
    const int y0 = std::min(y1 - 1, int(std::floor(std::log10(yLow))));
    const auto map = [&](QPointF p) {
        return QPointF(LEFT + (std::log10(p.x()) - x0) / (x1 - x0) * (RIGHT - LEFT),
                       BOTTOM - (std::log10(p.y()) - y0) / (y1 - y0) * (BOTTOM - TOP));
    };

    for (int e = x0; e <= x1; ++e) {
        const double x = map({std::pow(10.0, e), 1}).x();
        line(painter, {QPointF(x, TOP), QPointF(x, BOTTOM)}, GREY, 1);
        text(painter, {x, BOTTOM + 20}, powerOfTen(e), Qt::AlignHCenter);
    }
    const int yStep = std::max(1, (y1 - y0 + 9) / 10);   // at most about ten labels
    for (int e = y0; e <= y1; e += yStep) {
        const double y = map({1, std::pow(10.0, e)}).y();
        line(painter, {QPointF(LEFT, y), QPointF(RIGHT, y)}, GREY, 1);
        text(painter, {LEFT - 8, y + 5}, powerOfTen(e), Qt::AlignRight);
    }
    line(painter, QRectF(QPointF(LEFT, TOP), QPointF(RIGHT, BOTTOM)), BLACK, 1);
    text(painter, {(LEFT + RIGHT) / 2, HEIGHT - 25}, "avalanche size s (topplings)", Qt::AlignHCenter);
    text(painter, {28, (TOP + BOTTOM) / 2}, "P(s), probability per unit s", Qt::AlignHCenter, true);
    text(painter, {(LEFT + RIGHT) / 2, 25},
         "BTW sandpile: avalanche size distributions, seed " + QString::number(result.seed), Qt::AlignHCenter);

    for (std::size_t c = 0; c < curves.size(); ++c) {
        const QRgb colour = PALETTE[c % std::size(PALETTE)];
        QPolygonF mapped;
        for (const QPointF &p : curves[c].points) {
            mapped << map(p);
            dot(painter, mapped.back(), colour);
        }
        line(painter, mapped, colour, 1);
        if (!curves[c].fit.empty())
            line(painter, {map(curves[c].fit[0]), map(curves[c].fit[1])}, BLACK, 1.5, true);
        // The legend, top right.
        const double y = TOP + 22 + 20 * double(c);
        line(painter, {QPointF(RIGHT - 250, y - 4), QPointF(RIGHT - 225, y - 4)}, colour, 2);
        dot(painter, {RIGHT - 237.5, y - 4}, colour);
        text(painter, {RIGHT - 218, y}, curves[c].label, Qt::AlignLeft);
    }
    const double y = TOP + 22 + 20 * double(curves.size());
    line(painter, {QPointF(RIGHT - 250, y - 4), QPointF(RIGHT - 225, y - 4)}, BLACK, 1.5, true);
    text(painter, {RIGHT - 218, y}, "power law fitted over its window", Qt::AlignLeft);
}

void write(const SeriesSummary &summary, const std::string &path)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".svg") == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize({WIDTH, HEIGHT});
        svg.setViewBox(QRect(0, 0, WIDTH, HEIGHT));
        svg.setResolution(CSS_DPI);   // WIDTH x HEIGHT pixels, as the PNG
        svg.setTitle("BTW sandpile: avalanche size distributions");
        QPainter painter(&svg);
        painter.fillRect(QRect(0, 0, WIDTH, HEIGHT), Qt::white);
        draw(summary, painter);
    } else {
        QImage image(WIDTH, HEIGHT, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            draw(summary, painter);
        }
        if (!image.save(&buffer, "PNG"))
            throw std::runtime_error("cannot encode the plot as PNG");
    }
    AtomicFiles files;
    files.add(path, bytes.toStdString());
    files.commit();
}

} // namespace Plot
