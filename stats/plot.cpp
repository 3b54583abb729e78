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

// "1.234 ± 0.005", without the error when there is none.
QString estimateText(const MomentScaling::Estimate &e)
{
    if (!std::isfinite(e.value))
        return "n/a";
    return fixed3(e.value) + (std::isfinite(e.error) ? " ± " + fixed3(e.error) : QString());
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

// One axis of a panel: whole decades of a logarithmic scale, or a linear
// range with a tick step.
struct Axis {
    bool logarithmic = true;
    double low = 0, high = 1;   // in decades when logarithmic
    double step = 1;            // between labelled ticks, in the same units

    // Where v lies, 0 at the low end and 1 at the high one.
    double fraction(double v) const { return ((logarithmic ? std::log10(v) : v) - low) / (high - low); }
    double value(double t) const { return logarithmic ? std::pow(10.0, t) : t; }
};

// Whole decades covering low..high (both positive), at least one: when
// both lie on one power of ten the axis still spans a decade below it;
// about ten labels at most.
Axis decades(double low, double high)
{
    Axis axis;
    axis.high = std::ceil(std::log10(high));
    axis.low = std::min(axis.high - 1, std::floor(std::log10(low)));
    axis.step = std::max(1.0, std::floor((axis.high - axis.low + 9) / 10));
    return axis;
}

// low..high (low <= 0 < high) widened to steps of 1, 2 or 5 times a power
// of ten, at most ten of them.
Axis linear(double low, double high)
{
    Axis axis;
    axis.logarithmic = false;
    const double span = high - low;
    const double unit = std::pow(10.0, std::floor(std::log10(span / 10)));
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        axis.step = factor * unit;
        if (std::ceil(high / axis.step - 1e-9) - std::floor(low / axis.step + 1e-9) <= 10)
            break;
    }
    axis.low = std::floor(low / axis.step + 1e-9) * axis.step;
    axis.high = std::ceil(high / axis.step - 1e-9) * axis.step;
    return axis;
}

QString tickLabel(const Axis &axis, double t)
{
    return axis.logarithmic ? powerOfTen(int(std::lround(t))) : QString::number(t, 'g', 4);
}

struct Axes {
    Axis x, y;
    QPointF map(QPointF p) const
    {
        return {LEFT + x.fraction(p.x()) * (RIGHT - LEFT), BOTTOM - y.fraction(p.y()) * (BOTTOM - TOP)};
    }
};

// The grid, tick labels, frame, axis labels and title of a panel.
void drawAxes(QPainter &painter, const Axes &axes, const QString &xLabel, const QString &yLabel, const QString &title)
{
    // Ticks counted from the low end, so that rounding adds none.
    const auto ticks = [](const Axis &axis) { return int(std::floor((axis.high - axis.low) / axis.step + 1e-9)); };
    const int xTicks = ticks(axes.x);
    for (int i = 0; i <= xTicks; ++i) {
        const double t = axes.x.low + i * axes.x.step;
        const double x = axes.map({axes.x.value(t), axes.y.value(axes.y.low)}).x();
        line(painter, {QPointF(x, TOP), QPointF(x, BOTTOM)}, GREY, 1);
        text(painter, {x, BOTTOM + 20}, tickLabel(axes.x, t), Qt::AlignHCenter);
    }
    const int yTicks = ticks(axes.y);
    for (int i = 0; i <= yTicks; ++i) {
        const double t = axes.y.low + i * axes.y.step;
        const double y = axes.map({axes.x.value(axes.x.low), axes.y.value(t)}).y();
        line(painter, {QPointF(LEFT, y), QPointF(RIGHT, y)}, GREY, 1);
        text(painter, {LEFT - 8, y + 5}, tickLabel(axes.y, t), Qt::AlignRight);
    }
    line(painter, QRectF(QPointF(LEFT, TOP), QPointF(RIGHT, BOTTOM)), BLACK, 1);
    text(painter, {(LEFT + RIGHT) / 2, HEIGHT - 25}, xLabel, Qt::AlignHCenter);
    text(painter, {28, (TOP + BOTTOM) / 2}, yLabel, Qt::AlignHCenter, true);
    text(painter, {(LEFT + RIGHT) / 2, 25}, title, Qt::AlignHCenter);
}

