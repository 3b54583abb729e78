#include "random.h"
#include "readout.h"
#include "sandpile.h"

#include <QMouseEvent>
#include <QtMath>

// The grain driver, the clock of the model: one call per tick of the idle
// timer. A tick does exactly one thing: nothing, one sweep of the avalanche
// in progress, the burning test, or adding grains until one site reaches
// 4 and starting an avalanche there with its first sweep.
//
// A screen shows at most one picture per refresh, so while the simulation
// runs fast its changes are presented once per frame; a tick after which
// nothing more is about to change presents at once.
void Sandpile::sprinkle()
{
    bool atRest = false;
    if (speed == Pause) {
        atRest = true;
    } else if (frontCount != 0) {
        relax();
    } else if (isFractalsand()) {
        dropAtCentre();
    } else if (burnOn) {
        // The test runs once each time Burn goes down; its picture then stays.
        if (!burnDone)
            burn();
        burnDone = true;
        atRest = true;
    } else {
        burnDone = false;
        if (runningStyle == Sprinkle)
            atRest = !dropAtSelectedSite();
        else
            dropAtRandom();
    }
    if (atRest || speed == Slow || sinceLastFrame.elapsed() >= frameInterval)
        presentChanges();
}

// Grains on the centre of a flat pile until it topples. These styles keep
// no statistics: the read-outs are blanked.
void Sandpile::dropAtCentre()
{
    while (z[Lattice::CENTRE_SITE] < Lattice::TOPPLING_HEIGHT) {
        addGrain(Lattice::CENTRE_SITE);
        grainsLCD->blank();
    }
    startAvalanche(Lattice::CENTRE_SITE);
    sLCD->blank();
    slopeLCD->blank();
    largestLCD->blank();
    relax();
}

// One grain at the site last clicked, if any; tells whether there was one.
bool Sandpile::dropAtSelectedSite()
{
    if (selectedSite < 0)
        return false;
    const int site = selectedSite;
    selectedSite = -1;
    addGrain(site);
    countGrain();
    if (z[site] == Lattice::TOPPLING_HEIGHT) {
        startAvalanche(site);
        relax();
    }
    return true;
}

// Grains at random sites until one reaches 4. A stable lattice holds at
// most 3 grains a site, so this ends.
void Sandpile::dropAtRandom()
{
    int site;
    do {
        site = int(uniformRandom() * Lattice::L * Lattice::L);
        addGrain(site);
        countGrain();
    } while (z[site] != Lattice::TOPPLING_HEIGHT);
    startAvalanche(site);
    relax();
}

void Sandpile::addGrain(int site)
{
    ++z[site];
    if (displayOn)
        paintHeight(site);
}

void Sandpile::countGrain()
{
    ++grainsAdded;
    grainsLCD->showCount(grainsAdded);
}

void Sandpile::startAvalanche(int site)
{
    avalancheSize = 0;
    front[0] = site;
    frontCount = 1;
}

// A press on the lattice picks the site for the next grain of the Sprinkle
// style; any other press clears a pending grain.
void Sandpile::mousePressEvent(QMouseEvent *event)
{
    const QPoint at(qFloor(event->position().x()), qFloor(event->position().y()));
    selectedSite = -1;
    if (runningStyle == Sprinkle && Picture::area().contains(at))
        selectedSite = Lattice::L * ((at.y() - Picture::LATTICE_Y) / Picture::CELL)
                       + (at.x() - Picture::LATTICE_X) / Picture::CELL;
    presentChanges();
}
