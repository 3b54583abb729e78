#include "sandpile.h"
#include "readout.h"

#include <QEvent>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <QtMath>

namespace {

constexpr int READOUT_BOX_X = 20;
constexpr int READOUT_BOX_WIDTH = Sandpile::LATTICE_ORIGIN.x() - 2 * READOUT_BOX_X;   // 160
constexpr int READOUT_BOX_HEIGHT = 100;
constexpr int READOUT_BOX_SPACING = 150;
constexpr QRect READOUT_IN_BOX(30, 30, 100, 50);

struct ReadoutLayout {
    const char *title;
    const char *boxName;
    const char *readoutName;
    int digits;
};

// Top to bottom along the left edge of the widget.
constexpr ReadoutLayout READOUTS[] = {
    {"No. grains added", "grains", "grainsLCD", 7},
    {"Average slope <z>", "average", "slopeLCD", 4},
    {"Avalanche size s", "avalanche", "sLCD", 6},
    {"Largest avalanche", "largest", "largestLCD", 6},
};

Readout *addReadout(QWidget *parent, int position)
{
    const ReadoutLayout &layout = READOUTS[position];
    auto *box = new QGroupBox(QString::fromLatin1(layout.title), parent);
    box->setObjectName(QString::fromLatin1(layout.boxName));
    box->setGeometry(READOUT_BOX_X, 15 + position * READOUT_BOX_SPACING, READOUT_BOX_WIDTH,
                     READOUT_BOX_HEIGHT);
    auto *readout = new Readout(layout.digits, box, layout.readoutName);
    readout->setGeometry(READOUT_IN_BOX);
    return readout;
}

} // namespace

Sandpile::Sandpile(QWidget *parent, const char *name)
    : QWidget(parent)
{
    setObjectName(QString::fromLatin1(name));

    grainsLCD = addReadout(this, 0);
    slopeLCD = addReadout(this, 1);
    sLCD = addReadout(this, 2);
    largestLCD = addReadout(this, 3);

    timer = new QTimer(this);
    connect(timer, SIGNAL(timeout()), this, SLOT(sprinkle()));

    reinitialise();
    scheduleTicks();
}

Sandpile::~Sandpile() = default;

void Sandpile::setClock(Clock clock)
{
    pacer.setClock(std::move(clock));
}

bool Sandpile::isTicking() const
{
    return timer->isActive();
}

// ---- The controls. Each records the user's choice, shows at once what it
// changed, and starts or stops the clock; its effect on the simulation
// comes with the next tick.

// Switching between "run free" and "sprinkle" continues the same pile; any
// other change of style starts the new style's own pile.
void Sandpile::slotRunningStyle(int style)
{
    if (style < SandpileModel::RunFree || style > SandpileModel::Fractalsand2)
        return;
    if (driver.setRunningStyle(SandpileModel::RunningStyle(style))) {
        showStartingStatistics();
        drawLattice();
    }
    presentChanges();
    scheduleTicks();
}

// Releasing Burn gives the test's picture back to the heights.
void Sandpile::slotBurn(bool on)
{
    driver.setBurn(on);
    if (!on)
        drawLattice();
    presentChanges();
    scheduleTicks();
}

// Switching the display on catches the picture up with the pile.
void Sandpile::slotDisplay(bool on)
{
    displayOn = on;
    if (on)
        drawLattice();
    presentChanges();
    scheduleTicks();
}

void Sandpile::slotSpeed(int value)
{
    if (value < GrainDriver::Fast || value > GrainDriver::Pause)
        return;
    if (value == GrainDriver::Slow && driver.speed() != GrainDriver::Slow)
        pacer.slowChosen();
    driver.setSpeed(GrainDriver::Speed(value));
    presentChanges();
    scheduleTicks();
}

void Sandpile::slotStartAgain()
{
    reinitialise();
    scheduleTicks();
}

// A press on the lattice picks the site for the next grain of the Sprinkle
// style; any other press clears a pending grain.
void Sandpile::mousePressEvent(QMouseEvent *event)
{
    const QPoint at(qFloor(event->position().x()), qFloor(event->position().y()));
    const bool sprinkling = driver.runningStyle() == SandpileModel::Sprinkle;
    pile.selectSite(sprinkling ? picture.siteAt(at - LATTICE_ORIGIN) : -1);
    presentChanges();
    scheduleTicks();
}

// ---- The clock.

// Runs a slice of ticks, as the pacer decides, and presents a frame when
// it ends with one due.
void Sandpile::sprinkle()
{
    if (pacer.runSlice(isSlowSweepNext(), [this] { return runTick(); }))
        presentChanges();
    scheduleTicks();
}

