#include "sandpile.h"

// The slots behind the window's controls. Each records the user's choice;
// its effect on the simulation comes at the next tick. Each presents what
// the screen should show at once, without waiting for the next frame.

// Switching between "run free" and "sprinkle" continues the same pile; any
// other change of style starts the new style's own pile.
void Sandpile::slotRunningStyle(int style)
{
    const bool keepsPile = style == runningStyle
                           || (runningStyle == RunFree && style == Sprinkle)
                           || (runningStyle == Sprinkle && style == RunFree);
    runningStyle = style;
    if (!keepsPile)
        reinitialise();
    presentChanges();
}

// Releasing Burn gives the test's picture back to the heights.
void Sandpile::slotBurn(bool on)
{
    burnOn = on;
    if (!on)
        update();
    presentChanges();
}

// Switching the display on catches the picture up with the pile.
void Sandpile::slotDisplay(bool on)
{
    displayOn = on;
    if (on)
        update();
    presentChanges();
}

void Sandpile::slotSpeed(int value)
{
    speed = value;
    presentChanges();
}

// Re-initialising redraws and presents the fresh pile.
void Sandpile::slotStartAgain()
{
    reinitialise();
}
