#include "support/neighbours.h"
#include "support/probe.h"

#include <QtTest>

// The random source and the pile a fresh program starts from.
class LatticeTest : public QObject
{
    Q_OBJECT

private slots:
    void randomSourceStartsWithTheMinimalStandardSequence()
    {
        setRandomSeed(1);
        const double expected[] = {7.825903601782307e-06, 0.13153778773875702, 0.7556053220812281,
                                   0.4586501316713636, 0.5327672371945971};
        for (double value : expected)
            QCOMPARE(uniformRandom(), value);
    }

    void randomSourceStaysInsideTheUnitIntervalAtItsExtremes()
    {
        // The seeds next to 0 and to the modulus give the smallest and largest draws.
        for (int seed : {1, 2147483646, 127773, 127774, 16807}) {
            setRandomSeed(seed);
            for (int i = 0; i < 1000; ++i) {
                const double u = uniformRandom();
                QVERIFY(u >= 0.0 && u < 1.0);
                QVERIFY(randomSeed() > 0);
            }
        }
    }

    void freshProgramStartsFromTheSameRandomStablePile()
    {
        auto sandpile = freshSandpile();
        const std::vector<int> z = SandpileProbe::heights(*sandpile);
        const std::vector<int> firstRow(z.begin(), z.begin() + 10);
        QCOMPARE(firstRow, (std::vector<int>{0, 0, 3, 1, 2, 0, 0, 2, 2, 3}));
        int count[4] = {};
        int grains = 0;
        for (int h : z) {
            QVERIFY(h >= 0 && h <= 3);
            ++count[h];
            grains += h;
        }
        QCOMPARE(grains, 33256);
        QCOMPARE(count[0], 5618);
        QCOMPARE(count[1], 5469);
        QCOMPARE(count[2], 5555);
        QCOMPARE(count[3], 5559);
    }

    void freshProgramShowsItsStartingReadouts()
    {
        auto sandpile = freshSandpile();
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QStringLiteral("0"));
        QCOMPARE(lcdValue(*sandpile, "slopeLCD"), 33256 / 22201.0);
        QCOMPARE(lcdText(*sandpile, "sLCD"), QStringLiteral("0"));
        QCOMPARE(lcdText(*sandpile, "largestLCD"), QStringLiteral("0"));
        QCOMPARE(SandpileProbe::frontCount(*sandpile), 0);
        QCOMPARE(SandpileProbe::selectedSite(*sandpile), -1);
        QCOMPARE(SandpileProbe::grainsAdded(*sandpile), 0);
        QCOMPARE(SandpileProbe::avalancheSize(*sandpile), 0);
        QCOMPARE(SandpileProbe::largestAvalanche(*sandpile), 0);
    }

    void freshProgramIsDrawnInTheColoursOfItsHeights()
    {
        auto sandpile = freshSandpile();
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), SandpileProbe::heights(*sandpile)), -1);
    }

    void neighboursAreVisitedUpRightDownLeftWithinTheLattice_data() { addNeighbourRows(); }
    void neighboursAreVisitedUpRightDownLeftWithinTheLattice()
    {
        QFETCH(int, site);
        QFETCH(std::vector<int>, neighbours);
        std::vector<int> visited;
        Lattice::forEachNeighbour(site, [&](int n) { visited.push_back(n); });
        QCOMPARE(visited, neighbours);
        QCOMPARE(Lattice::neighbourCount(site), int(neighbours.size()));
    }
};

QTEST_MAIN(LatticeTest)
#include "tst_lattice.moc"
