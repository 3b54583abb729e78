#include "engine/measuringpile.h"
#include "support/modeltest.h"

#include <QtTest>

#include <cmath>

using namespace ModelTest;

// The physics of the steady state of "run free". (The long runs against an
// independent reference pile are with the toppling rule.)
class PhysicsTest : public QObject
{
    Q_OBJECT

    // The mean over all sites i of sum_j G(i, j), G the inverse of the
    // lattice Laplacian with open boundaries (4 on the diagonal, -1 for each
    // pair of neighbours): the mean number of topplings a grain dropped at a
    // random site causes before its last grain has left the lattice. The
    // Laplacian's eigenvectors are products of sines, so the sum is exact:
    // (1/N) sum_{k,l} (c_k c_l)^2 / (4 - 2 cos(pi k/(L+1)) - 2 cos(pi l/(L+1))),
    // c_k the sum of the k-th normalised sine vector.
    static double meanGreensFunction(int L)
    {
        const double pi = std::acos(-1.0);
        std::vector<double> c(L + 1, 0.0), cosine(L + 1);
        for (int k = 1; k <= L; ++k) {
            for (int j = 1; j <= L; ++j)
                c[k] += std::sqrt(2.0 / (L + 1)) * std::sin(pi * k * j / (L + 1));
            cosine[k] = std::cos(pi * k / (L + 1));
        }
        double sum = 0;
        for (int k = 1; k <= L; ++k)
            for (int l = 1; l <= L; ++l)
                sum += c[k] * c[k] * c[l] * c[l] / (4.0 - 2.0 * cosine[k] - 2.0 * cosine[l]);
        return sum / (double(L) * L);
    }

private slots:
    void meanGreensFunctionOfTheWindowsLatticeIsKnown()
    {
        QVERIFY(std::abs(meanGreensFunction(149) - 801.28) < 0.01);
        // On the smallest lattice every site has two neighbours, so the
        // Laplacian maps the all-ones vector to twice itself: 1/2.
        QVERIFY(std::abs(meanGreensFunction(2) - 0.5) < 1e-12);
    }

    // Every grain random-walks off the lattice, so the mean number of
    // topplings per grain in the steady state is the mean of the lattice's
    // Green's function: 801.28 for 149 x 149. A recurrent pile has no two
    // neighbouring empty sites.
    void steadyStateTopplesAsTheGreensFunctionSays_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<qint64>("warmUpGrains");
        QTest::addColumn<qint64>("measuredGrains");
        QTest::newRow("149") << 149 << qint64(200000) << qint64(200000);
        QTest::newRow("64") << 64 << qint64(50000) << qint64(200000);
        QTest::newRow("16") << 16 << qint64(10000) << qint64(50000);
    }
    void steadyStateTopplesAsTheGreensFunctionSays()
    {
        QFETCH(int, side);
        QFETCH(qint64, warmUpGrains);
        QFETCH(qint64, measuredGrains);
        SandpileModel model(side);
        GrainDriver driver(model);
        driver.reinitialise();
        SandpileObserver none;

        auto runGrains = [&](qint64 grains) {
            const qint64 until = model.grainsAdded() + grains;
            long long topplings = 0;
            while (model.grainsAdded() < until || model.avalancheInProgress()) {
                driver.tick(none);
                if (!model.avalancheInProgress())
                    topplings += model.avalancheSize();
            }
            return topplings;
        };
        runGrains(warmUpGrains);
        const qint64 from = model.grainsAdded();
        const long long topplings = runGrains(measuredGrains);
        const double perGrain = double(topplings) / double(model.grainsAdded() - from);
        const double expected = meanGreensFunction(side);
        qInfo("L = %d: topplings per grain %.2f, Green's function %.2f", side, perGrain, expected);
        QVERIFY(std::abs(perGrain - expected) < 0.03 * expected);

        const std::vector<int> &z = model.z();
        for (int i = 0; i < model.sites(); ++i)
            if (z[i] == 0)
                model.lattice().forEachNeighbour(i, [&](int n) { QVERIFY(z[n] != 0); });
    }

    // The stationary pile is the steady state itself: with no warm-up at
    // all, independent runs from it topple as the Green's function says,
    // within three standard errors of the runs' mean.
    void stationaryPileNeedsNoWarmUp()
    {
        constexpr int SIDE = 16, RUNS = 400;
        constexpr std::int64_t GRAINS_PER_RUN = 500;
        double sum = 0, sumOfSquares = 0;
        for (int run = 1; run <= RUNS; ++run) {
            MeasuringPile pile(SIDE, run);
            pile.layStationaryPile();
            std::int64_t topplings = 0;
            while (pile.grainsAdded() < GRAINS_PER_RUN)
                topplings += pile.drop(GRAINS_PER_RUN - pile.grainsAdded()).size;
            const double perGrain = double(topplings) / GRAINS_PER_RUN;
            sum += perGrain;
            sumOfSquares += perGrain * perGrain;
        }
        const double mean = sum / RUNS;
        const double standardError = std::sqrt((sumOfSquares / RUNS - mean * mean) / (RUNS - 1));
        const double expected = meanGreensFunction(SIDE);
        qInfo("L = %d: topplings per grain %.3f +- %.3f, Green's function %.3f", SIDE, mean, standardError,
              expected);
        QVERIFY(std::abs(mean - expected) < 3 * standardError);
    }
};

QTEST_MAIN(PhysicsTest)
#include "tst_physics.moc"
