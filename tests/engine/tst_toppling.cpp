#include "support/modeltest.h"
#include "support/reference.h"

#include <QtTest>

#include <set>

using namespace ModelTest;

// The relaxation sweep: the toppling rule, the edges, the next front, the
// avalanche statistics and what an observer hears, down to long runs
// checked against an independent reference pile.
class TopplingTest : public QObject
{
    Q_OBJECT

    // Sweeps the avalanche in progress to its end; returns the sweeps taken.
    template <typename Observer>
    static int relaxToTheEnd(SandpileModel &model, Observer &observer)
    {
        int sweeps = 0;
        while (model.avalancheInProgress()) {
            model.relax(observer);
            ++sweeps;
        }
        return sweeps;
    }

private slots:
    void siteToppledAloneFeedsItsNeighboursAndLosesTheRestAcrossTheEdge_data() { addNeighbourRows(); }
    void siteToppledAloneFeedsItsNeighboursAndLosesTheRestAcrossTheEdge()
    {
        QFETCH(int, side);
        QFETCH(int, site);
        QFETCH(std::vector<int>, neighbours);
        SandpileModel model(side);
        model.setHeights(flatPile(side, 1));
        model.setHeight(site, 4);
        const std::int64_t before = model.totalHeight();
        Recorder heard(model, true);
        model.startAvalanche(site);
        model.relax(heard);

        QCOMPARE(model.z()[site], 0);
        for (int n : neighbours)
            QCOMPARE(model.z()[n], 2);
        // 4 - neighbours grains leave the lattice.
        QCOMPARE(model.totalHeight(), before - 4 + int(neighbours.size()));
        QCOMPARE(model.frontCount(), 0);
        QCOMPARE(model.avalancheSize(), 1);
        QCOMPARE(model.largestAvalanche(), 1);

        // The toppling, then each grain given, in the neighbours' order.
        std::vector<Recorder::Event> expected{{'t', site, 0}};
        for (int n : neighbours)
            expected.push_back({'r', n, 2});
        QVERIFY(heard.events == expected);
    }

    // The next front takes a site when a grain brings it to exactly 4: a
    // site receiving two grains in one sweep is listed once.
    void siteReachingFourTwiceInOneSweepEntersTheNextFrontOnce_data()
    {
        QTest::addColumn<int>("startHeight");
        QTest::newRow("from 2 to exactly 4") << 2;
        QTest::newRow("from 3 on to 5") << 3;
    }
    void siteReachingFourTwiceInOneSweepEntersTheNextFrontOnce()
    {
        QFETCH(int, startHeight);
        const int L = 149;
        const int middle = 11100;
        SandpileModel model(L);
        // The middle topples first and brings its left and right
        // neighbours to 4: they form the next front.
        model.setHeights(flatPile(L, 0));
        for (int site : {middle - 1, middle + 1})
            model.setHeight(site, 3);
        model.setHeight(middle, 4);
        model.startAvalanche(middle);
        model.relax();
        QCOMPARE(model.front(), (std::vector<int>{middle + 1, middle - 1}));

        model.setHeight(middle, startHeight);
        Recorder heard(model, true);
        model.relax(heard);
        QCOMPARE(model.z()[middle], startHeight + 2);
        QCOMPARE(model.front(), std::vector<int>{middle});
        QCOMPARE(model.avalancheSize(), 3);
        std::vector<int> middleHeights;
        for (const auto &event : heard.events)
            if (event.site == middle)
                middleHeights.push_back(event.height);
        QCOMPARE(middleHeights, (std::vector<int>{startHeight + 1, startHeight + 2}));
    }

