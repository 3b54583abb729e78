#include "picture.h"

#include <vector>

LatticeImage::LatticeImage()
    : pixels(new QRgb[Picture::SIZE * Picture::SIZE]())
    , wrapper(reinterpret_cast<const uchar *>(pixels.get()), Picture::SIZE, Picture::SIZE,
              Picture::SIZE * int(sizeof(QRgb)), QImage::Format_RGB32)
{
    forgetChanges();
}

void LatticeImage::markAllChanged()
{
    for (int row = 0; row < Lattice::L; ++row) {
        markChanged(row, 0);
        markChanged(row, Lattice::L - 1);
    }
}

QRegion LatticeImage::takeChanges()
{
    std::vector<QRect> bands;
    for (int row = firstChangedRow; row <= lastChangedRow; ++row) {
        if (changedFrom[row] > changedTo[row])
            continue;
        const QRect band(Picture::LATTICE_X + changedFrom[row] * Picture::CELL,
                         Picture::LATTICE_Y + row * Picture::CELL,
                         (changedTo[row] - changedFrom[row] + 1) * Picture::CELL, Picture::CELL);
        // Rows changed over the same columns merge into one rectangle.
        if (!bands.empty() && bands.back().left() == band.left() && bands.back().right() == band.right()
            && bands.back().bottom() + 1 == band.top())
            bands.back().setBottom(band.bottom());
        else
            bands.push_back(band);
    }
    forgetChanges();
    QRegion region;
    region.setRects(bands.data(), int(bands.size()));
    return region;
}

void LatticeImage::forgetChanges()
{
    for (int row = 0; row < Lattice::L; ++row) {
        changedFrom[row] = Lattice::L;
        changedTo[row] = -1;
    }
    firstChangedRow = Lattice::L;
    lastChangedRow = -1;
}
