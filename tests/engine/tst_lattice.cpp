#include "support/modeltest.h"

#include <QtTest>

#include <climits>

using namespace ModelTest;

// The geometry of the lattice, the random source and the piles a run
// starts from.
class LatticeTest : public QObject
{
    Q_OBJECT

private slots:
    void neighboursAreVisitedUpRightDownLeftWithinTheLattice_data() { addNeighbourRows(); }
    void neighboursAreVisitedUpRightDownLeftWithinTheLattice()
    {
        QFETCH(int, side);
        QFETCH(int, site);
        QFETCH(std::vector<int>, neighbours);
        const Lattice lattice(side);
        QCOMPARE(neighboursOf(lattice, site), neighbours);
        QCOMPARE(lattice.neighbourCount(site), int(neighbours.size()));
    }

    void sitesAreNumberedRowByRowFromTheTopLeft_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("centre");
        QTest::newRow("149") << 149 << 11100;   // row 74, column 74
        QTest::newRow("16") << 16 << 136;       // row 8, column 8
        QTest::newRow("5") << 5 << 12;
        QTest::newRow("2") << 2 << 3;
    }
    void sitesAreNumberedRowByRowFromTheTopLeft()
    {
        QFETCH(int, side);
        QFETCH(int, centre);
        const Lattice lattice(side);
        QCOMPARE(lattice.side(), side);
        QCOMPARE(lattice.sites(), side * side);
        QCOMPARE(lattice.centre(), centre);
        QCOMPARE(lattice.row(centre), side / 2);
        QCOMPARE(lattice.column(centre), side / 2);
    }

    void sidesTheLatticeCannotHoldAreRejected_data()
    {
        QTest::addColumn<int>("side");
        QTest::newRow("1") << 1;
        QTest::newRow("0") << 0;
        QTest::newRow("negative") << -149;
        QTest::newRow("one above the largest") << Lattice::MAX_SIDE + 1;
        QTest::newRow("INT_MAX") << INT_MAX;
    }
    void sidesTheLatticeCannotHoldAreRejected()
    {
        QFETCH(int, side);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, Lattice{side});
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, SandpileModel{side});
    }

    void smallestLatticeIsAccepted()
    {
        SandpileModel model(Lattice::MIN_SIDE);
        QCOMPARE(model.sites(), 4);
        QCOMPARE(int(model.z().size()), 4);
    }

    // The minimal standard generator: seed' = 16807 seed mod (2^31 - 1),
    // drawn as (seed' - 1) / (2^31 - 2).
    void randomSourceStartsWithTheMinimalStandardSequence()
    {
        Random random;
        QCOMPARE(random.seed(), 1);
        const int seeds[] = {16807, 282475249, 1622650073, 984943658, 1144108930};
        const double values[] = {7.825903601782307e-06, 0.13153778773875702, 0.7556053220812281,
                                 0.4586501316713636, 0.5327672371945971};
        for (int k = 0; k < 5; ++k) {
            const double u = random.uniformRandom();
            QCOMPARE(random.seed(), seeds[k]);
            QCOMPARE(u, (seeds[k] - 1) / 2147483646.0);
            QCOMPARE(u, values[k]);
        }
        // The model's own source starts there too.
        SandpileModel model(16);
        QCOMPARE(model.uniformRandom(), values[0]);
    }

    void randomSourceStaysInsideTheUnitIntervalAtItsExtremes()
    {
        // The seeds next to 0 and to the modulus give the smallest and largest draws.
        for (int seed : {1, 2147483646, 127773, 127774, 16807}) {
            Random random(seed);
            for (int i = 0; i < 1000; ++i) {
                const double u = random.uniformRandom();
                QVERIFY(u >= 0.0 && u < 1.0);
                QVERIFY(random.seed() > 0 && random.seed() < Random::MODULUS);
            }
        }
    }

    void seedsAreBroughtIntoTheGeneratorsRange_data()
    {
        QTest::addColumn<qint64>("given");
        QTest::addColumn<int>("seed");
        QTest::newRow("1") << qint64(1) << 1;
        QTest::newRow("largest") << qint64(2147483646) << 2147483646;
        QTest::newRow("0 would stay 0") << qint64(0) << 1;
        QTest::newRow("the modulus") << qint64(2147483647) << 1;
        QTest::newRow("twice the modulus") << qint64(2) * 2147483647 << 1;
        QTest::newRow("-1") << qint64(-1) << 2147483646;
        QTest::newRow("-5") << qint64(-5) << 2147483642;
        QTest::newRow("INT_MIN") << qint64(INT_MIN) << 2147483646;
        QTest::newRow("modulus + 5") << qint64(2147483652) << 5;
        QTest::newRow("2^40") << (qint64(1) << 40) << int((qint64(1) << 40) % 2147483647);
    }
    void seedsAreBroughtIntoTheGeneratorsRange()
    {
        QFETCH(qint64, given);
        QFETCH(int, seed);
        Random random;
        random.setSeed(given);
        QCOMPARE(random.seed(), seed);
        QCOMPARE(Random(given).seed(), seed);
        const double u = random.uniformRandom();
        QVERIFY(u >= 0.0 && u < 1.0);
    }

    void randomPileFromTheFirstSeedIsAlwaysTheSame_data()
    {
        QTest::addColumn<int>("style");
        QTest::newRow("run free") << int(SandpileModel::RunFree);
        QTest::newRow("sprinkle") << int(SandpileModel::Sprinkle);
    }
    void randomPileFromTheFirstSeedIsAlwaysTheSame()
    {
        QFETCH(int, style);
        SandpileModel model(149);
        model.reinitialise(SandpileModel::RunningStyle(style));
        const std::vector<int> &z = model.z();
        QCOMPARE(std::vector<int>(z.begin(), z.begin() + 10), (std::vector<int>{0, 0, 3, 1, 2, 0, 0, 2, 2, 3}));
        int count[4] = {};
        for (int h : z) {
            QVERIFY(h >= 0 && h <= 3);
            ++count[h];
        }
        QCOMPARE(model.totalHeight(), 33256);
        QCOMPARE(model.averageHeight(), 33256 / 22201.0);
        QCOMPARE(count[0], 5618);
        QCOMPARE(count[1], 5469);
        QCOMPARE(count[2], 5555);
        QCOMPARE(count[3], 5559);
        // One draw per site, in site order: the pile used the first N draws.
        Random source;
        for (int i = 0; i < model.sites(); ++i)
            source.uniformRandom();
        QCOMPARE(model.random().seed(), source.seed());
    }

    void fractalsandStylesStartFromAFlatPile_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("height");
        QTest::newRow("fractalsand 0") << int(SandpileModel::Fractalsand0) << 0;
        QTest::newRow("fractalsand 1") << int(SandpileModel::Fractalsand1) << 1;
        QTest::newRow("fractalsand 2") << int(SandpileModel::Fractalsand2) << 2;
    }
    void fractalsandStylesStartFromAFlatPile()
    {
        QFETCH(int, style);
        QFETCH(int, height);
        for (int side : {149, 16, 2}) {
            SandpileModel model(side);
            model.reinitialise(SandpileModel::RunFree);
            const int seed = model.random().seed();
            model.reinitialise(SandpileModel::RunningStyle(style));
            QCOMPARE(model.z(), flatPile(side, height));
            QCOMPARE(model.random().seed(), seed);   // no draw for a flat pile
        }
    }

    void selectingASiteOutsideTheLatticeSelectsNothing()
    {
        SandpileModel model(5);
        model.selectSite(24);
        QCOMPARE(model.selectedSite(), 24);
        for (int outside : {25, -1, -7}) {
            model.selectSite(3);
            model.selectSite(outside);
            QCOMPARE(model.selectedSite(), -1);
        }
    }
};

QTEST_MAIN(LatticeTest)
#include "tst_lattice.moc"
