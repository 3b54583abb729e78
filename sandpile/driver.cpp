#include "sandpile.h"

#include <QMouseEvent>

// The grain driver, run on every tick of the widget's idle timer.
void Sandpile::sprinkle()
{
}

void Sandpile::mousePressEvent(QMouseEvent *)
{
}
