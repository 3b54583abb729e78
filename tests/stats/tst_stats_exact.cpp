// The exact values the report compares with, and one measurement against them.

#include "exactvalues.h"
#include "measurer.h"
#include "series.h"
#include "sidesummary.h"
#include "engine/sandpilemodel.h"
#include "../support/recurrentpiles.h"

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

// The steady state of a small pile is uniform over its recurrent piles.
// Returns their mean height and counts them.
double recurrentMeanHeight(int side, int &recurrent)
{
    const std::vector<int> codes = recurrentPileCodes(side);
    const int sites = side * side;
    long long heights = 0;
    for (int code : codes)
        for (int site = 0; site < sites; ++site)
            heights += heightInPile(code, site);
    recurrent = int(codes.size());
    return double(heights) / (double(recurrent) * sites);
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

    // The batch-means error of four blocks, the last one short, worked by
    // hand: G = 10+10+10+5 = 35 grains, T = 20+30+10+15 = 75 topplings,
    // m = T/G = 15/7; T_b - m G_b = -10/7, 60/7, -80/7, 30/7, whose squares
    // sum to (100 + 3600 + 6400 + 900)/49 = 11000/49; times B/(B-1) = 4/3
    // that is 44000/147, and the error is its square root over G = 35.
    void batchMeansError()
    {
        SeriesResult::Side side{4, 0, {}};
        side.tally.runs.push_back({0, false, {{10, 20}, {10, 30}, {10, 10}, {5, 15}}});
        const SideSummary summary(side);
        QCOMPARE(summary.blocks, 4);
        QCOMPARE(summary.topplingsPerGrain, 15.0 / 7);
        QVERIFY(std::fabs(summary.topplingsError - std::sqrt(44000.0 / 147) / 35) < 1e-12);
    }

    void sampledHeightsAreTheSteadyState_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("recurrentPiles");
        QTest::newRow("L = 2") << 2 << 192;
        QTest::newRow("L = 3") << 3 << 100352;
    }

    // The piles sampled between grains are drawn from the steady state: the
    // mean height of each side agrees with the exact one within four
    // standard errors, taken from the scatter of independent runs.
    void sampledHeightsAreTheSteadyState()
    {
        QFETCH(int, side);
        QFETCH(int, recurrentPiles);
        int recurrent = 0;
        const double exact = recurrentMeanHeight(side, recurrent);
        QCOMPARE(recurrent, recurrentPiles);
        if (side == 2)
            QCOMPARE(exact, 55.0 / 32);

        constexpr int RUNS = 16;
        constexpr std::int64_t GRAINS = 20000;
        double sum = 0, sumSquares = 0;
        for (int run = 0; run < RUNS; ++run) {
            const Tally tally = Measurer({side, GRAINS, 100, 3}).measure(run);
            // L^2 < 16: a pile after every grain.
            QCOMPARE(tally.heightCount(), std::uint64_t(tally.grains() * side * side));
            double heights = 0;
            for (std::size_t z = 0; z < 4; ++z)
                heights += double(z * tally.heights[z]);
            const double mean = heights / double(tally.heightCount());
            sum += mean;
            sumSquares += mean * mean;
        }
        const double mean = sum / RUNS;
        const double error = std::sqrt((sumSquares - RUNS * mean * mean) / (RUNS - 1) / RUNS);
        QVERIFY(error > 0 && error < 0.005);
        QVERIFY2(std::fabs(mean - exact) < 4 * error,
                 qPrintable(QString("%1 ± %2 vs %3").arg(mean).arg(error).arg(exact)));
    }
};

QTEST_GUILESS_MAIN(TestStatsExact)
#include "tst_stats_exact.moc"
