#pragma once

#include "latticeimage.h"
#include "pacer.h"
#include "engine/graindriver.h"
#include "engine/sandpilemodel.h"

#include <QWidget>

class QTimer;
class Readout;

// The lattice widget: a view of a sandpile and the clock that drives it.
// Grains fall one at a time; a site holding more than three grains topples,
// giving one grain to each neighbour. An avalanche advances by one parallel
// sweep of topplings per tick, so that it can be seen spreading. Four
// read-outs on the left show the statistics; the lattice picture lies right
// of them.
//
// The clock runs ticks only while one can change something: it stops when
// the simulation rests and starts again when a control or a press ends the
// rest. Its Pacer decides when ticks run and frames are presented: fast, in
// short slices between which the event loop handles input and paints, at
// most one frame per refresh of the screen; slow, each sweep a slow
// interval after the last.
class Sandpile : public QWidget
{
    Q_OBJECT

public:
    static constexpr int SIDE = Lattice::WINDOW_SIDE;    // sites per row and column
    static constexpr QPoint LATTICE_ORIGIN{200, 0};      // the picture's top-left corner

    explicit Sandpile(QWidget *parent = nullptr, const char *name = nullptr);
    ~Sandpile() override;

    // The pile shown, for reading.
    const SandpileModel &model() const { return pile; }

    // A monotonic time source in nanoseconds for the clock's slices, frames
    // and slow sweeps; a steady clock unless replaced, for example by a test
    // that sets the pace itself.
    using Clock = Pacer::Clock;
    void setClock(Clock clock);
    // Whether the clock is running: false while the simulation rests.
    bool isTicking() const;

public slots:
    void slotRunningStyle(int style);
    void slotBurn(bool on);
    void slotDisplay(bool on);
    void slotSpeed(int value);
    void slotStartAgain();

private slots:
    // The grain driver, run by the clock: a slice of ticks.
    void sprinkle();
    // Redraws the whole lattice from the heights at once. It hides
    // QWidget::update(), which only schedules a repaint.
    void update();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void reinitialise();
    Pacer::Ticked runTick();
    void showStatistics(GrainDriver::Tick did);
    void showStartingStatistics();
    void drawLattice();
    void presentChanges();
    void scheduleTicks();
    bool isSlowSweepNext() const;

    SandpileModel pile{SIDE};
    GrainDriver driver{pile};
    bool displayOn = true;

    Readout *grainsLCD;
    Readout *slopeLCD;
    Readout *sLCD;
    Readout *largestLCD;

    LatticeImage picture{SIDE};
    QTimer *timer;
    Pacer pacer;
};
