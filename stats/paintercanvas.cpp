#include "paintercanvas.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

void PainterCanvas::polyline(const std::vector<Point> &points, Colour colour, double width, bool dashed)
{
    QPolygonF polygon;
    for (const Point &p : points)
        polygon << QPointF(p.x, p.y);
    QPen pen{QColor(QRgb(colour))};
    pen.setWidthF(width);
    if (dashed)
        pen.setDashPattern({6 / width, 4 / width});
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(polygon);
}

void PainterCanvas::dot(Point centre, double radius, Colour colour)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(QRgb(colour)));
    painter.drawEllipse(QPointF(centre.x, centre.y), radius, radius);
}

void PainterCanvas::text(Point at, const std::string &utf8, Align align, bool vertical)
{
    const QString string = QString::fromStdString(utf8);
    const double width = QFontMetricsF(painter.font()).horizontalAdvance(string);
    const double shift = align == Left ? 0 : align == Centre ? width / 2 : width;
    painter.save();
    painter.setPen(Qt::black);
    painter.translate(at.x, at.y);
    if (vertical)
        painter.rotate(-90);
    painter.drawText(QPointF(-shift, 0), string);
    painter.restore();
}
