#include "sandpile.h"

// The slots behind the window's controls.

void Sandpile::slotRunningStyle(int style)
{
    runningStyle = style;
}

void Sandpile::slotBurn(bool on)
{
    burnOn = on;
}

void Sandpile::slotDisplay(bool on)
{
    displayOn = on;
}

void Sandpile::slotSpeed(int value)
{
    speed = value;
}

void Sandpile::slotStartAgain()
{
    reinitialise();
}
