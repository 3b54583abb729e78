#include "support/probe.h"

#include <QElapsedTimer>

#include <map>
#include <numeric>
#include <QtTest>

// The grain driver: what one tick does in each running style and speed,
// mouse presses, and the control slots that steer it.
class DriverTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandpile> sandpile;

    // Sites whose height differs between two piles, with the change.
    static std::map<int, int> changes(const std::vector<int> &before, const std::vector<int> &after)
    {
        std::map<int, int> changed;
        for (int i = 0; i < Lattice::N; ++i)
            if (before[i] != after[i])
                changed[i] = after[i] - before[i];
        return changed;
    }

    // The changes made by grains dropped on a site that then topples alone.
    static std::map<int, int> toppling(int site, int grainsDropped)
    {
        std::map<int, int> changed;
        if (grainsDropped != 4)
            changed[site] = grainsDropped - 4;
        Lattice::forEachNeighbour(site, [&](int n) { changed[n] += 1; });
        return changed;
    }

private slots:
    void init() { sandpile = freshSandpile(); }
    void cleanup() { sandpile.reset(); }

    void firstTenTicksOfAFreshProgram()
    {
        std::vector<int> before = SandpileProbe::heights(*sandpile);

        // Ticks 1 and 2: one grain each on a site at 3, which topples alone.
        for (int site : {13687, 12876}) {
            QCOMPARE(before[site], 3);
            tick(*sandpile);
            const std::vector<int> after = SandpileProbe::heights(*sandpile);
            QCOMPARE(changes(before, after), toppling(site, 1));
            QCOMPARE(SandpileProbe::frontCount(*sandpile), 0);
            QCOMPARE(lcdText(*sandpile, "sLCD"), QStringLiteral("1"));
            QCOMPARE(lcdText(*sandpile, "largestLCD"), QStringLiteral("1"));
            before = after;
        }
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QStringLiteral("2"));

        // Tick 3 drops a grain on 7917 and starts an avalanche of 9
        // topplings in 7 sweeps, one per tick up to tick 9.
        QCOMPARE(before[7917], 3);
        for (int t = 3; t <= 9; ++t) {
            tick(*sandpile);
            QCOMPARE(SandpileProbe::frontCount(*sandpile) > 0, t < 9);
            QCOMPARE(lcdText(*sandpile, "grainsLCD"), QStringLiteral("3"));
        }
        QCOMPARE(SandpileProbe::avalancheSize(*sandpile), 9);
        QCOMPARE(lcdText(*sandpile, "sLCD"), QStringLiteral("9"));
        QCOMPARE(lcdText(*sandpile, "largestLCD"), QStringLiteral("9"));

        // Tick 10: five grains, the last reaching 4.
        before = SandpileProbe::heights(*sandpile);
        QCOMPARE(before[15410], 3);
        tick(*sandpile);
        const std::map<int, int> changed = changes(before, SandpileProbe::heights(*sandpile));
        for (int site : {20670, 2141, 6173, 4558})
            QCOMPARE(changed.at(site), 1);
        QCOMPARE(SandpileProbe::height(*sandpile, 15410) < 3, true);
        QCOMPARE(SandpileProbe::grainsAdded(*sandpile), 8);
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QStringLiteral("8"));
    }

    void firstTickOfFractalsandZeroTopplesTheCentre()
    {
        choose(*sandpile, "slotRunningStyle", Sandpile::Fractalsand0);
        for (int h : SandpileProbe::heights(*sandpile))
            QCOMPARE(h, 0);
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QStringLiteral("0"));   // kept until the first drop
        tick(*sandpile);
        QCOMPARE(changes(std::vector<int>(Lattice::N, 0), SandpileProbe::heights(*sandpile)),
                 toppling(Lattice::CENTRE_SITE, 4));
        QCOMPARE(SandpileProbe::frontCount(*sandpile), 0);
        QCOMPARE(SandpileProbe::grainsAdded(*sandpile), 0);
        for (const char *lcd : {"grainsLCD", "slopeLCD", "sLCD", "largestLCD"})
            QCOMPARE(lcdText(*sandpile, lcd), QString());
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), SandpileProbe::heights(*sandpile)), -1);
    }

    void fractalsandDropsOnTheCentreUntilItTopples_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("flatHeight");
        QTest::newRow("fractalsand 1") << int(Sandpile::Fractalsand1) << 1;
        QTest::newRow("fractalsand 2") << int(Sandpile::Fractalsand2) << 2;
    }
    void fractalsandDropsOnTheCentreUntilItTopples()
    {
        QFETCH(int, style);
        QFETCH(int, flatHeight);
        choose(*sandpile, "slotRunningStyle", style);
        tick(*sandpile);
        // 4 - h grains on the centre, which then topples once.
        QCOMPARE(SandpileProbe::height(*sandpile, Lattice::CENTRE_SITE), 0);
        QCOMPARE(SandpileProbe::avalancheSize(*sandpile), 1);
        QCOMPARE(SandpileProbe::height(*sandpile, Lattice::CENTRE_SITE + 1), flatHeight + 1);
        // Burn changes nothing in these styles.
        toggle(*sandpile, "slotBurn", true);
        tickUntilAvalancheEnds(*sandpile);
        const std::vector<int> before = SandpileProbe::heights(*sandpile);
        tick(*sandpile);
        QVERIFY(SandpileProbe::heights(*sandpile) != before);
    }

    void pressOnThePictureSelectsTheSiteUnderIt_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("site");
        QTest::newRow("left of the picture") << QPoint(199, 10) << -1;
        QTest::newRow("right strip") << QPoint(796, 10) << -1;
        QTest::newRow("right strip end") << QPoint(799, 599) << -1;
        QTest::newRow("bottom strip") << QPoint(300, 596) << -1;
        QTest::newRow("read-out area") << QPoint(50, 50) << -1;
        QTest::newRow("top-left pixel") << QPoint(200, 0) << 0;
        QTest::newRow("inside square 0") << QPoint(203, 3) << 0;
        QTest::newRow("next row and column") << QPoint(204, 4) << 150;
        QTest::newRow("bottom-right pixel") << QPoint(795, 595) << 22200;
    }
    void pressOnThePictureSelectsTheSiteUnderIt()
    {
        QFETCH(QPoint, at);
        QFETCH(int, site);
        choose(*sandpile, "slotRunningStyle", Sandpile::Sprinkle);
        pressAt(*sandpile, QPoint(400, 300));
        pressAt(*sandpile, at);
        QCOMPARE(SandpileProbe::selectedSite(*sandpile), site);
        // In any other style a press only clears the pending grain.
        choose(*sandpile, "slotRunningStyle", Sandpile::RunFree);
        pressAt(*sandpile, at);
        QCOMPARE(SandpileProbe::selectedSite(*sandpile), -1);
    }

    void sprinkleDropsOneGrainWhereClickedAndOnlyThen()
    {
        choose(*sandpile, "slotRunningStyle", Sandpile::Sprinkle);
        std::vector<int> before = SandpileProbe::heights(*sandpile);
        tick(*sandpile);   // nothing pending: nothing happens
        QCOMPARE(SandpileProbe::heights(*sandpile), before);
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QStringLiteral("0"));

        const int site = 3;   // height 1 in the starting pile
        QCOMPARE(before[site], 1);
        pressAt(*sandpile, pointOf(150));
        pressAt(*sandpile, pointOf(site));   // a new press replaces the pending one
        tick(*sandpile);
        QCOMPARE(changes(before, SandpileProbe::heights(*sandpile)), (std::map<int, int>{{site, 1}}));
        QCOMPARE(SandpileProbe::selectedSite(*sandpile), -1);
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QStringLiteral("1"));
        QCOMPARE(squareColour(screenOf(*sandpile), site), QColor(Qt::lightGray));
        tick(*sandpile);
        QCOMPARE(SandpileProbe::grainsAdded(*sandpile), 1);
    }

    void pauseHoldsEverythingIncludingAPendingGrain()
    {
        choose(*sandpile, "slotRunningStyle", Sandpile::Sprinkle);
        SandpileProbe::setHeight(*sandpile, 11100, 3);
        pressAt(*sandpile, pointOf(11100));
        choose(*sandpile, "slotSpeed", Sandpile::Pause);
        const std::vector<int> before = SandpileProbe::heights(*sandpile);
        for (int i = 0; i < 10; ++i)
            tick(*sandpile);
        QCOMPARE(SandpileProbe::heights(*sandpile), before);
        QCOMPARE(SandpileProbe::selectedSite(*sandpile), 11100);

        choose(*sandpile, "slotSpeed", Sandpile::Fast);
        tick(*sandpile);
        QCOMPARE(SandpileProbe::grainsAdded(*sandpile), 1);
        QCOMPARE(SandpileProbe::avalancheSize(*sandpile) >= 1, true);
        // An avalanche in progress is held by pause too.
        SandpileProbe::setFront(*sandpile, {11100});
        SandpileProbe::setHeight(*sandpile, 11100, 4);
        choose(*sandpile, "slotSpeed", Sandpile::Pause);
        tick(*sandpile);
        QCOMPARE(SandpileProbe::height(*sandpile, 11100), 4);
    }

    void slowSweepHoldsTheLoopForAtLeastATenthOfASecond()
    {
        choose(*sandpile, "slotSpeed", Sandpile::Slow);
        tick(*sandpile);   // a drop tick runs the avalanche's first sweep too
        QElapsedTimer clock;
        clock.start();
        tick(*sandpile);
        QVERIFY(clock.elapsed() >= 100);
        QCOMPARE(SandpileProbe::grainsAdded(*sandpile), 2);
    }

    void displayOffStopsDrawingButNotTheStatistics()
    {
        const QImage shown = screenOf(*sandpile);
        toggle(*sandpile, "slotDisplay", false);
        for (int i = 0; i < 20; ++i)
            tick(*sandpile);
        tickUntilAvalancheEnds(*sandpile);
        QCOMPARE(screenOf(*sandpile).copy(Picture::area()), shown.copy(Picture::area()));
        QCOMPARE(lcdText(*sandpile, "sLCD"), QStringLiteral("0"));   // not written while off
        QCOMPARE(lcdText(*sandpile, "largestLCD"), QString::number(SandpileProbe::largestAvalanche(*sandpile)));
        QVERIFY(SandpileProbe::largestAvalanche(*sandpile) >= 9);
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QString::number(SandpileProbe::grainsAdded(*sandpile)));

        toggle(*sandpile, "slotDisplay", true);
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), SandpileProbe::heights(*sandpile)), -1);
        QCOMPARE(lcdText(*sandpile, "sLCD"), QStringLiteral("0"));   // the catch-up redraws only the picture
    }

    void styleChangesKeepOrRefillThePile()
    {
        for (int i = 0; i < 30; ++i)
            tick(*sandpile);
        const std::vector<int> pile = SandpileProbe::heights(*sandpile);
        const qint64 grains = SandpileProbe::grainsAdded(*sandpile);
        const int largest = SandpileProbe::largestAvalanche(*sandpile);
        const int frontCount = SandpileProbe::frontCount(*sandpile);

        // run free <-> sprinkle continues the same pile, avalanche and counts.
        choose(*sandpile, "slotRunningStyle", Sandpile::Sprinkle);
        choose(*sandpile, "slotRunningStyle", Sandpile::RunFree);
        QCOMPARE(SandpileProbe::heights(*sandpile), pile);
        QCOMPARE(SandpileProbe::grainsAdded(*sandpile), grains);
        QCOMPARE(SandpileProbe::largestAvalanche(*sandpile), largest);
        QCOMPARE(SandpileProbe::frontCount(*sandpile), frontCount);

        // A fractalsand style refills once; choosing it again keeps its pile,
        // and the read-outs keep what they showed.
        choose(*sandpile, "slotRunningStyle", Sandpile::Fractalsand1);
        QCOMPARE(SandpileProbe::frontCount(*sandpile), 0);
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QString::number(grains));
        for (int h : SandpileProbe::heights(*sandpile))
            QCOMPARE(h, 1);
        tick(*sandpile);
        const std::vector<int> dropped = SandpileProbe::heights(*sandpile);
        choose(*sandpile, "slotRunningStyle", Sandpile::Fractalsand1);
        QCOMPARE(SandpileProbe::heights(*sandpile), dropped);

        // Back to run free: a fresh random pile with fresh read-outs.
        choose(*sandpile, "slotRunningStyle", Sandpile::RunFree);
        const std::vector<int> fresh = SandpileProbe::heights(*sandpile);
        const long long held = std::accumulate(fresh.begin(), fresh.end(), 0LL);
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QStringLiteral("0"));
        QCOMPARE(lcdText(*sandpile, "sLCD"), QStringLiteral("0"));
        QCOMPARE(lcdText(*sandpile, "largestLCD"), QStringLiteral("0"));
        QCOMPARE(lcdValue(*sandpile, "slopeLCD"), held / double(Lattice::N));
        QVERIFY(fresh != pile);
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), fresh), -1);
    }

    void reinitialisingEndsAnAvalancheAndClearsAPendingGrain()
    {
        choose(*sandpile, "slotRunningStyle", Sandpile::Sprinkle);
        SandpileProbe::setFront(*sandpile, {11100});
        SandpileProbe::setHeight(*sandpile, 11100, 4);
        pressAt(*sandpile, pointOf(5));
        QMetaObject::invokeMethod(sandpile.get(), "slotStartAgain");
        QCOMPARE(SandpileProbe::frontCount(*sandpile), 0);
        QCOMPARE(SandpileProbe::selectedSite(*sandpile), -1);
        for (int h : SandpileProbe::heights(*sandpile))
            QVERIFY(h >= 0 && h <= 3);
    }

    void grainCountOutgrowsItsSevenDigits()
    {
        // The count is wide enough for any run, and the read-out widens to
        // show it instead of freezing at its old digits.
        for (qint64 grains : {Q_INT64_C(9999999), Q_INT64_C(2147483647), Q_INT64_C(99999999999)}) {
            SandpileProbe::setGrainsAdded(*sandpile, grains);
            SandpileProbe::countGrain(*sandpile);
            SandpileProbe::presentChanges(*sandpile);
            QCOMPARE(SandpileProbe::grainsAdded(*sandpile), grains + 1);
            QCOMPARE(lcdText(*sandpile, "grainsLCD"), QString::number(grains + 1));
            auto *lcd = sandpile->findChild<QLCDNumber *>(QStringLiteral("grainsLCD"));
            QVERIFY(!lcd->checkOverflow(double(grains + 1)));
            QCOMPARE(lcd->value(), double(grains + 1));
        }
        // A fresh pile's count fits the display's own seven digits again.
        QMetaObject::invokeMethod(sandpile.get(), "slotStartAgain");
        QCOMPARE(sandpile->findChild<QLCDNumber *>(QStringLiteral("grainsLCD"))->digitCount(), 7);
    }
};

QTEST_MAIN(DriverTest)
#include "tst_driver.moc"
