#pragma once

#include <cstddef>
#include <cstdint>

// How a lattice's low edge along one axis ends: open (grains given across it
// are lost), or folded onto a mirror line of a pile that has the square's
// symmetries. A fold through a line of sites makes the neighbour across the
// line the image of the site beside it; a fold between two lines of sites
// makes each site on the edge the neighbour of its own image.
enum class Fold : std::uint8_t { Open, ThroughSites, BetweenSites };

// The sites a big stabilisation works on: a width x height lattice with open
// edges, or the quadrant of a symmetric pile, its low edges folded. Only the
// quadrant is stored; the whole pile is its images.
//
// Sites are stored with a ring of edge cells around them, in rows whose
// stride is a power of two, so that a site's column is a mask of its index.
// The unused tail of each row is never touched, so never in memory.
class FoldedLattice
{
public:
    static constexpr int MAX_SIDE = 1 << 15;   // stored sites per row or column

    // Throws std::invalid_argument for a side outside 1..MAX_SIDE.
    FoldedLattice(int width, int height, Fold foldX = Fold::Open, Fold foldY = Fold::Open);

    // The stored part of a whole width x height lattice folded so: a fold
    // through sites needs an odd side, one between sites an even one.
    static FoldedLattice folding(int wholeWidth, int wholeHeight, Fold foldX, Fold foldY);

    int width() const { return w; }
    int height() const { return h; }
    Fold foldX() const { return xFold; }
    Fold foldY() const { return yFold; }
    int shift() const { return rowShift; }
    std::uint32_t stride() const { return std::uint32_t(1) << rowShift; }
    // Cells to allocate: every site, the edge ring and the rows' unused tails.
    std::size_t cells() const { return std::size_t(h + 2) << rowShift; }
    // Bytes a cell array really occupies, one per byte of `bytesPerCell`.
    std::size_t residentBytes(std::size_t bytesPerCell) const;

    std::uint32_t index(int x, int y) const { return std::uint32_t(y + 1) << rowShift | std::uint32_t(x + 1); }
    int x(std::uint32_t cell) const { return int(cell & (stride() - 1)) - 1; }
    int y(std::uint32_t cell) const { return int(cell >> rowShift) - 1; }

    // The whole lattice the stored sites stand for, and how many of its
    // sites the stored site (x, y) stands for: 1, 2 or 4.
    int wholeWidth() const { return wholeSide(w, xFold); }
    int wholeHeight() const { return wholeSide(h, yFold); }
    int images(int x, int y) const { return imagesAlong(x, xFold) * imagesAlong(y, yFold); }
    // The stored coordinate of the whole lattice's column or row `whole`,
    // 0 at the low edge of the whole lattice.
    int foldedX(int whole) const { return folded(whole, w, xFold); }
    int foldedY(int whole) const { return folded(whole, h, yFold); }
    // The whole lattice's column or row of a stored one, on the high side.
    int wholeX(int x) const { return wholeSide(w, xFold) - w + x; }
    int wholeY(int y) const { return wholeSide(h, yFold) - h + y; }

    // True where a toppling gives one grain to each of the four cells
    // around and all four are sites: every site but those on the lattice's
    // border, where grains go to the sink or to a fold's images, and those
    // next to the low border (a fold through sites doubles what they give).
    bool plain(std::uint32_t cell) const
    {
        const std::uint32_t column = cell & (stride() - 1), row = cell >> rowShift;   // each 1 past the site's
        return column >= 3 && column < std::uint32_t(w) && row >= 3 && row < std::uint32_t(h);
    }

    // Visits the sites a toppling of `cell` gives grains to, with the grains
    // each takes per toppling: visit(neighbour, grains). Edge cells are left
    // out, so are images of stored sites across a fold (their grains are
    // the images of grains a stored site takes).
    template <typename Visit>
    void forEachNeighbour(std::uint32_t cell, Visit visit) const
    {
        const int cx = x(cell), cy = y(cell);
        alongAxis(cell, cx, w, xFold, 1, visit);
        alongAxis(cell, cy, h, yFold, stride(), visit);
    }

private:
    template <typename Visit>
    static void alongAxis(std::uint32_t cell, int at, int length, Fold fold, std::uint32_t step, Visit &visit)
    {
        if (at > 0)   // the low neighbour is a site, doubled on a fold through sites
            visit(cell - step, at == 1 && fold == Fold::ThroughSites ? 2 : 1);
        else if (fold == Fold::BetweenSites)
            visit(cell, 1);   // its own image
        if (at + 1 < length)
            visit(cell + step, 1);
    }
    static int wholeSide(int side, Fold fold);
    static int storedSide(int whole, Fold fold);
    static int imagesAlong(int at, Fold fold) { return fold == Fold::Open || (at == 0 && fold == Fold::ThroughSites) ? 1 : 2; }
    static int folded(int whole, int side, Fold fold);

    int w, h;
    Fold xFold, yFold;
    int rowShift;   // log2 of the row stride, at least width + 2
};