// A legend row: a marker in the colour, then the label.
void legendRow(QPainter &painter, QPointF at, QRgb colour, const QString &label, bool dashed = false)
{
    line(painter, {at + QPointF(0, -4), at + QPointF(25, -4)}, colour, dashed ? 1.5 : 2, dashed);
    if (!dashed)
        dot(painter, at + QPointF(12.5, -4), colour);
    text(painter, at + QPointF(32, 0), label, Qt::AlignLeft);
}

// A side's size distribution: the centres of its non-empty log bins and
// their densities.
QPolygonF sizeDensities(const Histogram &sizes)
{
    QPolygonF points;
    for (const Histogram::Bin &bin : sizes.logBins())
        if (bin.count > 0)
            points << QPointF(std::sqrt(double(bin.low) * double(bin.high)), bin.density);
    return points;
}

void drawDistributions(const SeriesSummary &summary, QPainter &painter)
{
    const SeriesResult &result = summary.result;
    std::vector<Curve> curves;
    double xHigh = 10, yLow = 1, yHigh = 1e-1;
    for (std::size_t i = 0; i < result.sides.size(); ++i) {
        const SeriesResult::Side &side = result.sides[i];
        const PowerLawFit &sizeFit = summary.sides[i].fits[Tally::Size];
        Curve curve;
        curve.points = sizeDensities(side.tally.histograms[Tally::Size]);
        curve.fit = fittedLine(sizeFit, double(side.tally.histograms[Tally::Size].total()));
        curve.label = "L = " + QString::number(side.side);
        if (sizeFit.valid)
            curve.label += ", τ_eff = " + fixed3(sizeFit.tau) + " ± " + fixed3(sizeFit.error);
        for (const QPointF &p : curve.points) {
            xHigh = std::max(xHigh, p.x());
            yLow = std::min(yLow, p.y());
            yHigh = std::max(yHigh, p.y());
        }
        curves.push_back(std::move(curve));
    }

    const Axes axes{decades(1, xHigh), decades(yLow, yHigh)};
    const auto map = [&axes](QPointF p) { return axes.map(p); };
    drawAxes(painter, axes, "avalanche size s (topplings)", "P(s), probability per unit s",
             "BTW sandpile: avalanche size distributions, seed " + QString::number(result.seed));

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
        legendRow(painter, {RIGHT - 250, TOP + 22 + 20 * double(c)}, colour, curves[c].label);
    }
    legendRow(painter, {RIGHT - 250, TOP + 22 + 20 * double(curves.size())}, BLACK,
              "power law fitted over its window", true);
}

// sigma(q) of each observable with its error bars, and the straight line
// D q + D (1 - tau) fitted over q >= 2, dashed below.
void drawSigma(const SeriesSummary &summary, QPainter &painter)
{
    // From 0, or below it on a series too short to show the scaling.
    double bottom = 0, top = 1;
    for (const MomentScaling &scaling : summary.scaling)
        for (const MomentScaling::Estimate &sigma : scaling.sigma)
            if (std::isfinite(sigma.value)) {
                const double error = std::isfinite(sigma.error) ? sigma.error : 0;
                bottom = std::min(bottom, sigma.value - error);
                top = std::max(top, sigma.value + error);
            }
    const Axes axes{linear(0, MomentScaling::order(MomentScaling::ORDERS - 1) + MomentScaling::ORDER_STEP),
                    linear(bottom, top)};
    drawAxes(painter, axes, "order q", "σ(q), where ⟨x^q⟩ ~ L^σ(q)",
             "Moments against the lattice side, L = " + [&] {
                 QStringList sides;
                 for (const SideSummary &side : summary.sides)
                     sides << QString::number(side.side);
                 return sides.join(", ");
             }());

    const double straight = MomentScaling::order(MomentScaling::FIRST_LINEAR_ORDER);
    for (int o = 0; o < Tally::OBSERVABLES; ++o) {
        const MomentScaling &scaling = summary.scaling[std::size_t(o)];
        const QRgb colour = PALETTE[o];
        QPolygonF points;
        for (int k = 0; k < MomentScaling::ORDERS; ++k) {
            const MomentScaling::Estimate &sigma = scaling.sigma[std::size_t(k)];
            if (!std::isfinite(sigma.value))
                continue;
            const double order = MomentScaling::order(k);
            points << axes.map({order, sigma.value});
            if (std::isfinite(sigma.error))
                line(painter, {axes.map({order, sigma.value - sigma.error}), axes.map({order, sigma.value + sigma.error})},
                     colour, 1.5);
            dot(painter, points.back(), colour);
        }
        QString label = QString(Tally::OBSERVABLE_NAMES[o]) + " " + Tally::OBSERVABLE_SYMBOLS[o];
        if (scaling.valid) {
            const double d = scaling.dimension.value, b = d * (1 - scaling.tau.value);
            const auto at = [&](double x) { return axes.map({x, d * x + b}); };
            line(painter, {at(MomentScaling::order(0)), at(straight)}, colour, 1, true);
            line(painter, {at(straight), at(MomentScaling::order(MomentScaling::ORDERS - 1))}, colour, 1.5);
            label += ": D = " + estimateText(scaling.dimension) + ", τ = " + estimateText(scaling.tau);
        }
        // The legend, top left, where sigma(q) rising to the right leaves room.
        legendRow(painter, {LEFT + 15, TOP + 22 + 20 * double(o)}, colour, label);
    }
    legendRow(painter, {LEFT + 15, TOP + 22 + 20 * double(Tally::OBSERVABLES)}, BLACK,
              "σ(q) = D (q + 1 − τ) fitted over q ≥ " + QString::number(straight) + ", dashed below", true);
}

