#pragma once

#include "lattice.h"
#include "picture.h"

#include <QElapsedTimer>
#include <QWidget>

#include <memory>

class Readout;

// The Bak-Tang-Wiesenfeld sandpile on an L x L lattice with open boundaries,
// shown as it evolves. Grains fall one at a time; a site holding more than
// three grains topples, giving one grain to each neighbour. An avalanche
// advances by one parallel sweep of topplings per tick of an idle timer, so
// that it can be seen spreading.
//
// The widget carries the whole model as plain members. Its operations live
// in files named by concern:
//   sandpile.cpp   the frame: read-outs, timer, construction
//   lattice.cpp    starting piles and re-initialisation
//   toppling.cpp   the relaxation sweep (the toppling rule)
//   driver.cpp     the grain driver run on every tick, and mouse presses
//   controls.cpp   the slots behind the window's controls
//   burning.cpp    the burning test for recurrent piles
//   rendering.cpp  the lattice picture
class Sandpile : public QWidget
{
    Q_OBJECT

public:
    // Values of the "Mode" choice: how grains are added.
    enum RunningStyle { RunFree, Sprinkle, Fractalsand0, Fractalsand1, Fractalsand2 };
    // Values of the "Speed" choice.
    enum Speed { Fast, Slow, Pause };

    explicit Sandpile(QWidget *parent = nullptr, const char *name = nullptr);
    ~Sandpile() override;

public slots:
    void slotRunningStyle(int style);
    void slotBurn(bool on);
    void slotDisplay(bool on);
    void slotSpeed(int value);
    void slotStartAgain();

private slots:
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
    // The model.
    void reinitialise();
    void relax();
    void burn();

    // The grain driver's steps.
    void dropAtCentre();
    bool dropAtSelectedSite();
    void dropAtRandom();
    void addGrain(int site);
    void countGrain();
    void startAvalanche(int site);
    bool isFractalsand() const { return runningStyle >= Fractalsand0; }
    bool keepsStatistics() const { return runningStyle == RunFree || runningStyle == Sprinkle; }
    void waitBeforeSweep() const;
    void showAverageSlope();

    // The picture.
    void drawLattice();
    void paintCell(int site, uchar shade) { picture.fillSquare(site, shade); }
    void paintHeight(int site);
    void presentChanges();

    // Heights, and the work lists of an avalanche. touched is the repaint
    // list of the burning test; it has room for everything one sweep of the
    // test can record.
    std::unique_ptr<int[]> z;
    std::unique_ptr<int[]> front;
    std::unique_ptr<int[]> nextFront;
    std::unique_ptr<int[]> touched;
    int frontCount = 0;                 // 0: no avalanche in progress
    qint64 grainsAdded = 0;             // wide enough for any run
    int avalancheSize = 0;              // s, topplings of the current avalanche
    int largestAvalanche = 0;
    int selectedSite = -1;              // the clicked site in the Sprinkle style
    int runningStyle = RunFree;
    bool burnOn = false;
    bool displayOn = true;
    bool burnDone = false;              // the burning test ran since Burn went down
    int speed = Fast;

    Readout *grainsLCD;
    Readout *slopeLCD;
    Readout *sLCD;
    Readout *largestLCD;

    LatticeImage picture;
    static constexpr int DEFAULT_FRAME_INTERVAL_MS = 16;   // 60 frames a second
    int frameInterval = DEFAULT_FRAME_INTERVAL_MS;
    QElapsedTimer sinceLastFrame;                          // since the last presentChanges()

    // What the last burning test did, for inspection.
    struct BurnRecord {
        int boundaryFront = 0;          // edge sites that burn first
        int sweeps = 0;
        int largestSweep = 0;           // the sweep that recorded most entries
        int largestSweepEntries = 0;
        int lastToppled = -1;
    };
    BurnRecord lastBurn;

    friend struct SandpileProbe;
};
