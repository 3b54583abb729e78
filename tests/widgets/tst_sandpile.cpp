#include "support/sandpiletest.h"

#include "sandpile/readout.h"

#include <QtTest>

using namespace WidgetGeometry;

// The lattice widget as a user meets it: what each tick shows on the
// read-outs and the picture, presses on the picture, and the controls.
// What a tick does to the pile is the engine's, tested on its own; here
// the read-outs and the picture are held against the pile the widget has.
class SandpileTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandpile> sandpile;

    const SandpileModel &pile() const { return sandpile->model(); }

    // The read-outs, top to bottom, as numbers.
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
    bool allBlank() const
    {
        return std::all_of(std::begin(READOUTS), std::end(READOUTS),
                           [this](const char *name) { return lcdIsBlank(*sandpile, name); });
    }

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
        QVERIFY(showsItsPile(*sandpile));
    }

    // Each of the first ten ticks (lone topplings at ticks 1 and 2, an
    // avalanche over ticks 3 to 9, five grains at tick 10) is shown as it
    // happens: the grains, s and the largest avalanche follow the pile
    // sweep by sweep, and the slope, no grain being a hundredth, stays.
    void firstTenTicksOfAFreshProgram()
    {
        const double slope = averageHeight(pile().z());
        const int grains[10] = {1, 2, 3, 3, 3, 3, 3, 3, 3, 8};
        for (int t = 1; t <= 10; ++t) {
            tick(*sandpile);
            checkShown(grains[t - 1], slope, pile().avalancheSize(), pile().largestAvalanche());
            QVERIFY(showsItsPile(*sandpile));
            if (t == 9)
                checkShown(3, slope, 9, 9);
        }
    }

    // A fractalsand pile is shown as soon as it is chosen, and the
    // read-outs keep what they showed; the first tick blanks them, and
    // they stay blank through its avalanches, with Burn down or not.
    void fractalsandBlanksTheReadouts_data()
    {
        QTest::addColumn<int>("style");
        QTest::newRow("fractalsand 0") << int(SandpileModel::Fractalsand0);
        QTest::newRow("fractalsand 1") << int(SandpileModel::Fractalsand1);
        QTest::newRow("fractalsand 2") << int(SandpileModel::Fractalsand2);
    }
    void fractalsandBlanksTheReadouts()
    {
        QFETCH(int, style);
        ticks(3);   // in the middle of an avalanche
        QVERIFY(pile().avalancheInProgress());
        const QList<double> before = shown();
        chooseStyle(SandpileModel::RunningStyle(style));
        checkShown(before[0], before[1], before[2], before[3]);
        QVERIFY(showsItsPile(*sandpile));

        int sweepsSeen = 0;
        for (int t = 0; t < 40; ++t) {
            if (t == 20)
                toggle(*sandpile, "slotBurn", true);
            sweepsSeen += pile().avalancheInProgress();
            tick(*sandpile);
            QVERIFY(allBlank());
            QVERIFY(showsItsPile(*sandpile));
        }
        QVERIFY(sweepsSeen > 0);
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

    // In "sprinkle" the next tick drops a grain where the user pressed,
    // and the read-outs and the square show it.
    void sprinkleDropsOneGrainWhereClicked()
    {
        chooseStyle(SandpileModel::Sprinkle);
        const double slope = averageHeight(pile().z());
        const int site = 3;   // height 1 in the starting pile
        QCOMPARE(pile().z()[site], 1);
        dropOn(site);
        QCOMPARE(pile().z()[site], 2);
        checkShown(1, slope, 0, 0);
        QCOMPARE(squareColour(screenOf(*sandpile), site), QColor(Qt::lightGray));
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

    // Paused, ticks change nothing on the screen; any other speed resumes.
    void pauseHoldsWhatIsShown()
    {
        ticks(3);   // an avalanche of 7 sweeps has begun
        chooseSpeed(GrainDriver::Pause);
        const QImage screen = screenOf(*sandpile);
        const QList<double> readouts = shown();
        ticks(10);
        QCOMPARE(shown(), readouts);
        QCOMPARE(screenOf(*sandpile), screen);
        chooseSpeed(GrainDriver::Slow);
        tick(*sandpile);
        QVERIFY(screenOf(*sandpile) != screen);
        checkShown(3, readouts[1], pile().avalancheSize(), pile().largestAvalanche());
        QVERIFY(showsItsPile(*sandpile));
    }

    void displayOffFreezesThePictureAndSButNotTheOtherStatistics()
    {
        ticks(3);
        const QImage frozen = screenOf(*sandpile).copy(picture());
        const double s = lcdValue(*sandpile, "sLCD");
        toggle(*sandpile, "slotDisplay", false);
        ticks(20);
        tickUntilAvalancheEnds(*sandpile);
        QCOMPARE(screenOf(*sandpile).copy(picture()), frozen);
        QVERIFY(pile().largestAvalanche() >= 9);
        QCOMPARE(shown()[0], double(pile().grainsAdded()));
        QCOMPARE(shown()[2], s);   // not written while the display is off
        QCOMPARE(shown()[3], double(pile().largestAvalanche()));

        // Switched on: the picture catches up at once; s waits for a sweep.
        toggle(*sandpile, "slotDisplay", true);
        QVERIFY(showsItsPile(*sandpile));
        QCOMPARE(shown()[2], s);

        // With the display off, a new pile is still shown at once, with its
        // read-outs, and so are the burning test and its release.
        toggle(*sandpile, "slotDisplay", false);
        ticks(5);
        startAgain();
        QVERIFY(showsItsPile(*sandpile));
        checkFreshReadouts();
        toggle(*sandpile, "slotBurn", true);
        tick(*sandpile);
        QCOMPARE(firstSiteMisshowingTheBurn(screenOf(*sandpile), pile()), -1);
        toggle(*sandpile, "slotBurn", false);
        QVERIFY(showsItsPile(*sandpile));
        chooseStyle(SandpileModel::Fractalsand1);
        QVERIFY(showsItsPile(*sandpile));
    }

    // Between "run free" and "sprinkle" the screen stays as it was; a new
    // pile is shown at once, with fresh read-outs in the random styles. A
    // style the controls do not offer changes nothing.
    void styleChangesKeepOrRefreshTheScreen()
    {
        ticks(4);   // in the middle of an avalanche
        QVERIFY(pile().avalancheInProgress());
        const QImage screen = screenOf(*sandpile);
        chooseStyle(SandpileModel::Sprinkle);
        chooseStyle(SandpileModel::RunFree);
        QCOMPARE(screenOf(*sandpile), screen);

        chooseStyle(SandpileModel::Fractalsand1);
        QVERIFY(showsItsPile(*sandpile));
        chooseStyle(SandpileModel::RunFree);
        checkFreshReadouts();
        QVERIFY(showsItsPile(*sandpile));

        const std::vector<int> fresh = pile().z();
        chooseStyle(SandpileModel::RunningStyle(5));
        chooseStyle(SandpileModel::RunningStyle(-1));
        QCOMPARE(pile().z(), fresh);
    }

    // Re-initialising, even in an avalanche with a grain pending, shows a
    // new pile and fresh read-outs at once.
    void reinitialisingShowsANewPile()
    {
        ticks(4);
        QVERIFY(pile().avalancheInProgress());
        chooseStyle(SandpileModel::Sprinkle);
        pressAt(*sandpile, pointOf(5));
        const std::vector<int> before = pile().z();
        startAgain();
        QCOMPARE(pile().frontCount(), 0);
        QCOMPARE(pile().selectedSite(), -1);
        QVERIFY(pile().z() != before);
        checkFreshReadouts();
        QVERIFY(showsItsPile(*sandpile));
    }

    void burnShowsTheBurntSitesUntilReleased()
    {
        // Pressed during an avalanche: the test waits for its last sweep.
        ticks(3);
        toggle(*sandpile, "slotBurn", true);
        while (pile().avalancheInProgress()) {
            tick(*sandpile);
            QVERIFY(showsItsPile(*sandpile));
        }
        const std::vector<int> z = pile().z();
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
            burnt += pile().isBurnt(i);
            if (!pile().isBurnt(i))
                QCOMPARE(squareColour(screen, i), colourOfHeight(painted.height[i]));
        }
        QVERIFY(burnt > 0 && burnt < N);

        // The read-outs stay, and so does the picture while Burn is held;
        // released, the picture shows the heights again.
        QCOMPARE(shown(), readouts);
        ticks(5);
        QCOMPARE(screenOf(*sandpile), screen);
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
