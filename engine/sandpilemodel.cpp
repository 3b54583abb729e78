#include "sandpilemodel.h"

#include "stationarypile.h"

#include <algorithm>
#include <numeric>

SandpileModel::SandpileModel(int side, std::int64_t seed)
    : geometry(side)
    , source(seed)
    , heights(geometry.sites(), 0)
    , fronts(geometry.sites())
    , nextFront(geometry.sites())
    , burntMarks(geometry.sites(), 0)
{
}

void SandpileModel::resetCounters()
{
    largest = 0;
    size = 0;
    frontLength = 0;
    grains = 0;
    selected = -1;
}

void SandpileModel::reinitialise(RunningStyle style)
{
    resetCounters();
    if (style == RunFree || style == Sprinkle) {
        for (int &height : heights)
            height = int(uniformRandom() * 4.0);
    } else {
        std::fill(heights.begin(), heights.end(), int(style - Fractalsand0));
    }
    heightSum = std::accumulate(heights.begin(), heights.end(), std::int64_t(0));
}

void SandpileModel::layStationaryPile()
{
    resetCounters();
    std::vector<std::uint8_t> pile(heights.size());
    StationaryPile::lay(geometry, std::uint64_t(source.seed()), pile.data());
    std::copy(pile.begin(), pile.end(), heights.begin());
    heightSum = std::accumulate(heights.begin(), heights.end(), std::int64_t(0));
}

void SandpileModel::setHeights(std::vector<int> newHeights)
{
    if (int(newHeights.size()) != sites())
        throw std::invalid_argument("a pile needs one height per site");
    heights = std::move(newHeights);
    heightSum = std::accumulate(heights.begin(), heights.end(), std::int64_t(0));
}

void SandpileModel::setHeight(int site, int height)
{
    heightSum += height - heights.at(site);
    heights[site] = height;
}

void SandpileModel::startAvalanche(int site)
{
    size = 0;
    fronts[0] = site;
    frontLength = 1;
}

std::vector<int> SandpileModel::boundarySites() const
{
    const int L = side();
    const int N = sites();
    std::vector<int> edge{0, L - 1, N - L, N - 1};
    for (int column = 1; column < L - 1; ++column)
        edge.push_back(column);
    for (int row = 1; row < L - 1; ++row)
        edge.push_back(row * L);
    for (int row = 1; row < L - 1; ++row)
        edge.push_back(row * L + L - 1);
    for (int column = 1; column < L - 1; ++column)
        edge.push_back(N - L + column);
    return edge;
}
