// The exact values the report compares with, and one measurement against them.

#include "exactvalues.h"
#include "series.h"
#include "sidesummary.h"

#include <QtTest>

#include <cmath>
#include <vector>

namespace {

// The mean row sum of Delta^-1 by solving Delta x = 1 with Gaussian
// elimination on the dense N x N toppling matrix.
double solvedTopplingsPerGrain(int side)
{
    const int n = side * side;
    std::vector<std::vector<double>> a(std::size_t(n), std::vector<double>(std::size_t(n) + 1, 0));
    for (int i = 0; i < n; ++i) {
        const int r = i / side, c = i % side;
        a[i][i] = 4;
        a[i][n] = 1;
        for (auto [dr, dc] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
            if (r + dr >= 0 && r + dr < side && c + dc >= 0 && c + dc < side)
                a[i][std::size_t((r + dr) * side + c + dc)] = -1;
    }
    for (int k = 0; k < n; ++k)   // symmetric positive definite: no pivoting needed
        for (int i = k + 1; i < n; ++i) {
            const double f = a[i][k] / a[k][k];
            for (int j = k; j <= n; ++j)
                a[i][j] -= f * a[k][j];
        }
    std::vector<double> x(static_cast<std::size_t>(n));
    double sum = 0;
    for (int i = n - 1; i >= 0; --i) {
        double v = a[i][n];
        for (int j = i + 1; j < n; ++j)
            v -= a[i][j] * x[j];
        x[i] = v / a[i][i];
        sum += x[i];
    }
    return sum / n;
}

} // namespace

class TestStatsExact : public QObject
{
    Q_OBJECT

private slots:
    void topplingsPerGrainMatchesLinearSolve()
    {
        QCOMPARE(ExactValues::topplingsPerGrain(2), 0.5);
        for (int side = 2; side <= 8; ++side)
            QVERIFY2(std::fabs(ExactValues::topplingsPerGrain(side) - solvedTopplingsPerGrain(side)) < 1e-10,
                     qPrintable(QString("L = %1").arg(side)));
        QVERIFY(std::fabs(ExactValues::topplingsPerGrain(149) - 801.2796) < 5e-5);
    }

    // The mean over sites of G's row sums grows like L^2: it must stay
    // finite and increase all the way to the largest side.
    void topplingsPerGrainAtLargeSides()
    {
        const double at2048 = ExactValues::topplingsPerGrain(2048);
        const double at4096 = ExactValues::topplingsPerGrain(4096);
        QVERIFY(std::isfinite(at4096));
        QVERIFY(std::fabs(at4096 / at2048 - 4) < 0.01);
    }

    void heightProbabilities()
    {
        double total = 0, mean = 0;
        for (int z = 0; z < 4; ++z) {
            QVERIFY(ExactValues::heightProbability(z) > 0);
            total += ExactValues::heightProbability(z);
            mean += z * ExactValues::heightProbability(z);
        }
        QVERIFY(std::fabs(total - 1) < 1e-14);
        QVERIFY(std::fabs(mean - ExactValues::meanHeight()) < 1e-14);
        QVERIFY(std::fabs(ExactValues::heightProbability(0) - 0.0736) < 1e-4);
    }

    // At a small side the measured mean must agree with the exact one
    // within three of its standard errors.
    void measuredMeanAgreesWithExact()
    {
        Series::Settings settings;
        settings.sides = {8};
        settings.grains = 100000;
        settings.runs = 2;
        settings.threads = 2;
        const SideSummary summary(Series::run(settings).sides.front());
        QVERIFY(summary.topplingsError > 0);
        QVERIFY(summary.topplingsError < 0.01 * summary.exactTopplings);
        QVERIFY2(std::fabs(summary.topplingsPerGrain - summary.exactTopplings) < 3 * summary.topplingsError,
                 qPrintable(QString("%1 ± %2 vs %3")
                                .arg(summary.topplingsPerGrain)
                                .arg(summary.topplingsError)
                                .arg(summary.exactTopplings)));
        // Each run's 10^5 grains: blocks of 2^k x 64 grains, at most 32.
        QCOMPARE(summary.blocks, 2 * 25);
    }
};

QTEST_GUILESS_MAIN(TestStatsExact)
#include "tst_stats_exact.moc"
