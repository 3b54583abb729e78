#pragma once

#include "lattice.h"

#include <QImage>
#include <QRegion>

#include <algorithm>
#include <memory>

class QPainter;

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

// What a square shows: the heights 0 to 3 are their own shades.
enum Shade : uchar { Toppling = Lattice::TOPPLING_HEIGHT, Burnt, SHADE_COUNT };

inline uchar shadeOfHeight(int height)
{
    return uchar(std::clamp(height, 0, int(Toppling)));
}

} // namespace Picture

// The retained picture of the lattice: one byte per site holding its shade,
// shown through the colour scheme as CELL x CELL squares. Painting a site
// stores a byte, about as cheap as the toppling that changed it, and marks
// its row. Painting goes to a working copy; presenting copies the marked
// rows to the frame that repaints show, so that whenever a repaint happens
// it shows the picture as it was when it was presented.
class LatticeImage
{
public:
    LatticeImage();
    LatticeImage(const LatticeImage &) = delete;
    LatticeImage &operator=(const LatticeImage &) = delete;

    void fillSquare(int site, uchar shade)
    {
        fillSquareOnMarkedRow(site, shade);
        markRowChanged(Lattice::row(site));
    }

    // For painting in bulk: fills a square whose row the caller marks.
    void fillSquareOnMarkedRow(int site, uchar shade) { shades[site] = shade; }
    void markRowChanged(int row) { rowChanged[row + 1] = true; }
    // A toppling changes its own row and the rows above and below.
    void markRowsAround(int row) { rowChanged[row] = rowChanged[row + 1] = rowChanged[row + 2] = true; }

    bool hasChanges() const;
    // Puts the changed rows into the frame and returns them in widget
    // coordinates, as few bands as possible, for repainting.
    QRegion present();

    // Draws the part of the frame inside a region of the widget.
    void draw(QPainter &painter, const QRegion &region) const;

private:
    void forgetChanges();

    std::unique_ptr<uchar[]> shades;        // the working copy
    std::unique_ptr<uchar[]> frameShades;   // as last presented
    QImage frame;       // a view of frameShades through the colour scheme, never copied
    // Whether each row changed, with a spare entry above and below the
    // lattice so that marking the rows around a toppling needs no test.
    bool rowChanged[Lattice::L + 2];
};
