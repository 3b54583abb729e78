#include "support/probe.h"
#include "support/reference.h"

#include <QtTest>

// Long runs of "run free": the model against an independent reference pile,
// and the physics of its steady state.
class PhysicsTest : public QObject
{
    Q_OBJECT

    static bool isStable(const std::vector<int> &z)
    {
        return std::all_of(z.begin(), z.end(), [](int h) { return h >= 0 && h <= 3; });
    }

private slots:
    // Every avalanche ends in the pile the reference reaches from the same
    // grains, after as many topplings, and every grain is either held or
    // lost across the edge.
    void longRunAgreesWithTheReferenceAndConservesGrains()
    {
        auto sandpile = freshSandpile();
        Ticker tick(*sandpile);
        ReferencePile reference(SandpileProbe::heights(*sandpile));
        const long long startGrains = reference.grains();
        long long avalanches = 0;

        constexpr int TICKS = 100000;
        for (int t = 0; t < TICKS; ++t) {
            if (SandpileProbe::frontCount(*sandpile) == 0) {
                // The grains the next drop tick will add, from the same random source.
                reference.addRandomDrop();
                reference.stabilise();
            }
            tick();
            if (SandpileProbe::frontCount(*sandpile) == 0) {
                ++avalanches;
                const std::vector<int> z = SandpileProbe::heights(*sandpile);
                QVERIFY(isStable(z));
                QCOMPARE(z, reference.z);
                QCOMPARE(reference.grains() + reference.lost, startGrains + SandpileProbe::grainsAdded(*sandpile));
            }
            if (t % 10007 == 0)
                QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), SandpileProbe::heights(*sandpile)), -1);
        }
        QVERIFY(avalanches > 1000);
        QVERIFY(reference.lost > 0);
    }

    void avalanchesAreCountedToppingByToppling()
    {
        // s of each avalanche matches the reference's topplings.
        auto sandpile = freshSandpile();
        ReferencePile reference(SandpileProbe::heights(*sandpile));
        for (int grains = 0; grains < 3000; ++grains) {
            reference.addRandomDrop();
            const long long topplings = reference.stabilise();
            tick(*sandpile);
            tickUntilAvalancheEnds(*sandpile);
            QCOMPARE(SandpileProbe::avalancheSize(*sandpile), int(topplings));
        }
    }

    // Every grain random-walks off the lattice, so the mean number of
    // topplings per grain in the steady state is the mean of the lattice's
    // Green's function: 801.28 for 149 x 149.
    void steadyStateTopplesAsTheGreensFunctionSays()
    {
        auto sandpile = freshSandpile();
        Ticker tick(*sandpile);
        QMetaObject::invokeMethod(sandpile.get(), "slotDisplay", Q_ARG(bool, false));

        auto runGrains = [&](qint64 grains) {
            const qint64 until = SandpileProbe::grainsAdded(*sandpile) + grains;
            long long topplings = 0;
            while (SandpileProbe::grainsAdded(*sandpile) < until) {
                tick();
                if (SandpileProbe::frontCount(*sandpile) == 0)
                    topplings += SandpileProbe::avalancheSize(*sandpile);
            }
            return topplings;
        };
        runGrains(200000);
        const qint64 from = SandpileProbe::grainsAdded(*sandpile);
        const long long topplings = runGrains(200000);
        const double perGrain = double(topplings) / double(SandpileProbe::grainsAdded(*sandpile) - from);
        qInfo("topplings per grain: %.2f", perGrain);
        QVERIFY(std::abs(perGrain - 801.28) < 0.03 * 801.28);

        // No two neighbouring sites of a recurrent pile are both empty.
        const std::vector<int> z = SandpileProbe::heights(*sandpile);
        for (int i = 0; i < Lattice::N; ++i)
            if (z[i] == 0)
                Lattice::forEachNeighbour(i, [&](int n) { QVERIFY(z[n] != 0); });
    }
};

QTEST_MAIN(PhysicsTest)
#include "tst_physics.moc"
