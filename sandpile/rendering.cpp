#include "colours.h"
#include "readout.h"
#include "sandpile.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

void Sandpile::update()
{
    drawLattice();
    presentChanges();
}

// The full redraw: every square from the heights alone, so that it wipes
// out whatever the single-site paints showed that z does not.
void Sandpile::drawLattice()
{
    for (int i = 0; i < Lattice::N; ++i)
        paintHeight(i);
}

void Sandpile::paintHeight(int site)
{
    paintCell(site, Picture::shadeOfHeight(z[site]));
}

// Presents a frame: the read-outs and the picture as they are now, at a
// tick boundary, go to the screen together.
void Sandpile::presentChanges()
{
    grainsLCD->present();
    slopeLCD->present();
    sLCD->present();
    largestLCD->present();
    if (picture.hasChanges())
        QWidget::update(picture.present());
    sinceLastFrame.start();
}

// Repaints copy the presented frame; they never recompute it, so a repaint
// asked for by a cell paint shows exactly what was painted.
void Sandpile::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    picture.draw(painter, event->region());
}

// The window system's backing store keeps the old pixels when a window is
// uncovered, so exposures are watched on the top-level window: they redraw
// the lattice from the heights. Frames follow the refresh rate of the
// screen the window is on, where the platform reports a plausible one.
void Sandpile::showEvent(QShowEvent *)
{
    if (QWindow *handle = window()->windowHandle())
        handle->installEventFilter(this);
    const qreal rate = screen() ? screen()->refreshRate() : 0;
    frameInterval = rate >= 20 && rate <= 500 ? qRound(1000 / rate) : DEFAULT_FRAME_INTERVAL_MS;
}

bool Sandpile::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && watched == window()->windowHandle())
        update();
    return false;
}
