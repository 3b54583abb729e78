#include "engine/measuringpile.h"
#include "engine/sandpilemodel.h"
#include "support/reference.h"

#include <QtTest>

#include <limits>

// The measuring pile against the model and the one-site-at-a-time
// reference: the same grains, avalanches and piles.
class MeasuringPileTest : public QObject
{
    Q_OBJECT

    // The distinct sites an avalanche of the model topples, counted by
    // marking them and clearing the marks afterwards.
    struct DistinctSites : SandpileObserver
    {
        std::vector<char> marked;
        std::vector<int> sites;
        explicit DistinctSites(int sites) : marked(sites, 0) {}
        void toppled(int site, int)
        {
            if (!marked[site]) {
                marked[site] = 1;
                sites.push_back(site);
            }
        }
        std::int64_t takeCount()
        {
            for (int site : sites)
                marked[site] = 0;
            return std::int64_t(std::exchange(sites, {}).size());
        }
    };

    template <typename Heights>
    static bool sameHeights(const std::vector<int> &a, const Heights &b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private slots:
    // A long seeded run from each starting pile. Per avalanche: the model
    // (with a distinct-site count and its sweeps) and the reference give
    // the site, grains, size, area and duration the measuring pile gives;
    // a second measuring pile, held to a few grains per call, adds up to
    // the same; every so often all four piles are compared whole.
    void sameAvalanchesAsTheModelAndTheReference_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<bool>("stationary");
        QTest::addColumn<qint64>("grains");
        QTest::newRow("17 window pile") << 17 << false << qint64(40000);
        QTest::newRow("17 stationary pile") << 17 << true << qint64(40000);
        QTest::newRow("149 window pile") << 149 << false << qint64(30000);
        QTest::newRow("149 stationary pile") << 149 << true << qint64(3000);
    }
    void sameAvalanchesAsTheModelAndTheReference()
    {
        QFETCH(int, side);
        QFETCH(bool, stationary);
        QFETCH(qint64, grains);
        constexpr int SEED = 20261207;
        SandpileModel model(side, SEED);
        MeasuringPile fast(side, SEED), limited(side, SEED);
        if (stationary) {
            model.layStationaryPile();
            fast.layStationaryPile();
            limited.layStationaryPile();
        } else {
            model.reinitialise(SandpileModel::RunFree);
            fast.layWindowPile();
            limited.layWindowPile();
        }
        QVERIFY(sameHeights(model.z(), fast.z()));
        QVERIFY(sameHeights(model.z(), limited.z()));
        ReferencePile reference(side, model.z());
        DistinctSites distinct(model.sites());

        std::int64_t avalanches = 0, largest = 0, lastLimit = 0;
        while (model.grainsAdded() < grains) {
            const int referenceGrains = reference.addRandomDrop(model.random());
            const int dropped = model.dropAtRandom(distinct);
            const int site = model.front()[0];
            std::int64_t sweeps = 0;
            for (; model.avalancheInProgress(); ++sweeps)
                model.relax(distinct);
            const std::int64_t referenceSize = reference.stabilise();

            const MeasuringPile::Drop drop = fast.drop(std::numeric_limits<std::int64_t>::max());
            QCOMPARE(referenceGrains, dropped);
            QCOMPARE(drop.grains, std::int64_t(dropped));
            QCOMPARE(drop.site, site);
            QCOMPARE(drop.size, model.avalancheSize());
            QCOMPARE(drop.size, referenceSize);
            QCOMPARE(drop.area, distinct.takeCount());
            QCOMPARE(drop.duration, sweeps);

            // Limits of 1, 2 and 3 grains in turn cut most drops short.
            MeasuringPile::Drop piece;
            std::int64_t pieceGrains = 0;
            do {
                lastLimit = lastLimit % 3 + 1;
                piece = limited.drop(lastLimit);
                QVERIFY(piece.grains <= lastLimit);
                QVERIFY(piece.site >= 0 || (piece.size == 0 && piece.grains == lastLimit));
                pieceGrains += piece.grains;
            } while (piece.site < 0);
            QCOMPARE(pieceGrains, drop.grains);
            QCOMPARE(piece.site, drop.site);
            QCOMPARE(piece.size, drop.size);
            QCOMPARE(piece.area, drop.area);
            QCOMPARE(piece.duration, drop.duration);

            if (++avalanches % 256 == 0) {
                QVERIFY(sameHeights(model.z(), fast.z()));
                QVERIFY(sameHeights(model.z(), limited.z()));
                QCOMPARE(model.z(), reference.z);
            }
            largest = std::max(largest, drop.size);
        }
        QVERIFY(sameHeights(model.z(), fast.z()));
        QCOMPARE(model.z(), reference.z);
        QCOMPARE(fast.grainsAdded(), model.grainsAdded());
        QCOMPARE(limited.grainsAdded(), model.grainsAdded());
        QCOMPARE(fast.random().seed(), model.random().seed());
        // The run reached avalanches that span the lattice many times over.
        QVERIFY(largest > std::int64_t(side) * side);
    }

    // A measuring pile that has measured a run of its own takes a model's
    // pile and random state midway, and then drops the model's avalanches,
    // areas included (its stamps of the earlier run must not count). Bad
    // piles are refused and leave it as it was.
    void continuesAModelsPileFromItsHeights()
    {
        constexpr int SIDE = 23;
        SandpileModel model(SIDE, 4242);
        model.reinitialise(SandpileModel::RunFree);
        SandpileObserver none;
        while (model.grainsAdded() < 3 * SIDE * SIDE) {
            model.dropAtRandom(none);
            while (model.avalancheInProgress())
                model.relax();
        }
        MeasuringPile fast(SIDE, 99);
        fast.layStationaryPile();
        for (int k = 0; k < 500; ++k)
            fast.drop(std::numeric_limits<std::int64_t>::max());
        const std::vector<std::uint8_t> before = fast.z();

        std::vector<int> unstable = model.z();
        unstable[SIDE] = Lattice::TOPPLING_HEIGHT;
        std::vector<int> negative = model.z();
        negative.back() = -1;
        for (const std::vector<int> &bad : {unstable, negative, std::vector<int>(SIDE, 0)}) {
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument, fast.setHeights(bad));
            QVERIFY(fast.z() == before);
        }

        fast.setHeights(model.z());
        fast.random().setSeed(model.random().seed());
        QVERIFY(sameHeights(model.z(), fast.z()));
        QCOMPARE(fast.grainsAdded(), std::int64_t(0));
        const std::int64_t grainsBefore = model.grainsAdded();
        DistinctSites distinct(model.sites());
        for (int avalanche = 0; avalanche < 2000; ++avalanche) {
            const int dropped = model.dropAtRandom(distinct);
            std::int64_t sweeps = 0;
            for (; model.avalancheInProgress(); ++sweeps)
                model.relax(distinct);
            const MeasuringPile::Drop drop = fast.drop(std::numeric_limits<std::int64_t>::max());
            QCOMPARE(drop.grains, std::int64_t(dropped));
            QCOMPARE(drop.size, model.avalancheSize());
            QCOMPARE(drop.area, distinct.takeCount());
            QCOMPARE(drop.duration, sweeps);
        }
        QVERIFY(sameHeights(model.z(), fast.z()));
        QCOMPARE(fast.grainsAdded(), model.grainsAdded() - grainsBefore);
        QCOMPARE(fast.random().seed(), model.random().seed());
    }
};

QTEST_MAIN(MeasuringPileTest)
#include "tst_measuringpile.moc"
