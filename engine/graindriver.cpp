#include "graindriver.h"

bool GrainDriver::setRunningStyle(RunningStyle newStyle)
{
    const bool keepsPile = newStyle == style
                           || (style == SandpileModel::RunFree && newStyle == SandpileModel::Sprinkle)
                           || (style == SandpileModel::Sprinkle && newStyle == SandpileModel::RunFree);
    style = newStyle;
    if (!keepsPile)
        reinitialise();
    return !keepsPile;
}

bool GrainDriver::nextTickSweeps() const
{
    if (pace == Pause)
        return false;
    if (pile.avalancheInProgress() || isFractalsand())
        return true;
    if (burnDown)
        return false;
    if (style == SandpileModel::RunFree)
        return true;
    const int site = pile.selectedSite();
    return site >= 0 && pile.z()[site] == Lattice::MAX_STABLE_HEIGHT;
}

bool GrainDriver::isResting() const
{
    if (pace == Pause)
        return true;
    if (pile.avalancheInProgress() || isFractalsand())
        return false;
    if (burnDown)
        return burnDone;
    // With Burn up, the next tick clears the latch before it rests.
    return style == SandpileModel::Sprinkle && pile.selectedSite() < 0 && !burnDone;
}
