#pragma once

#include "latticeimage.h"
#include "engine/graindriver.h"
#include "engine/sandpilemodel.h"

#include <QWidget>

#include <functional>

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
// rest. Running fast, it runs ticks in short slices between which the event
// loop handles input and paints, and presents at most one frame per refresh
// of the screen, each showing the pile at a tick boundary within a few
// microseconds of the refresh. Running slow, each sweep comes SLOW_SWEEP_MS
// after the last; other ticks come at once.
class Sandpile : public QWidget
{
    Q_OBJECT

public:
    static constexpr int SIDE = 149;                     // sites per row and column
    static constexpr QPoint LATTICE_ORIGIN{200, 0};      // the picture's top-left corner
    static constexpr int SLOW_SWEEP_MS = 100;
    static constexpr qint64 SLICE_NS = 1'000'000;        // the longest run of ticks
    static constexpr int TICKS_PER_READING = 16;         // of the clock, in a slice
    static constexpr qint64 DEFAULT_FRAME_NS = 16'666'667;   // 60 frames a second

    explicit Sandpile(QWidget *parent = nullptr, const char *name = nullptr);
    ~Sandpile() override;

    // The pile shown, for reading.
    const SandpileModel &model() const { return pile; }

    // A monotonic time source in nanoseconds for the clock's slices, frames
    // and slow sweeps; a steady clock unless replaced, for example by a test
    // that sets the pace itself.
    using Clock = std::function<qint64()>;
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
    GrainDriver::Tick runTick();
    void showStatistics(GrainDriver::Tick did);
    void showStartingStatistics();
    void drawLattice();
    void presentChanges();
    void scheduleTicks();
    qint64 slowSweepWait();
    static bool isClockReadingDue(int n);

    SandpileModel pile{SIDE};
    GrainDriver driver{pile};
    bool displayOn = true;

    Readout *grainsLCD;
    Readout *slopeLCD;
    Readout *sLCD;
    Readout *largestLCD;

    LatticeImage picture{SIDE};
    QTimer *timer;
    Clock now;
    qint64 frameInterval = DEFAULT_FRAME_NS;
    qint64 lastPresented = 0;
    qint64 lastSweep = 0;   // of the last slow sweep, or when slow was chosen
};