// Whether the next tick is a sweep that running slow holds back.
bool Sandpile::isSlowSweepNext() const
{
    return driver.speed() == GrainDriver::Slow && driver.nextTickSweeps();
}

// One tick: one call of the grain driver. The burning test paints even
// while the display is off.
Pacer::Ticked Sandpile::runTick()
{
    LatticeImage::Painter painter{{}, picture};
    SandpileObserver nobody;
    const GrainDriver::Tick did = displayOn || driver.nextTickBurns() ? driver.tick(painter)
                                                                      : driver.tick(nobody);
    showStatistics(did);
    if (driver.speed() == GrainDriver::Slow)
        return did.swept ? Pacer::Ticked::SlowSweep : Pacer::Ticked::Slow;
    return driver.isResting() ? Pacer::Ticked::Resting : Pacer::Ticked::Running;
}

// Runs the clock when a tick can change something: at once, or when a slow
// sweep is due. A timer may fire a little early; the tick then waits on.
void Sandpile::scheduleTicks()
{
    if (driver.isResting()) {
        timer->stop();
        return;
    }
    const int interval = pacer.timerIntervalMs(isSlowSweepNext());
    timer->setTimerType(interval > 0 ? Qt::PreciseTimer : Qt::CoarseTimer);
    if (!timer->isActive() || timer->interval() != interval)
        timer->start(interval);
}

// ---- The statistics.

void Sandpile::reinitialise()
{
    driver.reinitialise();
    showStartingStatistics();
    update();
}

// The random styles show fresh read-outs; the fractalsand ones keep what
// they showed until their first grain blanks them.
void Sandpile::showStartingStatistics()
{
    if (!driver.keepsStatistics())
        return;
    slopeLCD->showValue(pile.averageHeight());
    grainsLCD->showCount(pile.grainsAdded());
    sLCD->showCount(pile.avalancheSize());
    largestLCD->showCount(pile.largestAvalanche());
}

// The fractalsand styles keep no statistics: their grains blank the
// read-outs. The average slope follows every hundredth grain, and the
// avalanche size is shown only while the lattice is.
void Sandpile::showStatistics(GrainDriver::Tick did)
{
    if (!driver.keepsStatistics()) {
        if (did.dropped)
            for (Readout *readout : {grainsLCD, slopeLCD, sLCD, largestLCD})
                readout->blank();
        return;
    }
    if (did.dropped)
        grainsLCD->showCount(pile.grainsAdded());
    if (did.swept) {
        if (displayOn)
            sLCD->showCount(pile.avalancheSize());
        largestLCD->showCount(pile.largestAvalanche());
        if (pile.grainsAdded() % 100 == 0)
            slopeLCD->showValue(pile.averageHeight());
    }
}

// ---- The picture.

void Sandpile::update()
{
    drawLattice();
    presentChanges();
}

// The full redraw: every square from the heights alone, so that it wipes
// out whatever the picture showed that the heights do not.
void Sandpile::drawLattice()
{
    for (int site = 0; site < pile.sites(); ++site)
        picture.fillSquare(site, LatticeImage::shadeOfHeight(pile.z()[site]));
}

// Presents a frame: the read-outs and the picture as they are now, at a
// tick boundary, go to the screen together.
void Sandpile::presentChanges()
{
    for (Readout *readout : {grainsLCD, slopeLCD, sLCD, largestLCD})
        readout->present();
    if (picture.hasChanges())
        QWidget::update(picture.present().translated(LATTICE_ORIGIN));
    pacer.framePresented();
}

// Repaints copy the presented frame; they never recompute it.
void Sandpile::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.translate(LATTICE_ORIGIN);
    picture.draw(painter, event->region().translated(-LATTICE_ORIGIN));
}

// The window system's backing store keeps the old pixels when a window is
// uncovered, so exposures are watched on the top-level window. Frames
// follow the refresh rate of the screen the window is on, where the
// platform reports a plausible one.
void Sandpile::showEvent(QShowEvent *)
{
    if (QWindow *handle = window()->windowHandle())
        handle->installEventFilter(this);
    pacer.setRefreshRate(screen() ? screen()->refreshRate() : 0);
}

// An exposure that reaches the lattice picture redraws it from the heights;
// one of the rest of the window leaves the picture as it is.
bool Sandpile::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && watched == window()->windowHandle()) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        const QRegion exposed = static_cast<QExposeEvent *>(event)->region();
        QT_WARNING_POP
        const QRect pictureInWindow(mapTo(window(), LATTICE_ORIGIN), picture.size());
        if (exposed.intersects(pictureInWindow))
            update();
    }
    return false;
}
