#pragma once

#include "engine/sandpilemodel.h"

#include <QImage>
#include <QRegion>

#include <algorithm>
#include <memory>
#include <vector>

class QPainter;

// The retained picture of the lattice, in its own image coordinates: one
// byte per site holding its shade, shown through the colour scheme as
// CELL x CELL squares, row 0 at the top. Painting a site stores a byte and
// marks its stretch of sites as changed, about as cheap as the toppling
// that changed it. Painting goes to a working copy; presenting copies the
// changed rows to the frame that repaints show, so that whenever a repaint
// happens it shows the picture as it was when it was presented.
class LatticeImage
{
public:
    static constexpr int CELL = 4;   // side of one site's square

    // What a square shows: the heights 0 to 3 are their own shades.
    enum Shade : uchar { Toppling = Lattice::TOPPLING_HEIGHT, Burnt, SHADE_COUNT };
    static uchar shadeOfHeight(int height) { return uchar(std::clamp(height, 0, int(Toppling))); }

    // Paints every change of a pile into the picture as it happens.
    struct Painter : SandpileObserver {
        LatticeImage &picture;
        void toppled(int site, int height) { picture.fillSquare(site, shadeOfHeight(height)); }
        void received(int site, int height) { picture.fillSquare(site, shadeOfHeight(height)); }
        void burnt(int site) { picture.fillSquare(site, Burnt); }
    };

    explicit LatticeImage(int side);
    LatticeImage(const LatticeImage &) = delete;
    LatticeImage &operator=(const LatticeImage &) = delete;

    QSize size() const { return {L * CELL, L * CELL}; }
    QRect rect() const { return {QPoint(0, 0), size()}; }
    QRect squareOf(int site) const { return {site % L * CELL, site / L * CELL, CELL, CELL}; }
    // The site whose square holds a point, or -1 outside the picture.
    int siteAt(QPoint point) const;

    void fillSquare(int site, uchar shade)
    {
        shades[site] = shade;
        stretchChanged[site >> STRETCH_SHIFT] = 1;
    }
    bool hasChanges() const;
    // Puts the changed rows into the frame and returns them, as few bands
    // as possible, for repainting.
    QRegion present();

    // Draws the part of the frame inside a region, both in image coordinates.
    void draw(QPainter &painter, const QRegion &region) const;

private:
    // Changes are marked per stretch of 64 consecutive sites: a shift, not a
    // division by the side.
    static constexpr int STRETCH_SHIFT = 6;

    const int L;
    std::unique_ptr<uchar[]> shades;        // the working copy
    std::unique_ptr<uchar[]> frameShades;   // as last presented
    QImage frame;   // a view of frameShades through the colour scheme, never copied
    std::vector<uchar> stretchChanged;
};
