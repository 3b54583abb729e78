#include "support/probe.h"

#include <QElapsedTimer>
#include <QExposeEvent>
#include <QtTest>

// The burning test: which sites burn, what the picture shows afterwards,
// that the pile itself is untouched, and when the driver runs the test.
class BurningTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandpile> sandpile;

    // Presses Burn on a pile and lets the next tick run the test.
    void burnPile(const std::function<int(int)> &heightOf)
    {
        SandpileProbe::setHeights(*sandpile, heightOf);
        redraw(*sandpile);
        toggle(*sandpile, "slotBurn", true);
        tick(*sandpile);
    }

    static int yellowSquares(const QImage &screen)
    {
        int count = 0;
        for (int i = 0; i < Lattice::N; ++i)
            count += squareColour(screen, i) == QColor(Qt::yellow);
        return count;
    }

private slots:
    void init() { sandpile = freshSandpile(); }
    void cleanup() { sandpile.reset(); }

    void flatPilesBurnFromTheirEdges_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("boundaryFront");
        QTest::addColumn<int>("sweeps");
        QTest::addColumn<int>("burning");
        QTest::newRow("all 3") << 3 << 592 << 75 << Lattice::N;
        QTest::newRow("all 2") << 2 << 4 << 149 << Lattice::N;
        QTest::newRow("all 1") << 1 << 0 << 1 << 0;
        QTest::newRow("all 0") << 0 << 0 << 1 << 0;
    }
    void flatPilesBurnFromTheirEdges()
    {
        QFETCH(int, height);
        QFETCH(int, boundaryFront);
        QFETCH(int, sweeps);
        QFETCH(int, burning);
        const QImage before = (SandpileProbe::setHeights(*sandpile, [height](int) { return height; }),
                               redraw(*sandpile), screenOf(*sandpile));
        burnPile([height](int) { return height; });
        const auto record = SandpileProbe::lastBurn(*sandpile);
        QCOMPARE(record.boundaryFront, boundaryFront);
        QCOMPARE(record.sweeps, sweeps);
        const QImage after = screenOf(*sandpile);
        QCOMPARE(yellowSquares(after), burning);
        if (burning == 0)
            QCOMPARE(after, before);   // nothing at all is painted
    }

    void fullPileBurnsInwardsToTheCentre()
    {
        burnPile([](int) { return 3; });
        const auto record = SandpileProbe::lastBurn(*sandpile);
        QCOMPARE(record.lastToppled, Lattice::CENTRE_SITE);
        QCOMPARE(record.largestSweep, 2);
        QCOMPARE(record.largestSweepEntries, 2920);
        // The last sweep toppled the centre alone.
        std::vector<int> lastSweep{Lattice::CENTRE_SITE};
        Lattice::forEachNeighbour(Lattice::CENTRE_SITE, [&](int n) { lastSweep.push_back(n); });
        QCOMPARE(SandpileProbe::touched(*sandpile, 5), lastSweep);
    }

    void sitesThatDoNotBurnShowTheHeightsOfTheTest()
    {
        // Two empty neighbours in a full pile: all else burns, and each of
        // the two ends with the three grains of its burnt neighbours.
        burnPile([](int i) { return i == 11100 || i == 11101 ? 0 : 3; });
        const QImage screen = screenOf(*sandpile);
        QCOMPARE(yellowSquares(screen), Lattice::N - 2);
        QCOMPARE(squareColour(screen, 11100), QColor(Qt::white));
        QCOMPARE(squareColour(screen, 11101), QColor(Qt::white));
    }

    void edgeSiteBesideOneBurningSiteEndsWhite()
    {
        // Site 4 burns from its edge grain; site 5, at 1, gets its own edge
        // grain and one from 4, and stops at 3.
        burnPile([](int i) { return i == 4 ? 3 : i == 5 ? 1 : 0; });
        const QImage screen = screenOf(*sandpile);
        QCOMPARE(yellowSquares(screen), 1);
        QCOMPARE(squareColour(screen, 4), QColor(Qt::yellow));
        QCOMPARE(squareColour(screen, 5), QColor(Qt::white));
        QCOMPARE(squareColour(screen, 3), QColor(Qt::lightGray));
        QCOMPARE(squareColour(screen, 4 + Lattice::L), QColor(Qt::darkGray));
    }

    void testLeavesThePileAndItsReadoutsAlone()
    {
        for (int i = 0; i < 50; ++i)
            tick(*sandpile);
        tickUntilAvalancheEnds(*sandpile);
        const std::vector<int> pile = SandpileProbe::heights(*sandpile);
        const qint64 grains = SandpileProbe::grainsAdded(*sandpile);
        const int s = SandpileProbe::avalancheSize(*sandpile);
        const int largest = SandpileProbe::largestAvalanche(*sandpile);
        QStringList readouts;
        for (const char *lcd : {"grainsLCD", "slopeLCD", "sLCD", "largestLCD"})
            readouts << lcdText(*sandpile, lcd);

        toggle(*sandpile, "slotBurn", true);
        for (int i = 0; i < 5; ++i)   // the test runs once; no grain falls
            tick(*sandpile);
        QVERIFY(SandpileProbe::lastBurn(*sandpile).sweeps > 0);
        QCOMPARE(SandpileProbe::heights(*sandpile), pile);
        QCOMPARE(SandpileProbe::frontCount(*sandpile), 0);
        QCOMPARE(SandpileProbe::grainsAdded(*sandpile), grains);
        QCOMPARE(SandpileProbe::avalancheSize(*sandpile), s);
        QCOMPARE(SandpileProbe::largestAvalanche(*sandpile), largest);
        QStringList after;
        for (const char *lcd : {"grainsLCD", "slopeLCD", "sLCD", "largestLCD"})
            after << lcdText(*sandpile, lcd);
        QCOMPARE(after, readouts);
        QVERIFY(yellowSquares(screenOf(*sandpile)) > 0);

        // Released: the heights come back and the next tick drops grains.
        toggle(*sandpile, "slotBurn", false);
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), pile), -1);
        tick(*sandpile);
        QVERIFY(SandpileProbe::grainsAdded(*sandpile) > grains);
    }

    void exposureWhileBurnIsDownShowsTheHeightsWithoutBurningAgain()
    {
        sandpile->show();
        QVERIFY(QTest::qWaitForWindowExposed(sandpile.get()));
        burnPile([](int) { return 3; });
        QCOMPARE(yellowSquares(screenOf(*sandpile)), Lattice::N);
        QExposeEvent expose(QRegion(0, 0, 800, 600));
        QCoreApplication::sendEvent(sandpile->windowHandle(), &expose);
        tick(*sandpile);
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), SandpileProbe::heights(*sandpile)), -1);
    }

    void burnWaitsForTheAvalancheAndRunsOncePerPress()
    {
        // Pressed during an avalanche: the test follows its last sweep.
        for (int t = 0; t < 3; ++t)
            tick(*sandpile);   // tick 3 starts a 7-sweep avalanche
        QVERIFY(SandpileProbe::frontCount(*sandpile) > 0);
        toggle(*sandpile, "slotBurn", true);
        const qint64 grains = SandpileProbe::grainsAdded(*sandpile);
        int ticks = tickUntilAvalancheEnds(*sandpile);
        QCOMPARE(ticks, 6);
        QCOMPARE(SandpileProbe::lastBurn(*sandpile).sweeps, 0);
        tick(*sandpile);
        QVERIFY(SandpileProbe::lastBurn(*sandpile).sweeps > 0);
        QVERIFY(SandpileProbe::burnDone(*sandpile));

        // Released and pressed again while paused: no tick reaches a drop
        // in between, so the test does not run again.
        choose(*sandpile, "slotSpeed", Sandpile::Pause);
        toggle(*sandpile, "slotBurn", false);
        tick(*sandpile);
        toggle(*sandpile, "slotBurn", true);
        choose(*sandpile, "slotSpeed", Sandpile::Fast);
        redraw(*sandpile);
        tick(*sandpile);
        QCOMPARE(yellowSquares(screenOf(*sandpile)), 0);
        QCOMPARE(SandpileProbe::grainsAdded(*sandpile), grains);
    }

    void testPaintsWithTheDisplayOffAndNeverWaits()
    {
        toggle(*sandpile, "slotDisplay", false);
        choose(*sandpile, "slotSpeed", Sandpile::Slow);
        SandpileProbe::setHeights(*sandpile, [](int) { return 3; });
        toggle(*sandpile, "slotBurn", true);
        tick(*sandpile);
        QCOMPARE(yellowSquares(screenOf(*sandpile)), Lattice::N);
        QCOMPARE(SandpileProbe::lastBurn(*sandpile).sweeps, 75);
    }

    void pileDrivenToItsSteadyStateBurnsEntirely()
    {
        toggle(*sandpile, "slotDisplay", false);
        Ticker ticker(*sandpile);
        while (SandpileProbe::grainsAdded(*sandpile) < 60000 || SandpileProbe::frontCount(*sandpile) > 0)
            ticker();
        toggle(*sandpile, "slotBurn", true);
        tick(*sandpile);
        QCOMPARE(yellowSquares(screenOf(*sandpile)), Lattice::N);
    }
};

QTEST_MAIN(BurningTest)
#include "tst_burning.moc"