// The size distributions rescaled by the moments' tau and D: on a pile
// that scales simply they fall on one curve.
void drawCollapse(const SeriesSummary &summary, QPainter &painter)
{
    const MomentScaling &scaling = summary.scaling[Tally::Size];
    const double tau = scaling.tau.value, d = scaling.dimension.value;
    std::vector<QPolygonF> curves;
    double xLow = 1, xHigh = 1, yLow = 1, yHigh = 1;
    for (const SeriesResult::Side &side : summary.result.sides) {
        QPolygonF curve;
        if (scaling.valid)
            for (const QPointF &p : sizeDensities(side.tally.histograms[Tally::Size])) {
                curve << QPointF(p.x() / std::pow(double(side.side), d), p.y() * std::pow(p.x(), tau));
                xLow = std::min(xLow, curve.back().x());
                xHigh = std::max(xHigh, curve.back().x());
                yLow = std::min(yLow, curve.back().y());
                yHigh = std::max(yHigh, curve.back().y());
            }
        curves.push_back(curve);
    }
    const Axes axes{decades(xLow, xHigh), decades(yLow, yHigh)};
    drawAxes(painter, axes, "s / L^D", "P(s) s^τ",
             "Collapse of the size distributions with the moments' τ and D");
    for (std::size_t c = 0; c < curves.size(); ++c) {
        const QRgb colour = PALETTE[c % std::size(PALETTE)];
        QPolygonF mapped;
        for (const QPointF &p : curves[c]) {
            mapped << axes.map(p);
            dot(painter, mapped.back(), colour);
        }
        line(painter, mapped, colour, 1);
        // The legend, bottom left, below the flat part of the curves.
        const double y = BOTTOM - 15 - 20 * double(curves.size() - c);
        legendRow(painter, {LEFT + 15, y}, colour, "L = " + QString::number(summary.result.sides[c].side));
    }
    text(painter, {LEFT + 15, BOTTOM - 15},
         scaling.valid ? "τ = " + estimateText(scaling.tau) + ", D = " + estimateText(scaling.dimension)
                       : QString("no τ and D: a side has no avalanche"),
         Qt::AlignLeft);
}

} // namespace

int height(const SeriesSummary &summary)
{
    return summary.scaled ? HEIGHT * (1 + SCALING_PANELS) : HEIGHT;
}

void draw(const SeriesSummary &summary, QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font("DejaVu Sans");
    font.setPixelSize(FONT_PIXELS);
    painter.setFont(font);

    // Each panel draws in its own WIDTH x HEIGHT frame, one below the other.
    drawDistributions(summary, painter);
    if (!summary.scaled)
        return;
    painter.save();
    painter.translate(0, HEIGHT);
    drawSigma(summary, painter);
    painter.translate(0, HEIGHT);
    drawCollapse(summary, painter);
    painter.restore();
}

void write(const SeriesSummary &summary, const std::string &path)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".svg") == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize({WIDTH, height(summary)});
        svg.setViewBox(QRect(0, 0, WIDTH, height(summary)));
        svg.setResolution(CSS_DPI);   // WIDTH x HEIGHT pixels, as the PNG
        svg.setTitle("BTW sandpile: avalanche size distributions");
        QPainter painter(&svg);
        painter.fillRect(QRect(0, 0, WIDTH, height(summary)), Qt::white);
        draw(summary, painter);
    } else {
        QImage image(WIDTH, height(summary), QImage::Format_RGB32);
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
