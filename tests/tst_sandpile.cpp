#include "support/sandpiletest.h"

#include "sandpile/readout.h"

#include <QtTest>

#include <cmath>
#include <map>

using namespace WidgetGeometry;

namespace {

constexpr int CENTRE = (L / 2) * L + L / 2;
const char *const READOUTS[] = {"grainsLCD", "slopeLCD", "sLCD", "largestLCD"};

// Sites whose height differs between two piles, with the change.
std::map<int, int> changes(const std::vector<int> &before, const std::vector<int> &after)
{
    std::map<int, int> changed;
    for (int i = 0; i < N; ++i)
        if (before[i] != after[i])
            changed[i] = after[i] - before[i];
    return changed;
}

// The changes made by grains dropped on a site that then topples alone.
std::map<int, int> toppling(int site, int grainsDropped)
{
    std::map<int, int> changed;
    if (grainsDropped != 4)
        changed[site] = grainsDropped - 4;
    for (int n : neighboursOf(site))
        changed[n] += 1;
    return changed;
}

double averageHeight(const std::vector<int> &z)
{
    long long sum = 0;
    for (int h : z)
        sum += h;
    return sum / double(N);
}

} // namespace

// The lattice widget as a user meets it: what each tick shows on the
// read-outs and the picture, presses on the picture, and the controls.
class SandpileTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandpile> sandpile;

    const SandpileModel &pile() const { return sandpile->model(); }

    // The four read-outs, top to bottom, as numbers.
    QList<double> shown() const
    {
        QList<double> values;
        for (const char *name : READOUTS)
            values << lcdValue(*sandpile, name);
        return values;
    }
    // Checks that the read-outs show these numbers, none of them blank.
    void checkShown(double grains, double slope, double s, double largest)
    {
        QCOMPARE(shown(), (QList<double>{grains, slope, s, largest}));
        for (const char *name : READOUTS)
            QVERIFY2(!lcdIsBlank(*sandpile, name), name);
    }
    // What a fresh pile shows: no grains, its average height, no avalanche.
    void checkFreshReadouts() { checkShown(0, averageHeight(pile().z()), 0, 0); }

    void chooseStyle(SandpileModel::RunningStyle style) { choose(*sandpile, "slotRunningStyle", style); }
    void chooseSpeed(GrainDriver::Speed speed) { choose(*sandpile, "slotSpeed", speed); }
    void startAgain() { QVERIFY(QMetaObject::invokeMethod(sandpile.get(), "slotStartAgain", Qt::DirectConnection)); }
    void ticks(int count)
    {
        for (int i = 0; i < count; ++i)
            tick(*sandpile);
    }

    // In "sprinkle": one grain on a site, pressed and dropped by a tick.
    void dropOn(int site)
    {
        pressAt(*sandpile, pointOf(site));
        tick(*sandpile);
    }
    // In "sprinkle": grains on low sites away from the top-left corner,
    // none of which topples, until the count reaches a number.
    void dropUntilTheCountIs(qint64 count)
    {
        for (int site = 2 * L; pile().grainsAdded() < count; ++site) {
            QVERIFY(site < N);
            while (pile().z()[site] < 3 && pile().grainsAdded() < count)
                dropOn(site);
        }
        QCOMPARE(pile().frontCount(), 0);
    }

