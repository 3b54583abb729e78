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

    // What the next tick does, decided in one place: tick() does it, and
    // the questions below are asked of it.
    enum class Step {
        Wait,             // paused
        Sweep,            // the avalanche in progress advances
        DropAtCentre,     // a fractalsand grain
        Burn,             // the burning test, once for each press of Burn
        StayBurnt,        // Burn held after its test: nothing
        DropAtRandom,     // "run free"
        DropAtSelected,   // "sprinkle", on the site clicked
        NoSiteSelected,   // "sprinkle" with nothing clicked: nothing
    };
    Step nextStep() const;

    // Whether no tick can change anything until the user does something.
    bool isResting() const;
    // Whether the next tick sweeps: advances an avalanche, or drops grains
    // that start one.
    bool nextTickSweeps() const;
    // Whether the next tick runs the burning test.
    bool nextTickBurns() const { return nextStep() == Step::Burn; }

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
    const Step step = nextStep();
    // A tick that would drop grains of style 0 or 1 with Burn up clears
    // the latch, whether or not it drops.
    if (step == Step::DropAtRandom || step == Step::DropAtSelected || step == Step::NoSiteSelected)
        burnDone = false;
    switch (step) {
    case Step::Wait:
    case Step::StayBurnt:
    case Step::NoSiteSelected:
        return did;
    case Step::Sweep:
        pile.relax(observer);
        did.swept = true;
        return did;
    case Step::Burn:
        pile.burn(observer);
        did.burnt = true;
        burnDone = true;
        return did;
    case Step::DropAtCentre:
        pile.dropAtCentre(observer);
        break;
    case Step::DropAtRandom:
        pile.dropAtRandom(observer);
        break;
    case Step::DropAtSelected:
        pile.dropAtSelectedSite(observer);
        break;
    }
    did.dropped = true;
    if (pile.avalancheInProgress()) {
        pile.relax(observer);
        did.swept = true;
    }
    return did;
}