    // A pile of 3s everywhere and a grain on its centre: the largest
    // avalanche the lattice has, with fronts far larger than a tenth of it.
    void grainOnTheCentreOfAFullPileTopplesItAll_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<qint64>("size");      // -1: only as the reference says
        QTest::addColumn<int>("sweeps");
        QTest::addColumn<int>("largestFront");
        QTest::newRow("149") << 149 << qint64(562475) << 149 << 7500;
        QTest::newRow("64") << 64 << qint64(-1) << -1 << -1;
        QTest::newRow("16") << 16 << qint64(-1) << -1 << -1;
    }
    void grainOnTheCentreOfAFullPileTopplesItAll()
    {
        QFETCH(int, side);
        QFETCH(qint64, size);
        QFETCH(int, sweeps);
        QFETCH(int, largestFront);
        SandpileModel model(side);
        model.setHeights(flatPile(side, 3));
        ReferencePile reference(side, model.z());
        ++reference.z[model.lattice().centre()];
        const long long topplings = reference.stabilise();

        Recorder heard(model);
        model.selectSite(model.lattice().centre());
        QVERIFY(model.dropAtSelectedSite(heard));
        QCOMPARE(model.grainsAdded(), 1);
        QCOMPARE(model.selectedSite(), -1);
        int swept = 0;
        int largest = 0;
        while (model.avalancheInProgress()) {
            largest = std::max(largest, model.frontCount());
            model.relax(heard);
            ++swept;
            QVERIFY(model.frontCount() <= (model.sites() + 1) / 2);
        }

        QCOMPARE(model.avalancheSize(), topplings);
        QCOMPARE(model.largestAvalanche(), topplings);
        QCOMPARE(model.z(), reference.z);
        QCOMPARE(heard.heights, model.z());
        QCOMPARE(heard.outOfStep, 0);
        QCOMPARE(heard.topplings, topplings);
        if (size >= 0) {
            QCOMPARE(topplings, size);
            QCOMPARE(swept, sweeps);
            QCOMPARE(largest, largestFront);
        }
    }

    // A long run of "run free", tick by tick. Each front of an avalanche
    // lies on one colour of the checkerboard, the colour alternating from
    // sweep to sweep, so every front site topples exactly once and s grows
    // by the front's length. The observer hears every change in order.
    // Every avalanche ends in the pile the one-by-one reference reaches
    // from the same grains, after as many topplings, and every grain is
    // either held or lost across the edge.
    void longRunAgreesWithTheReferenceSweepBySweep_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("ticks");
        QTest::newRow("149") << 149 << 300000;
        QTest::newRow("64") << 64 << 100000;
        QTest::newRow("16") << 16 << 100000;
    }
    void longRunAgreesWithTheReferenceSweepBySweep()
    {
        QFETCH(int, side);
        QFETCH(int, ticks);
        SandpileModel model(side);
        GrainDriver driver(model);
        driver.reinitialise();
        const Lattice &lattice = model.lattice();
        Recorder heard(model);
        ReferencePile reference(side, model.z());
        const long long startGrains = reference.grains();
        long long topplings = 0;   // of the avalanche in progress, by the reference

        int avalanches = 0;
        int sweepTicks = 0;
        std::int64_t largestFront = 0;
        for (int t = 0; t < ticks; ++t) {
            if (!model.avalancheInProgress()) {
                // The grains the next tick will add, from the same random source.
                reference.addRandomDrop(model.random());
                topplings = reference.stabilise();
            }
            const std::vector<int> front = model.front();
            const std::int64_t sBefore = model.avalancheSize();
            const std::int64_t topplingsBefore = heard.topplings;
            const GrainDriver::Tick did = driver.tick(heard);
            const std::int64_t toppled = heard.topplings - topplingsBefore;
            QVERIFY(did.swept);
            if (did.dropped) {
                QCOMPARE(model.avalancheSize(), 1);   // the site that reached 4
                QCOMPARE(toppled, 1);
            } else {
                ++sweepTicks;
                QCOMPARE(toppled, qint64(front.size()));
                QCOMPARE(model.avalancheSize() - sBefore, toppled);
            }
            if (!model.avalancheInProgress()) {
                ++avalanches;
                QVERIFY(isStable(model.z()));
                QCOMPARE(model.z(), reference.z);
                QCOMPARE(model.avalancheSize(), topplings);
                QCOMPARE(reference.grains() + reference.lost, startGrains + model.grainsAdded());
                QCOMPARE(model.totalHeight(), reference.grains());
                continue;
            }
            const std::vector<int> next = model.front();
            largestFront = std::max<std::int64_t>(largestFront, next.size());
            const int colour = colourOf(lattice, next[0]);
            for (int site : next)
                QCOMPARE(colourOf(lattice, site), colour);
            if (!front.empty())
                QCOMPARE(colour, 1 - colourOf(lattice, front[0]));
            QCOMPARE(std::set<int>(next.begin(), next.end()).size(), next.size());
            if (t % 1000 == 0)
                QCOMPARE(heard.heights, model.z());
        }
        QCOMPARE(heard.outOfStep, 0);
        QCOMPARE(heard.heights, model.z());
        // The run saw many avalanches, some of them large, and lost grains.
        QVERIFY(avalanches > 1000);
        QVERIFY(sweepTicks > 1000);
        QVERIFY(largestFront >= side);
        QVERIFY(model.largestAvalanche() > side);
        QVERIFY(model.largestAvalanche() >= largestFront);
        QVERIFY(reference.lost > 0);
    }

    // A site holding 8 in the front is not left unstable: it keeps 4 after
    // its toppling, is listed again, and the pile ends as the one-by-one
    // reference relaxes it.
    void frontSiteHoldingEightTopplesAgainOnTheNextSweep_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("site");
        QTest::addColumn<bool>("randomPile");   // else empty
        QTest::newRow("149 interior, empty pile") << 149 << 11100 << false;
        QTest::newRow("149 corner, empty pile") << 149 << 0 << false;
        QTest::newRow("149 interior, random pile") << 149 << 11100 << true;
        QTest::newRow("16 edge, random pile") << 16 << 7 << true;
        QTest::newRow("64 interior, random pile") << 64 << 2080 << true;
        QTest::newRow("2 corner, random pile") << 2 << 3 << true;
    }
    void frontSiteHoldingEightTopplesAgainOnTheNextSweep()
    {
        QFETCH(int, side);
        QFETCH(int, site);
        QFETCH(bool, randomPile);
        SandpileModel model(side);
        if (randomPile)
            model.reinitialise(SandpileModel::RunFree);
        else
            model.setHeights(flatPile(side, 0));
        model.setHeight(site, 8);
        ReferencePile reference(side, model.z());
        const long long topplings = reference.stabilise();

        Recorder heard(model);
        model.startAvalanche(site);
        model.relax(heard);
        QCOMPARE(model.z()[site], 4);
        const std::vector<int> front = model.front();
        QVERIFY(std::count(front.begin(), front.end(), site) == 1);
        model.relax(heard);
        QVERIFY(heard.topplingsAt[site] >= 2);
        relaxToTheEnd(model, heard);

        QVERIFY(isStable(model.z()));
        QCOMPARE(model.z(), reference.z);
        QCOMPARE(model.avalancheSize(), topplings);
        QCOMPARE(heard.topplings, topplings);
        QCOMPARE(heard.heights, model.z());
        QCOMPARE(heard.outOfStep, 0);
        if (!randomPile) {
            // Alone on an empty pile it simply topples twice.
            QCOMPARE(topplings, 2);
            QCOMPARE(model.z()[site], 0);
            for (int n : neighboursOf(model.lattice(), site))
                QCOMPARE(model.z()[n], 2);
        }
    }

    void largestAvalancheKeepsTheLargestSize()
    {
        SandpileModel model(149);
        model.reinitialise(SandpileModel::RunFree);
        // A strip of 3s down the left edge: a grain in it sets off a long
        // avalanche; a grain on an empty site later a single toppling.
        std::vector<int> pile(model.sites(), 0);
        for (int i = 0; i < model.sites(); ++i)
            pile[i] = i % 149 < 3 ? 3 : 0;
        model.setHeights(pile);
        ReferencePile reference(149, pile);
        ++reference.z[149 * 70];
        const long long topplings = reference.stabilise();
        QVERIFY(topplings > 1);

        model.setHeight(149 * 70, 4);
        model.startAvalanche(149 * 70);
        int sweeps = 0;
        while (model.avalancheInProgress()) {
            model.relax();
            ++sweeps;
            // The largest follows s as it grows, not only at the end.
            QCOMPARE(model.largestAvalanche(), model.avalancheSize());
        }
        QVERIFY(sweeps > 1);
        QCOMPARE(model.avalancheSize(), topplings);

        model.setHeight(11100, 4);
        model.startAvalanche(11100);
        QCOMPARE(model.avalancheSize(), 0);
        model.relax();
        QCOMPARE(model.avalancheSize(), 1);
        QCOMPARE(model.largestAvalanche(), topplings);
    }
};

QTEST_MAIN(TopplingTest)
#include "tst_toppling.moc"