private slots:
    void init() { sandpile = freshSandpile(); }
    void cleanup() { sandpile.reset(); }

    void freshProgramShowsItsStartingPile()
    {
        checkFreshReadouts();
        QCOMPARE(pile().frontCount(), 0);
        QCOMPARE(pile().selectedSite(), -1);
        QVERIFY(showsItsPile(*sandpile));
    }

    void firstTenTicksOfAFreshProgram()
    {
        const double slope = averageHeight(pile().z());
        std::vector<int> before = pile().z();

        // Ticks 1 and 2: one grain each on a site at 3, which topples alone.
        int grains = 0;
        for (int site : {13687, 12876}) {
            QCOMPARE(before[site], 3);
            ++grains;
            tick(*sandpile);
            const std::vector<int> after = pile().z();
            QCOMPARE(changes(before, after), toppling(site, 1));
            QCOMPARE(pile().frontCount(), 0);
            checkShown(grains, slope, 1, 1);
            QVERIFY(showsItsPile(*sandpile));
            before = after;
        }

        // Tick 3 drops a grain on 7917 and starts an avalanche of 9
        // topplings in 7 sweeps, one per tick up to tick 9; s and the
        // largest avalanche follow it sweep by sweep.
        QCOMPARE(before[7917], 3);
        for (int t = 3; t <= 9; ++t) {
            tick(*sandpile);
            QCOMPARE(pile().frontCount() > 0, t < 9);
            const double s = pile().avalancheSize();
            checkShown(3, slope, s, std::max(1.0, s));
            QVERIFY(showsItsPile(*sandpile));
        }
        checkShown(3, slope, 9, 9);

        // Tick 10: five grains, the last reaching 4.
        before = pile().z();
        QCOMPARE(before[15410], 3);
        tick(*sandpile);
        const std::map<int, int> changed = changes(before, pile().z());
        for (int site : {20670, 2141, 6173, 4558})
            QCOMPARE(changed.at(site), 1);
        QVERIFY(pile().z()[15410] < 3);
        checkShown(8, slope, pile().avalancheSize(), std::max(9.0, double(pile().avalancheSize())));
        QVERIFY(showsItsPile(*sandpile));
    }

    void fractalsandGrowsFromTheCentreOfAFlatPile_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("flatHeight");
        QTest::newRow("fractalsand 0") << int(SandpileModel::Fractalsand0) << 0;
        QTest::newRow("fractalsand 1") << int(SandpileModel::Fractalsand1) << 1;
        QTest::newRow("fractalsand 2") << int(SandpileModel::Fractalsand2) << 2;
    }
    void fractalsandGrowsFromTheCentreOfAFlatPile()
    {
        QFETCH(int, style);
        QFETCH(int, flatHeight);
        ticks(3);   // in the middle of an avalanche
        QVERIFY(pile().avalancheInProgress());
        const QList<double> before = shown();

        // The flat pile, shown at once; the read-outs keep what they showed.
        chooseStyle(SandpileModel::RunningStyle(style));
        const std::vector<int> flat(N, flatHeight);
        QCOMPARE(pile().z(), flat);
        QCOMPARE(pile().frontCount(), 0);
        checkShown(before[0], before[1], before[2], before[3]);
        QVERIFY(showsItsPile(*sandpile));

        // The first tick drops 4 - h grains on the centre, which topples
        // once, and blanks every read-out.
        tick(*sandpile);
        QCOMPARE(changes(flat, pile().z()), toppling(CENTRE, 4 - flatHeight));
        QCOMPARE(pile().frontCount(), 0);
        for (const char *name : READOUTS)
            QVERIFY2(lcdIsBlank(*sandpile, name), name);
        QVERIFY(showsItsPile(*sandpile));

        // Choosing the style again keeps its pile. Burn changes nothing in
        // these styles, and the read-outs stay blank through the avalanches.
        const std::vector<int> grown = pile().z();
        chooseStyle(SandpileModel::RunningStyle(style));
        QCOMPARE(pile().z(), grown);
        toggle(*sandpile, "slotBurn", true);
        int sweepsSeen = 0;
        for (int t = 0; t < 40; ++t) {
            const std::vector<int> previous = pile().z();
            sweepsSeen += pile().avalancheInProgress();
            tick(*sandpile);
            QVERIFY(pile().z() != previous);
            for (const char *name : READOUTS)
                QVERIFY2(lcdIsBlank(*sandpile, name), name);
        }
        QVERIFY(sweepsSeen > 0);
        QVERIFY(showsItsPile(*sandpile));
    }

    void pressOnThePictureSelectsTheSiteUnderIt_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("site");
        QTest::newRow("left of the picture") << QPoint(199, 10) << -1;
        QTest::newRow("right strip") << QPoint(796, 10) << -1;
        QTest::newRow("right strip end") << QPoint(799, 599) << -1;
        QTest::newRow("right strip, last row") << QPoint(797, 595) << -1;
        QTest::newRow("bottom strip") << QPoint(300, 596) << -1;
        QTest::newRow("bottom strip end") << QPoint(795, 599) << -1;
        QTest::newRow("read-out area") << QPoint(50, 50) << -1;
        QTest::newRow("top-left pixel") << QPoint(200, 0) << 0;
        QTest::newRow("inside square 0") << QPoint(203, 3) << 0;
        QTest::newRow("next row and column") << QPoint(204, 4) << 150;
        QTest::newRow("top-right square") << QPoint(795, 0) << 148;
        QTest::newRow("bottom-left square") << QPoint(200, 595) << 22052;
        QTest::newRow("bottom-right pixel") << QPoint(795, 595) << 22200;
    }
    void pressOnThePictureSelectsTheSiteUnderIt()
    {
        QFETCH(QPoint, at);
        QFETCH(int, site);
        chooseStyle(SandpileModel::Sprinkle);
        pressAt(*sandpile, QPoint(400, 300));
        QCOMPARE(pile().selectedSite(), siteAt(QPoint(400, 300)));
        pressAt(*sandpile, at);   // replaces the pending grain, or clears it
        QCOMPARE(pile().selectedSite(), site);

        // Switching to "run free" keeps a pending grain; a press there clears it.
        pressAt(*sandpile, QPoint(400, 300));
        chooseStyle(SandpileModel::RunFree);
        QCOMPARE(pile().selectedSite(), siteAt(QPoint(400, 300)));
        pressAt(*sandpile, at);
        QCOMPARE(pile().selectedSite(), -1);
    }

    void sprinkleDropsOneGrainWhereClickedAndOnlyThen()
    {
        chooseStyle(SandpileModel::Sprinkle);
        const std::vector<int> before = pile().z();
        const QList<double> readouts = shown();
        tick(*sandpile);   // nothing pending: nothing happens
        QCOMPARE(pile().z(), before);
        QCOMPARE(shown(), readouts);

        const int site = 3;   // height 1 in the starting pile
        QCOMPARE(before[site], 1);
        pressAt(*sandpile, pointOf(150));
        dropOn(site);   // a new press replaces the pending one
        QCOMPARE(changes(before, pile().z()), (std::map<int, int>{{site, 1}}));
        QCOMPARE(pile().selectedSite(), -1);
        checkShown(1, readouts[1], 0, 0);
        QCOMPARE(squareColour(screenOf(*sandpile), site), QColor(Qt::lightGray));
        tick(*sandpile);
        QCOMPARE(pile().grainsAdded(), 1);
    }

    void slopeFollowsOnlyTheAvalanchesOfEveryHundredthGrain()
    {
        // The corner site 0, raised to 3, topples at the next grain and
        // loses grains across the edge.
        chooseStyle(SandpileModel::Sprinkle);
        const double fresh = lcdValue(*sandpile, "slopeLCD");
        while (pile().z()[0] < 3)
            dropOn(0);
        dropUntilTheCountIs(99);
        QCOMPARE(lcdValue(*sandpile, "slopeLCD"), fresh);   // grains that topple nothing refresh nothing

        // Grain 100 starts an avalanche: the slope follows each of its sweeps.
        dropOn(0);
        QVERIFY(pile().grainsAdded() == 100 && pile().avalancheSize() >= 1);
        do {
            QCOMPARE(lcdValue(*sandpile, "slopeLCD"), averageHeight(pile().z()));
            tick(*sandpile);
        } while (pile().avalancheInProgress());
        const double after100 = averageHeight(pile().z());
        QCOMPARE(lcdValue(*sandpile, "slopeLCD"), after100);
        QVERIFY(after100 != fresh);
        checkShown(100, after100, pile().avalancheSize(), pile().avalancheSize());

        // Grain 200 starts none and grain 201 is not a hundredth: the
        // slope stays as it was though the pile has changed.
        while (pile().z()[0] < 3)
            dropOn(0);
        dropUntilTheCountIs(200);
        dropOn(0);
        tickUntilAvalancheEnds(*sandpile);
        QCOMPARE(pile().grainsAdded(), 201);
        QCOMPARE(lcdValue(*sandpile, "slopeLCD"), after100);
        QVERIFY(averageHeight(pile().z()) != after100);
    }

    void pauseHoldsEverythingIncludingAPendingGrainAndAnAvalanche()
    {
        ticks(3);   // an avalanche of 7 sweeps has begun
        QVERIFY(pile().avalancheInProgress());
        chooseSpeed(GrainDriver::Pause);
        const std::vector<int> before = pile().z();
        const std::vector<int> front = pile().front();
        const QList<double> readouts = shown();
        ticks(10);
        QCOMPARE(pile().z(), before);
        QCOMPARE(pile().front(), front);
        QCOMPARE(shown(), readouts);
        chooseSpeed(GrainDriver::Fast);
        tick(*sandpile);
        QVERIFY(pile().z() != before);
        tickUntilAvalancheEnds(*sandpile);

        chooseStyle(SandpileModel::Sprinkle);
        int site = 0;
        while (pile().z()[site] != 3)
            ++site;
        pressAt(*sandpile, pointOf(site));
        chooseSpeed(GrainDriver::Pause);
        const std::vector<int> held = pile().z();
        const qint64 grains = pile().grainsAdded();
        ticks(10);
        QCOMPARE(pile().z(), held);
        QCOMPARE(pile().selectedSite(), site);
        chooseSpeed(GrainDriver::Slow);   // any speed but pause resumes
        tick(*sandpile);
        QCOMPARE(pile().grainsAdded(), grains + 1);
        QCOMPARE(pile().selectedSite(), -1);
        QVERIFY(pile().avalancheSize() >= 1);
        QCOMPARE(lcdValue(*sandpile, "grainsLCD"), double(grains + 1));
    }

    void displayOffFreezesThePictureAndSButNotTheOtherStatistics()
    {
        ticks(3);
        const QRect picture(LATTICE_X, 0, L * CELL, L * CELL);
        const QImage frozen = screenOf(*sandpile).copy(picture);
        const double s = lcdValue(*sandpile, "sLCD");
        toggle(*sandpile, "slotDisplay", false);
        ticks(20);
        tickUntilAvalancheEnds(*sandpile);
        QCOMPARE(screenOf(*sandpile).copy(picture), frozen);
        QVERIFY(pile().largestAvalanche() >= 9);
        QCOMPARE(shown()[0], double(pile().grainsAdded()));
        QCOMPARE(shown()[2], s);   // not written while the display is off
        QCOMPARE(shown()[3], double(pile().largestAvalanche()));

        // Switched on: the picture catches up at once; s waits for a sweep.
        toggle(*sandpile, "slotDisplay", true);
        QVERIFY(showsItsPile(*sandpile));
        QCOMPARE(shown()[2], s);

        // With the display off, a new pile is still shown at once, with its
        // read-outs.
        toggle(*sandpile, "slotDisplay", false);
        ticks(5);
        startAgain();
        QVERIFY(showsItsPile(*sandpile));
        checkFreshReadouts();
        chooseStyle(SandpileModel::Fractalsand1);
        QVERIFY(showsItsPile(*sandpile));
    }

    void styleChangesKeepOrRefillThePile()
    {
        ticks(4);   // in the middle of an avalanche
        QVERIFY(pile().avalancheInProgress());
        const std::vector<int> z = pile().z();
        const std::vector<int> front = pile().front();
        const qint64 grains = pile().grainsAdded();
        const QList<double> readouts = shown();

        // run free <-> sprinkle continues the same pile, avalanche and counts.
        chooseStyle(SandpileModel::Sprinkle);
        chooseStyle(SandpileModel::RunFree);
        QCOMPARE(pile().z(), z);
        QCOMPARE(pile().front(), front);
        QCOMPARE(pile().grainsAdded(), grains);
        QCOMPARE(shown(), readouts);

        // Any other style abandons the avalanche for its own pile.
        chooseStyle(SandpileModel::Fractalsand1);
        QCOMPARE(pile().frontCount(), 0);
        QCOMPARE(pile().z(), std::vector<int>(N, 1));

        // Back to run free: a fresh random pile with fresh read-outs.
        chooseStyle(SandpileModel::RunFree);
        QVERIFY(pile().z() != z);
        for (int h : pile().z())
            QVERIFY(h >= 0 && h <= 3);
        checkFreshReadouts();
        QVERIFY(showsItsPile(*sandpile));

        // A style the controls do not offer changes nothing.
        const std::vector<int> fresh = pile().z();
        chooseStyle(SandpileModel::RunningStyle(5));
        chooseStyle(SandpileModel::RunningStyle(-1));
        QCOMPARE(pile().z(), fresh);
    }

    void reinitialisingEndsAnAvalancheAndClearsAPendingGrain()
    {
        ticks(4);
        QVERIFY(pile().avalancheInProgress());
        chooseStyle(SandpileModel::Sprinkle);
        pressAt(*sandpile, pointOf(5));
        QCOMPARE(pile().selectedSite(), 5);
        const std::vector<int> before = pile().z();
        startAgain();
        QCOMPARE(pile().frontCount(), 0);
        QCOMPARE(pile().selectedSite(), -1);
        QVERIFY(pile().z() != before);
        for (int h : pile().z())
            QVERIFY(h >= 0 && h <= 3);
        checkFreshReadouts();
        QVERIFY(showsItsPile(*sandpile));
    }

    void burnShowsTheBurntSitesAndLeavesThePileAlone()
    {
        // Pressed during an avalanche: the test waits for its last sweep.
        ticks(3);
        toggle(*sandpile, "slotBurn", true);
        while (pile().avalancheInProgress()) {
            tick(*sandpile);
            QVERIFY(showsItsPile(*sandpile));
        }
        const std::vector<int> z = pile().z();
        const qint64 grains = pile().grainsAdded();
        const QList<double> readouts = shown();

        // What the test paints: burnt sites yellow, the others in the
        // heights the test leaves them with on its copy of the pile.
        struct Shades : SandpileObserver {
            std::vector<int> height;
            void received(int site, int h) { height[site] = h; }
        } painted;
        painted.height = z;
        SandpileModel copy(L);
        copy.setHeights(z);
        copy.burn(painted);

        tick(*sandpile);
        const QImage screen = screenOf(*sandpile);
        QCOMPARE(firstSiteMisshowingTheBurn(screen, pile()), -1);
        int burnt = 0;
        for (int i = 0; i < N; ++i) {
            QCOMPARE(pile().isBurnt(i), copy.isBurnt(i));
            burnt += pile().isBurnt(i);
            if (!pile().isBurnt(i))
                QCOMPARE(squareColour(screen, i), colourOfHeight(painted.height[i]));
        }
        QVERIFY(burnt > 0 && burnt < N);

        // The pile and its read-outs stay; the test runs once; no grain falls.
        ticks(5);
        QCOMPARE(pile().z(), z);
        QCOMPARE(pile().grainsAdded(), grains);
        QCOMPARE(shown(), readouts);
        QCOMPARE(screenOf(*sandpile), screen);

        // Released: the heights come back and the next tick drops grains.
        toggle(*sandpile, "slotBurn", false);
        QVERIFY(showsItsPile(*sandpile));
        tick(*sandpile);
        QVERIFY(pile().grainsAdded() > grains);
    }

    void pileDrivenToItsSteadyStateBurnsEntirelyEvenWithTheDisplayOff()
    {
        toggle(*sandpile, "slotDisplay", false);
        Ticker ticker(*sandpile);
        while (pile().grainsAdded() < 60000 || pile().avalancheInProgress())
            QVERIFY(ticker());
        toggle(*sandpile, "slotBurn", true);
        tick(*sandpile);
        for (int i = 0; i < N; ++i)
            QVERIFY(pile().isBurnt(i));
        QCOMPARE(firstSiteMisshowingTheBurn(screenOf(*sandpile), pile()), -1);
        // Released, even with the display off, the picture shows the heights.
        toggle(*sandpile, "slotBurn", false);
        QVERIFY(showsItsPile(*sandpile));
    }

    void readoutShowsCountsValuesAndBlanksWhenPresented()
    {
        Readout lcd(7, nullptr, "grainsLCD");
        QLCDNumber &display = lcd;   // what a digit display reports it shows
        auto present = [&](auto show) {
            show();
            lcd.present();
        };
        present([&] { lcd.showCount(1234567); });
        QCOMPARE(display.value(), 1234567.0);
        QCOMPARE(lcd.digitCount(), 7);
        QVERIFY(!isBlank(lcd));

        lcd.showCount(42);   // not presented yet: still the old count
        QCOMPARE(display.value(), 1234567.0);

        // A count beyond the digits widens the display rather than freezing it.
        for (qint64 count : {Q_INT64_C(10000000), Q_INT64_C(2147483648), Q_INT64_C(99999999999)}) {
            present([&] { lcd.showCount(count); });
            QCOMPARE(display.value(), double(count));
            QVERIFY(!lcd.checkOverflow(double(count)));
        }
        present([&] { lcd.showValue(1.5); });
        QCOMPARE(display.value(), 1.5);
        present([&] { lcd.blank(); });
        QCOMPARE(display.value(), 0.0);
        QVERIFY(isBlank(lcd));
        // A small count fits the display's own seven digits again.
        present([&] { lcd.showCount(0); });
        QCOMPARE(display.value(), 0.0);
        QCOMPARE(lcd.digitCount(), 7);
        QVERIFY(!isBlank(lcd));
    }
};

QTEST_MAIN(SandpileTest)
#include "tst_sandpile.moc"
