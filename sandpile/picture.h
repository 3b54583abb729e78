#pragma once

#include "lattice.h"

#include <QImage>
#include <QRegion>

#include <memory>

// Geometry of the lattice picture in the coordinates of the lattice widget.
namespace Picture {

constexpr int CELL = 4;                     // side of one site's square
constexpr int LATTICE_X = 200;              // left edge of the picture
constexpr int LATTICE_Y = 0;                // top edge of the picture
constexpr int SIZE = Lattice::L * CELL;     // the picture is SIZE x SIZE

inline QRect siteSquare(int site)
{
    return QRect(LATTICE_X + Lattice::column(site) * CELL, LATTICE_Y + Lattice::row(site) * CELL,
                 CELL, CELL);
}

inline QRect area()
{
    return QRect(LATTICE_X, LATTICE_Y, SIZE, SIZE);
}

} // namespace Picture

// The retained image of the lattice. Squares are written straight into its
// pixels, which costs about as little as the toppling that changed them, and
// the squares changed since the last repaint are remembered row by row so
// that one repaint request covers them all.
class LatticeImage
{
public:
    LatticeImage();
    LatticeImage(const LatticeImage &) = delete;
    LatticeImage &operator=(const LatticeImage &) = delete;

    void fillSquare(int site, QRgb colour)
    {
        const int row = Lattice::row(site);
        const int column = Lattice::column(site);
        QRgb *pixel = pixels.get() + row * Picture::CELL * Picture::SIZE + column * Picture::CELL;
        for (int y = 0; y < Picture::CELL; ++y, pixel += Picture::SIZE) {
            for (int x = 0; x < Picture::CELL; ++x)
                pixel[x] = colour;
        }
        markChanged(row, column);
    }

    void markAllChanged();
    bool hasChanges() const { return firstChangedRow <= lastChangedRow; }
    // The changed squares in widget coordinates, as few row bands as
    // possible; forgets them.
    QRegion takeChanges();

    const QImage &image() const { return wrapper; }

private:
    void markChanged(int row, int column)
    {
        if (column < changedFrom[row])
            changedFrom[row] = column;
        if (column > changedTo[row])
            changedTo[row] = column;
        if (row < firstChangedRow)
            firstChangedRow = row;
        if (row > lastChangedRow)
            lastChangedRow = row;
    }
    void forgetChanges();

    std::unique_ptr<QRgb[]> pixels;
    QImage wrapper;     // a view of pixels, never copied
    int changedFrom[Lattice::L];
    int changedTo[Lattice::L];
    int firstChangedRow;
    int lastChangedRow;
};
