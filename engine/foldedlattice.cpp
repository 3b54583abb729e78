#include "foldedlattice.h"

#include <algorithm>
#include <stdexcept>
#include <string>

FoldedLattice::FoldedLattice(int width, int height, Fold foldX, Fold foldY)
    : w(width)
    , h(height)
    , xFold(foldX)
    , yFold(foldY)
    , rowShift(0)
{
    if (width < 1 || height < 1 || width > MAX_SIDE || height > MAX_SIDE)
        throw std::invalid_argument("a lattice of " + std::to_string(width) + " x " + std::to_string(height)
                                    + " sites is outside 1.." + std::to_string(MAX_SIDE) + " a side");
    while ((1 << rowShift) < width + 2)
        ++rowShift;
}

std::size_t FoldedLattice::residentBytes(std::size_t bytesPerCell) const
{
    // Each row's unused tail is untouched, but for the page it begins on.
    constexpr std::size_t PAGE = 4096;
    const std::size_t used = std::size_t(w + 2) * bytesPerCell;
    const std::size_t row = std::size_t(stride()) * bytesPerCell;
    return std::size_t(h + 2) * std::min(row, used + PAGE);
}

FoldedLattice FoldedLattice::folding(int wholeWidth, int wholeHeight, Fold foldX, Fold foldY)
{
    const auto folds = [](int whole, Fold fold) { return fold == Fold::Open || whole % 2 == (fold == Fold::ThroughSites); };
    if (!folds(wholeWidth, foldX) || !folds(wholeHeight, foldY))
        throw std::invalid_argument("a fold through sites needs an odd side, one between sites an even one");
    return FoldedLattice(storedSide(wholeWidth, foldX), storedSide(wholeHeight, foldY), foldX, foldY);
}

int FoldedLattice::storedSide(int whole, Fold fold)
{
    switch (fold) {
    case Fold::Open: return whole;
    case Fold::ThroughSites: return (whole + 1) / 2;
    case Fold::BetweenSites: return whole / 2;
    }
    return whole;
}

int FoldedLattice::wholeSide(int side, Fold fold)
{
    switch (fold) {
    case Fold::Open: return side;
    case Fold::ThroughSites: return 2 * side - 1;
    case Fold::BetweenSites: return 2 * side;
    }
    return side;
}

int FoldedLattice::folded(int whole, int side, Fold fold)
{
    switch (fold) {
    case Fold::Open: return whole;
    case Fold::ThroughSites: return whole < side - 1 ? side - 1 - whole : whole - (side - 1);
    case Fold::BetweenSites: return whole < side ? side - 1 - whole : whole - side;
    }
    return whole;
}
