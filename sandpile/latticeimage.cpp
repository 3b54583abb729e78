#include "latticeimage.h"
#include "colours.h"

#include <QPainter>

LatticeImage::LatticeImage(int side)
    : L(side)
    , shades(new uchar[size_t(side) * side]())
    , frameShades(new uchar[size_t(side) * side]())
    , frame(frameShades.get(), side, side, side, QImage::Format_Indexed8)
    , stretchChanged(((size_t(side) * side - 1) >> STRETCH_SHIFT) + 1, 0)
{
    QList<QRgb> scheme;
    for (const QColor &colour : Colours::height)
        scheme.append(colour.rgb());
    scheme.append(Colours::burnt.rgb());
    Q_ASSERT(scheme.size() == SHADE_COUNT);
    frame.setColorTable(scheme);
}

int LatticeImage::siteAt(QPoint point) const
{
    if (!rect().contains(point))
        return -1;
    return point.y() / CELL * L + point.x() / CELL;
}

bool LatticeImage::hasChanges() const
{
    return std::find(stretchChanged.begin(), stretchChanged.end(), 1) != stretchChanged.end();
}

QRegion LatticeImage::present()
{
    std::vector<bool> rowChanged(L, false);
    for (size_t stretch = 0; stretch < stretchChanged.size(); ++stretch) {
        if (!stretchChanged[stretch])
            continue;
        const int first = int(stretch << STRETCH_SHIFT);
        const int last = std::min(first + (1 << STRETCH_SHIFT), L * L) - 1;
        for (int row = first / L; row <= last / L; ++row)
            rowChanged[row] = true;
    }
    std::fill(stretchChanged.begin(), stretchChanged.end(), 0);

    std::vector<QRect> bands;
    for (int row = 0; row < L; ++row) {
        if (!rowChanged[row])
            continue;
        std::copy_n(shades.get() + row * L, L, frameShades.get() + row * L);
        // Consecutive changed rows merge into one band.
        const int top = row * CELL;
        if (!bands.empty() && bands.back().bottom() + 1 == top)
            bands.back().setBottom(top + CELL - 1);
        else
            bands.emplace_back(0, top, L * CELL, CELL);
    }
    QRegion region;
    region.setRects(bands.data(), int(bands.size()));
    return region;
}

void LatticeImage::draw(QPainter &painter, const QRegion &region) const
{
    const QRegion inPicture = region.intersected(rect());
    if (inPicture.isEmpty())
        return;
    // Whole squares covering the region, through the colour scheme once;
    // the painter clips to the region.
    auto squaresCovering = [](const QRect &r) {
        return QRect(QPoint(r.left() / CELL, r.top() / CELL), QPoint(r.right() / CELL, r.bottom() / CELL));
    };
    const QRect bounds = squaresCovering(inPicture.boundingRect());
    const QImage coloured = frame.copy(bounds).convertToFormat(QImage::Format_RGB32);
    for (const QRect &r : inPicture) {
        const QRect squares = squaresCovering(r);
        const QRect target(squares.left() * CELL, squares.top() * CELL, squares.width() * CELL,
                           squares.height() * CELL);
        painter.drawImage(target, coloured, squares.translated(-bounds.topLeft()));
    }
}
