#include "picture.h"
#include "colours.h"

#include <QPainter>

#include <algorithm>
#include <vector>

LatticeImage::LatticeImage()
    : shades(new uchar[Lattice::N]())
    , frameShades(new uchar[Lattice::N]())
    , frame(frameShades.get(), Lattice::L, Lattice::L, Lattice::L, QImage::Format_Indexed8)
{
    QList<QRgb> scheme;
    for (const QColor &colour : Colours::height)
        scheme.append(colour.rgb());
    scheme.append(Colours::burnt.rgb());
    Q_ASSERT(scheme.size() == Picture::SHADE_COUNT);
    frame.setColorTable(scheme);
    forgetChanges();
}

void LatticeImage::draw(QPainter &painter, const QRegion &region) const
{
    const QRegion inPicture = region.intersected(Picture::area()).translated(-Picture::LATTICE_X, -Picture::LATTICE_Y);
    if (inPicture.isEmpty())
        return;
    // Whole squares covering the region, through the colour scheme once;
    // the painter clips to the region.
    auto squaresCovering = [](const QRect &rect) {
        return QRect(QPoint(rect.left() / Picture::CELL, rect.top() / Picture::CELL),
                     QPoint(rect.right() / Picture::CELL, rect.bottom() / Picture::CELL));
    };
    const QRect bounds = squaresCovering(inPicture.boundingRect());
    const QImage coloured = frame.copy(bounds).convertToFormat(QImage::Format_RGB32);
    for (const QRect &rect : inPicture) {
        const QRect squares = squaresCovering(rect);
        const QRect target(Picture::LATTICE_X + squares.left() * Picture::CELL,
                           Picture::LATTICE_Y + squares.top() * Picture::CELL,
                           squares.width() * Picture::CELL, squares.height() * Picture::CELL);
        painter.drawImage(target, coloured, squares.translated(-bounds.topLeft()));
    }
}

bool LatticeImage::hasChanges() const
{
    return std::find(std::begin(rowChanged), std::end(rowChanged), true) != std::end(rowChanged);
}

QRegion LatticeImage::present()
{
    std::vector<QRect> bands;
    for (int row = 0; row < Lattice::L; ++row) {
        if (!rowChanged[row + 1])
            continue;
        std::copy_n(shades.get() + row * Lattice::L, Lattice::L, frameShades.get() + row * Lattice::L);
        // Consecutive changed rows merge into one band.
        const int top = Picture::LATTICE_Y + row * Picture::CELL;
        if (!bands.empty() && bands.back().bottom() + 1 == top)
            bands.back().setBottom(top + Picture::CELL - 1);
        else
            bands.emplace_back(Picture::LATTICE_X, top, Picture::SIZE, Picture::CELL);
    }
    forgetChanges();
    QRegion region;
    region.setRects(bands.data(), int(bands.size()));
    return region;
}

void LatticeImage::forgetChanges()
{
    std::fill(std::begin(rowChanged), std::end(rowChanged), false);
}
