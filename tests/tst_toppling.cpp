#include "support/neighbours.h"
#include "support/probe.h"
#include "support/reference.h"

#include <QtTest>

// The relaxation sweep: the toppling rule, the edges, the next front, the
// repaint and the avalanche statistics.
class TopplingTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandpile> sandpile;

    long long grainsHeld() const
    {
        long long sum = 0;
        for (int h : SandpileProbe::heights(*sandpile))
            sum += h;
        return sum;
    }

private slots:
    void init() { sandpile = freshSandpile(); }
    void cleanup() { sandpile.reset(); }

    void siteToppledAloneFeedsItsNeighboursAndLosesTheRestAcrossTheEdge_data() { addNeighbourRows(); }
    void siteToppledAloneFeedsItsNeighboursAndLosesTheRestAcrossTheEdge()
    {
        QFETCH(int, site);
        QFETCH(std::vector<int>, neighbours);
        SandpileProbe::setHeights(*sandpile, [site](int i) { return i == site ? 4 : 1; });
        const long long before = grainsHeld();
        SandpileProbe::setFront(*sandpile, {site});
        SandpileProbe::relax(*sandpile);

        QCOMPARE(SandpileProbe::height(*sandpile, site), 0);
        for (int n : neighbours)
            QCOMPARE(SandpileProbe::height(*sandpile, n), 2);
        QCOMPARE(grainsHeld(), before - 4 + int(neighbours.size()));
        QCOMPARE(SandpileProbe::frontCount(*sandpile), 0);
        QCOMPARE(SandpileProbe::avalancheSize(*sandpile), 1);

        const QImage screen = screenOf(*sandpile);
        QCOMPARE(squareColour(screen, site), QColor(Qt::black));
        for (int n : neighbours)
            QCOMPARE(squareColour(screen, n), QColor(Qt::lightGray));
    }

    void siteReachingFourTwiceInOneSweepEntersTheNextFrontOnce_data()
    {
        QTest::addColumn<int>("startHeight");
        QTest::newRow("from 2 to exactly 4") << 2;
        QTest::newRow("from 3 on to 5") << 3;
    }
    void siteReachingFourTwiceInOneSweepEntersTheNextFrontOnce()
    {
        QFETCH(int, startHeight);
        const int middle = 11100;
        SandpileProbe::setHeights(*sandpile, [&](int i) {
            return i == middle - 1 || i == middle + 1 ? 4 : i == middle ? startHeight : 0;
        });
        SandpileProbe::setFront(*sandpile, {middle - 1, middle + 1});
        SandpileProbe::relax(*sandpile);
        QCOMPARE(SandpileProbe::height(*sandpile, middle), startHeight + 2);
        QCOMPARE(SandpileProbe::front(*sandpile), std::vector<int>{middle});
        QCOMPARE(SandpileProbe::avalancheSize(*sandpile), 2);
        QCOMPARE(squareColour(screenOf(*sandpile), middle), QColor(Qt::red));
    }

    void gainInAStyleWithStatisticsIsShownAndKeptAsTheLargest()
    {
        SandpileProbe::setHeights(*sandpile, [](int i) { return i % 149 < 3 ? 3 : 0; });
        SandpileProbe::setGrainsAdded(*sandpile, 7);   // not a multiple of 100: no slope
        SandpileProbe::setFront(*sandpile, {149 * 70});
        SandpileProbe::setHeight(*sandpile, 149 * 70, 4);
        const double slopeBefore = lcdValue(*sandpile, "slopeLCD");
        tickUntilAvalancheEnds(*sandpile);
        const int s = SandpileProbe::avalancheSize(*sandpile);
        QVERIFY(s > 1);
        QCOMPARE(lcdText(*sandpile, "sLCD"), QString::number(s));
        QCOMPARE(lcdText(*sandpile, "largestLCD"), QString::number(s));
        QCOMPARE(SandpileProbe::largestAvalanche(*sandpile), s);
        QCOMPARE(lcdValue(*sandpile, "slopeLCD"), slopeBefore);
    }

    // A pile of 3s everywhere, a grain clicked on its centre: the largest
    // avalanche the lattice has, with sweeps far larger than the lattice.
    void grainOnTheCentreOfAFullPileTopplesItAll()
    {
        choose(*sandpile, "slotRunningStyle", Sandpile::Sprinkle);
        SandpileProbe::setHeights(*sandpile, [](int) { return 3; });
        redraw(*sandpile);
        ReferencePile reference(SandpileProbe::heights(*sandpile));
        ++reference.z[Lattice::CENTRE_SITE];
        const long long topplings = reference.stabilise();

        pressAt(*sandpile, pointOf(Lattice::CENTRE_SITE));
        int sweeps = 0;
        int largestSweep = 0;
        do {
            largestSweep = std::max(largestSweep, SandpileProbe::frontCount(*sandpile));
            tick(*sandpile);
            ++sweeps;
            QVERIFY(SandpileProbe::frontCount(*sandpile) <= (Lattice::N + 1) / 2);
        } while (SandpileProbe::frontCount(*sandpile) > 0);

        QCOMPARE(SandpileProbe::avalancheSize(*sandpile), 562475);
        QCOMPARE(topplings, 562475);
        QCOMPARE(sweeps, 149);
        QCOMPARE(largestSweep, 7500);
        QCOMPARE(SandpileProbe::heights(*sandpile), reference.z);
        QCOMPARE(lcdText(*sandpile, "sLCD"), QStringLiteral("562475"));
        QCOMPARE(lcdText(*sandpile, "largestLCD"), QStringLiteral("562475"));
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), SandpileProbe::heights(*sandpile)), -1);
    }

    void slopeIsRecomputedOnlyAfterAGrainBringingTheCountToAHundred()
    {
        choose(*sandpile, "slotRunningStyle", Sandpile::Sprinkle);
        // A corner at 3 topples and loses grains, so the average changes.
        for (const auto &[grainsBefore, slopeFollows] : {std::pair{99, true}, std::pair{100, false}}) {
            SandpileProbe::setHeight(*sandpile, 0, 3);
            SandpileProbe::setGrainsAdded(*sandpile, grainsBefore);
            const double shownBefore = lcdValue(*sandpile, "slopeLCD");
            pressAt(*sandpile, pointOf(0));
            tick(*sandpile);
            tickUntilAvalancheEnds(*sandpile);
            const double average = grainsHeld() / double(Lattice::N);
            QCOMPARE(lcdValue(*sandpile, "slopeLCD"), slopeFollows ? average : shownBefore);
            QVERIFY(average != shownBefore);
        }
    }

    void fractalsandSweepsWriteNoReadoutAndKeepNoLargest()
    {
        choose(*sandpile, "slotRunningStyle", Sandpile::Fractalsand2);
        for (int i = 0; i < 200; ++i)
            tick(*sandpile);
        QVERIFY(SandpileProbe::avalancheSize(*sandpile) > 0);
        QCOMPARE(SandpileProbe::largestAvalanche(*sandpile), 0);
        for (const char *lcd : {"grainsLCD", "slopeLCD", "sLCD", "largestLCD"})
            QCOMPARE(lcdText(*sandpile, lcd), QString());
    }
};

QTEST_MAIN(TopplingTest)
#include "tst_toppling.moc"
