// The power-law estimator on samples drawn from a known truncated discrete
// power law.

#include "powerlawfit.h"
#include "report.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr double TAU = 1.5;
constexpr std::int64_t XMIN = 10, XMAX = 1000;

// n values drawn by inverting the law's cumulative distribution, plus values
// outside the window, which the fit must ignore.
Histogram sample(std::mt19937_64 &generator, int n)
{
    std::vector<double> cumulative;
    double sum = 0;
    for (std::int64_t x = XMIN; x <= XMAX; ++x)
        cumulative.push_back(sum += std::pow(double(x), -TAU));
    std::uniform_real_distribution<double> uniform(0, sum);
    Histogram histogram;
    for (int i = 0; i < n; ++i) {
        const auto at = std::lower_bound(cumulative.begin(), cumulative.end(), uniform(generator));
        histogram.add(XMIN + (at - cumulative.begin()));
    }
    histogram.add(1, 1000);
    histogram.add(5 * XMAX, 1000);
    return histogram;
}

} // namespace

class TestStatsFit : public QObject
{
    Q_OBJECT

private slots:
    void recoversExponent()
    {
        std::mt19937_64 generator(12345);
        const PowerLawFit fit = PowerLawFit::fit(sample(generator, 20000), XMIN, XMAX);
        QVERIFY(fit.valid);
        QCOMPARE(fit.samples, std::uint64_t(20000));
        QVERIFY2(std::fabs(fit.tau - TAU) < 3 * fit.error, qPrintable(QString::number(fit.tau)));
        QVERIFY(fit.error > 0.001 && fit.error < 0.05);
    }

    // Over many samples the estimates scatter as much as the standard
    // error says.
    void standardErrorMatchesScatter()
    {
        constexpr int REPLICATES = 60, N = 2000;
        std::mt19937_64 generator(777);
        double sum = 0, sumSquares = 0, errors = 0;
        for (int r = 0; r < REPLICATES; ++r) {
            const PowerLawFit fit = PowerLawFit::fit(sample(generator, N), XMIN, XMAX);
            sum += fit.tau;
            sumSquares += fit.tau * fit.tau;
            errors += fit.error;
        }
        const double mean = sum / REPLICATES;
        const double scatter = std::sqrt((sumSquares - REPLICATES * mean * mean) / (REPLICATES - 1));
        const double ratio = scatter / (errors / REPLICATES);
        QVERIFY2(ratio > 0.7 && ratio < 1.3, qPrintable(QString("scatter / error = %1").arg(ratio)));
        QVERIFY(std::fabs(mean - TAU) < 4 * scatter / std::sqrt(double(REPLICATES)));
    }

    void refusesEmptyOrNarrowWindows()
    {
        Histogram histogram;
        histogram.add(20, 50);
        QVERIFY(!PowerLawFit::fit(histogram, 10, 100).valid);   // one distinct value
        histogram.add(30, 50);
        QVERIFY(PowerLawFit::fit(histogram, 10, 100).valid);
        QVERIFY(!PowerLawFit::fit(histogram, 10, 10).valid);
        QVERIFY(!PowerLawFit::fit(histogram, 0, 100).valid);
    }

    // The window holds both its ends, and a fit needs MIN_SAMPLES values
    // in it: at L = 40 the size window is 10 <= s <= 160, and the report
    // prints the count either way.
    void windowEndsAndMinimum()
    {
        static_assert(PowerLawFit::MIN_SAMPLES == 100);
        SeriesResult result;
        result.sides.push_back({40, 0, {}});
        Histogram &sizes = result.sides[0].tally.histograms[Tally::Size];
        sizes.add(9, 7);
        sizes.add(10, 40);
        sizes.add(50, 30);
        sizes.add(160, 29);
        sizes.add(161, 11);
        const auto report = [&result] { return Report::body(SeriesSummary(result)); };
        QVERIFY2(report().find("tau_eff (size)         n/a: 99 avalanches in 10 <= s <= 160, fewer than the 100 "
                               "a fit needs") != std::string::npos, report().c_str());
        sizes.add(160);
        const PowerLawFit fit = PowerLawFit::fit(sizes, 10, 160);
        QVERIFY(fit.valid);
        QCOMPARE(fit.samples, std::uint64_t(100));
        QVERIFY2(report().find("fit over 10 <= s <= 160, 100 avalanches") != std::string::npos, report().c_str());
    }
};

QTEST_GUILESS_MAIN(TestStatsFit)
#include "tst_stats_fit.moc"
