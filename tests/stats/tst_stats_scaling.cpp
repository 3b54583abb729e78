// Moment analysis on synthetic avalanches whose distribution scales exactly
// as P(x; L) = x^-tau f(x / L^D): it must give back tau and D; and on the
// pile itself, against its exact topplings per grain.

#include "momentscaling.h"
#include "series.h"
#include "seriessummary.h"

#include <QtTest>

#include <cmath>
#include <random>

namespace {

constexpr double TAU = 1.5;
constexpr double D = 2.25;
constexpr int BATCHES = 32;
constexpr int PER_BATCH = 25000;

// The moments of one side's sample, from BATCHES batches: each moment is the
// mean over the whole sample, its error the scatter of the batch means.
// Values are drawn from x^-TAU on x >= 1 and kept with probability
// exp(-x / L^D), the cut-off f.
MomentScaling::Moments sampleMoments(int side, std::mt19937_64 &generator)
{
    std::uniform_real_distribution<double> uniform(0, 1);
    const double cutoff = std::pow(double(side), D);
    std::array<std::array<double, BATCHES>, MomentScaling::ORDERS> batchMeans{};
    for (int b = 0; b < BATCHES; ++b) {
        for (int n = 0; n < PER_BATCH;) {
            const double x = std::pow(1 - uniform(generator), -1 / (TAU - 1));
            if (uniform(generator) >= std::exp(-x / cutoff))
                continue;
            ++n;
            for (int k = 0; k < MomentScaling::ORDERS; ++k)
                batchMeans[k][b] += std::pow(x, MomentScaling::order(k)) / PER_BATCH;
        }
    }
    MomentScaling::Moments moments;
    for (int k = 0; k < MomentScaling::ORDERS; ++k) {
        double mean = 0, scatter = 0;
        for (double m : batchMeans[k])
            mean += m / BATCHES;
        for (double m : batchMeans[k])
            scatter += (m - mean) * (m - mean);
        moments[k] = {mean, std::sqrt(scatter / (BATCHES - 1) / BATCHES)};
    }
    return moments;
}

} // namespace

class TestStatsScaling : public QObject
{
    Q_OBJECT

private slots:
    void recoversTheExponentsOfASyntheticSeries()
    {
        std::mt19937_64 generator(20261207);
        const std::vector<int> sides{16, 32, 64, 128};
        std::vector<MomentScaling::Moments> moments;
        for (int side : sides)
            moments.push_back(sampleMoments(side, generator));
        const MomentScaling scaling = MomentScaling::fit(sides, moments);

        QVERIFY(scaling.valid);
        QVERIFY2(std::fabs(scaling.dimension.value - D) < 3 * scaling.dimension.error,
                 qPrintable(QString("D = %1 ± %2").arg(scaling.dimension.value).arg(scaling.dimension.error)));
        QVERIFY2(std::fabs(scaling.tau.value - TAU) < 3 * scaling.tau.error,
                 qPrintable(QString("tau = %1 ± %2").arg(scaling.tau.value).arg(scaling.tau.error)));
        // Errors that claim more than the sample holds would pass too easily
        // or not at all; these are a few hundredths at this sample size.
        QVERIFY(scaling.dimension.error > 0 && scaling.dimension.error < 0.2);
        QVERIFY(scaling.tau.error > 0 && scaling.tau.error < 0.2);
    }

    // The slope of the measured topplings per grain against L is the exact
    // one within its batch-means error, and the series' summary holds a
    // scaling of every observable.
    void perGrainSlopeIsTheExactOne()
    {
        Series::Settings settings;
        settings.sides = {8, 16, 32};
        settings.grains = 100000;
        settings.runs = 4;
        settings.threads = 2;
        settings.seed = 20261207;
        const SeriesSummary summary(Series::run(settings));
        QVERIFY(summary.scaled);
        const MomentScaling::Estimate slope = summary.topplingsSlope;
        const QString message = QString("slope %1 ± %2, exact %3").arg(slope.value).arg(slope.error).arg(summary.exactTopplingsSlope);
        QVERIFY2(std::fabs(slope.value - summary.exactTopplingsSlope) < 3 * slope.error, qPrintable(message));
        QVERIFY2(slope.error > 0 && slope.error < 0.02, qPrintable(message));
        for (const MomentScaling &scaling : summary.scaling) {
            QVERIFY(scaling.valid);
            for (const MomentScaling::Estimate &sigma : scaling.sigma)
                QVERIFY(std::isfinite(sigma.value) && sigma.error > 0);
        }
    }

    void needsThreeSidesAndPositiveMoments()
    {
        MomentScaling::Moments unit;
        unit.fill({1, 0.1});
        QVERIFY(!MomentScaling::fit({16, 32}, {unit, unit}).valid);
        MomentScaling::Moments empty = unit;
        empty[0] = {0, 0};
        QVERIFY(!MomentScaling::fit({16, 32, 64}, {unit, unit, empty}).valid);
    }
};

QTEST_APPLESS_MAIN(TestStatsScaling)
#include "tst_stats_scaling.moc"
