#pragma once

#include "sandpilemodel.h"

// The clock of the model: one call of tick() per tick. It holds the user's
// choices (running style, speed, burn) and decides what a tick does, which
// is exactly one of: nothing; one sweep of the avalanche in progress; adding
// grains as the running style prescribes and, when a site reaches 4,
// starting an avalanche there with its first sweep; or the burning test.
class GrainDriver
{
public:
    using RunningStyle = SandpileModel::RunningStyle;
    enum Speed { Fast, Slow, Pause };

    // What one tick did.
    struct Tick {
        bool dropped = false;   // grains were added
        bool swept = false;     // the avalanche advanced by one sweep
        bool burnt = false;     // the burning test ran
    };

    explicit GrainDriver(SandpileModel &model) : pile(model) {}

    RunningStyle runningStyle() const { return style; }
    Speed speed() const { return pace; }
    bool burnOn() const { return burnDown; }
    bool isFractalsand() const { return style >= SandpileModel::Fractalsand0; }
    bool keepsStatistics() const { return !isFractalsand(); }

    // Switching between "run free" and "sprinkle" continues the same pile;
    // any other change of style lays the new style's starting pile. Tells
    // whether it did.
    bool setRunningStyle(RunningStyle newStyle);
    void setSpeed(Speed newSpeed) { pace = newSpeed; }
    void setBurn(bool on) { burnDown = on; }
    void reinitialise() { pile.reinitialise(style); }

    // Whether no tick can change anything until the user does something.
    bool isResting() const;
    // Whether the next tick sweeps: advances an avalanche, or drops grains
    // that start one.
    bool nextTickSweeps() const;
    // Whether the next tick runs the burning test.
    bool nextTickBurns() const
    {
        return pace != Pause && !pile.avalancheInProgress() && !isFractalsand() && burnDown && !burnDone;
    }

    template <typename Observer>
    Tick tick(Observer &observer);

private:
    SandpileModel &pile;
    RunningStyle style = SandpileModel::RunFree;
    Speed pace = Fast;
    bool burnDown = false;
    // The burning test ran since Burn went down. A tick that would drop
    // grains of style 0 or 1 with Burn up clears it, so the test runs once
    // for each press of Burn.
    bool burnDone = false;
};

template <typename Observer>
GrainDriver::Tick GrainDriver::tick(Observer &observer)
{
    Tick did;
    if (pace == Pause)
        return did;
    if (pile.avalancheInProgress()) {
        pile.relax(observer);
        did.swept = true;
        return did;
    }
    if (isFractalsand()) {
        pile.dropAtCentre(observer);
    } else if (burnDown) {
        if (!burnDone)
            pile.burn(observer);
        did.burnt = !burnDone;
        burnDone = true;
        return did;
    } else {
        burnDone = false;
        if (style == SandpileModel::Sprinkle) {
            if (!pile.dropAtSelectedSite(observer))
                return did;
        } else {
            pile.dropAtRandom(observer);
        }
    }
    did.dropped = true;
    if (pile.avalancheInProgress()) {
        pile.relax(observer);
        did.swept = true;
    }
    return did;
}
