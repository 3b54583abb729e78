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

GrainDriver::Step GrainDriver::nextStep() const
{
    if (pace == Pause)
        return Step::Wait;
    if (pile.avalancheInProgress())
        return Step::Sweep;
    if (isFractalsand())
        return Step::DropAtCentre;
    if (burnDown)
        return burnDone ? Step::StayBurnt : Step::Burn;
    if (style == SandpileModel::RunFree)
        return Step::DropAtRandom;
    return pile.selectedSite() >= 0 ? Step::DropAtSelected : Step::NoSiteSelected;
}

bool GrainDriver::nextTickSweeps() const
{
    switch (nextStep()) {
    case Step::Sweep:
    case Step::DropAtCentre:
    case Step::DropAtRandom:
        return true;
    case Step::DropAtSelected:
        return pile.z()[pile.selectedSite()] == Lattice::MAX_STABLE_HEIGHT;
    default:
        return false;
    }
}

bool GrainDriver::isResting() const
{
    const Step step = nextStep();
    // With Burn up, the next tick clears the latch before it rests.
    return step == Step::Wait || step == Step::StayBurnt || (step == Step::NoSiteSelected && !burnDone);
}
