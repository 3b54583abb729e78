#include "engine/measuringpile.h"
#include "engine/sandpilemodel.h"
#include "support/recurrentpiles.h"

#include <QtTest>

#include <array>
#include <cmath>
#include <set>

// The stationary pile: drawn uniformly from the recurrent piles, which the
// burning test tells from the others.
class StationaryPileTest : public QObject
{
    Q_OBJECT

    static bool isRecurrent(SandpileModel &model)
    {
        model.burn();
        return model.lastBurn().burntSites == model.sites();
    }

    static int codeOf(const std::vector<int> &z)
    {
        int code = 0;
        for (int site = int(z.size()) - 1; site >= 0; --site)
            code = code * 4 + z[site];
        return code;
    }

    static std::vector<int> stationaryPile(int side, int seed)
    {
        SandpileModel model(side, seed);
        model.layStationaryPile();
        return model.z();
    }

private slots:
    // Kirchhoff: the 2 x 2 lattice has det(Laplacian) = 2 * 4 * 4 * 6 = 192
    // spanning trees, hence 192 recurrent piles. Samples from 19 200 seeds
    // (100 expected per pile) must pass a chi-square test at p = 0.001.
    void smallestLatticeSamplesEveryRecurrentPileEqually()
    {
        const std::vector<int> recurrent = recurrentPileCodes(2);
        QCOMPARE(int(recurrent.size()), 192);
        std::vector<int> indexOf(256, -1);
        for (int k = 0; k < int(recurrent.size()); ++k)
            indexOf[recurrent[k]] = k;

        constexpr int SAMPLES = 19200;
        std::vector<int> counts(recurrent.size(), 0);
        for (int seed = 1; seed <= SAMPLES; ++seed) {
            const int index = indexOf[codeOf(stationaryPile(2, seed))];
            QVERIFY2(index >= 0, "a sampled pile is not recurrent");
            ++counts[index];
        }
        const double expected = double(SAMPLES) / double(recurrent.size());
        double chiSquare = 0;
        for (int count : counts)
            chiSquare += (count - expected) * (count - expected) / expected;

        // Wilson-Hilferty: chi2_k at upper tail p is close to
        // k (1 - 2/(9k) + z_p sqrt(2/(9k)))^3, z_0.001 = 3.0902 the normal
        // quantile; 257.2 for k = 191.
        const double k = double(recurrent.size() - 1);
        const double threshold = k * std::pow(1 - 2 / (9 * k) + 3.0902 * std::sqrt(2 / (9 * k)), 3);
        qInfo("chi-square %.1f for %g degrees of freedom, threshold %.1f", chiSquare, k, threshold);
        QVERIFY(chiSquare < threshold);
    }

    // On 3 x 3, each site's heights over all 100 352 recurrent piles
    // against those of 20 000 sampled piles, within 4.5 standard errors.
    void heightsOnThreeByThreeMatchTheRecurrentPiles()
    {
        constexpr int SIDE = 3, SITES = SIDE * SIDE, SAMPLES = 20000;
        const std::vector<int> recurrent = recurrentPileCodes(SIDE);
        QCOMPARE(int(recurrent.size()), 100352);
        std::array<std::array<double, 4>, SITES> exact{}, sampled{};
        for (int code : recurrent)
            for (int site = 0; site < SITES; ++site)
                exact[site][heightInPile(code, site)] += 1.0 / double(recurrent.size());
        for (int seed = 1; seed <= SAMPLES; ++seed) {
            const std::vector<int> z = stationaryPile(SIDE, seed);
            for (int site = 0; site < SITES; ++site)
                sampled[site][z[site]] += 1.0 / SAMPLES;
        }
        for (int site = 0; site < SITES; ++site) {
            for (int height = 0; height < 4; ++height) {
                const double p = exact[site][height];
                const double error = std::sqrt(p * (1 - p) / SAMPLES);
                QVERIFY2(std::abs(sampled[site][height] - p) <= 4.5 * error + 1e-12,
                         qPrintable(QStringLiteral("site %1 height %2: %3 sampled, %4 exact")
                                        .arg(site).arg(height).arg(sampled[site][height]).arg(p)));
            }
        }
    }

    // Every sampled pile is recurrent, different seeds lay different piles,
    // and the measuring pile lays the same pile as the model from a seed.
    void sampledPilesAreRecurrent_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("seeds");
        QTest::newRow("2") << 2 << 200;
        QTest::newRow("3") << 3 << 200;
        QTest::newRow("17") << 17 << 50;
        QTest::newRow("149") << 149 << 4;
    }
    void sampledPilesAreRecurrent()
    {
        QFETCH(int, side);
        QFETCH(int, seeds);
        std::set<std::vector<int>> distinct;
        for (int seed = 1; seed <= seeds; ++seed) {
            SandpileModel model(side, seed);
            model.layStationaryPile();
            QVERIFY(isRecurrent(model));
            QCOMPARE(model.random().seed(), seed);
            distinct.insert(model.z());

            MeasuringPile pile(side, seed);
            pile.layStationaryPile();
            QVERIFY(std::equal(model.z().begin(), model.z().end(), pile.z().begin(), pile.z().end()));
        }
        if (side >= 17)   // on smaller lattices piles recur by chance
            QCOMPARE(int(distinct.size()), seeds);
    }
};

QTEST_MAIN(StationaryPileTest)
#include "tst_stationarypile.moc"
