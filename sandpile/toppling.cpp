#include "readout.h"
#include "sandpile.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

// The toppling rule. Every site in the front holding 4 or more grains loses
// 4 and gives one to each neighbour; a grain given across the edge is lost.
// Sites that reach exactly 4 are listed in nextFront, so each appears there
// once. Heights change in place: a site later in the front sees the grains
// the earlier ones gave. changed(site, height) follows every change of a
// height, so its last call for a site sees the height the sweep leaves.
// Returns the length of nextFront.
template <typename Changed>
int toppleFront(int *z, const int *front, int frontCount, int *nextFront, Changed changed)
{
    int nextCount = 0;
    for (int k = 0; k < frontCount; ++k) {
        const int i = front[k];
        if (z[i] < Lattice::TOPPLING_HEIGHT)
            continue;
        changed(i, z[i] -= Lattice::TOPPLING_HEIGHT);
        Lattice::forEachNeighbour(i, [&](int n) {
            const int height = ++z[n];
            if (height == Lattice::TOPPLING_HEIGHT)
                nextFront[nextCount++] = n;
            changed(n, height);
        });
    }
    return nextCount;
}

} // namespace

// One parallel sweep of the avalanche in progress: the front topples, the
// sites that reached 4 become the next front, the changed squares are
// repainted and the statistics follow.
void Sandpile::relax()
{
    if (speed == Slow)
        waitBeforeSweep();

    // Drawn, each square is painted as its height changes: a byte store,
    // with the rows marked once per toppled site.
    int nextCount;
    if (displayOn) {
        nextCount = toppleFront(z.get(), front.get(), frontCount, nextFront.get(), [this](int site, int height) {
            picture.fillSquareOnMarkedRow(site, Picture::shadeOfHeight(height));
        });
        for (int k = 0; k < frontCount; ++k)
            picture.markRowsAround(Lattice::row(front[k]));
    } else {
        nextCount = toppleFront(z.get(), front.get(), frontCount, nextFront.get(), [](int, int) {});
    }
    avalancheSize += frontCount;
    std::swap(front, nextFront);
    frontCount = nextCount;

    if (displayOn && keepsStatistics())
        sLCD->showCount(avalancheSize);

    if (keepsStatistics()) {
        if (avalancheSize > largestAvalanche) {
            largestAvalanche = avalancheSize;
            largestLCD->showCount(largestAvalanche);
        }
        if (grainsAdded % 100 == 0)
            showAverageSlope();
    }
}

// "slow" holds the event loop for 100 ms before each sweep, asleep rather
// than spinning.
void Sandpile::waitBeforeSweep() const
{
    constexpr qint64 SLOW_SWEEP_MS = 100;
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = SLOW_SWEEP_MS; left > 0; left = SLOW_SWEEP_MS - clock.elapsed())
        QThread::msleep(static_cast<unsigned long>(left));
}
