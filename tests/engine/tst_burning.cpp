#include "support/modeltest.h"
#include "support/reference.h"

#include <QtTest>

#include <functional>

using namespace ModelTest;

// The burning test: which sites burn, what a picture following the test's
// reports would show afterwards, and that the pile itself is untouched.
class BurningTest : public QObject
{
    Q_OBJECT

    // A picture kept by the test's reports as a view keeps it: a burnt site
    // turns yellow, a site given a grain takes the shade of its height, and
    // a site nothing is said about keeps what it showed.
    struct Picture : SandpileObserver
    {
        static constexpr int YELLOW = -1;
        std::vector<int> shade;
        std::vector<int> burns;   // per site
        std::vector<int> order;   // the sites in the order they burnt
        std::int64_t reports = 0;

        explicit Picture(const std::vector<int> &heights) : shade(heights), burns(heights.size(), 0) {}
        void toppled(int site, int height) { received(site, height); }
        void received(int site, int height)
        {
            shade[site] = height;
            ++reports;
        }
        void burnt(int site)
        {
            shade[site] = YELLOW;
            ++burns[site];
            order.push_back(site);
            ++reports;
        }
    };

    // The grains the test adds to an edge site: one per missing neighbour.
    static int boundaryGrains(int side, int site)
    {
        const int row = site / side, column = site % side;
        return (row == 0) + (row == side - 1) + (column == 0) + (column == side - 1);
    }

    // Burns the model's pile and checks what holds for every pile whose
    // heights are all in 0..3: the pile and the counters stay as they
    // were, no site burns twice, the burnt sites are the topplings that
    // turn the boundary-fed copy into the pile the one-by-one reference
    // relaxes it to, and the picture shows yellow where a site burnt, the
    // copy's final height where a burning neighbour gave a grain, and the
    // old shade elsewhere. Returns the picture.
    static Picture burnAndCheck(SandpileModel &model)
    {
        const int L = model.side();
        const std::vector<int> z = model.z();
        const std::vector<int> front = model.front();
        const std::int64_t grains = model.grainsAdded(), s = model.avalancheSize(),
                           largest = model.largestAvalanche();
        const int selected = model.selectedSite();
        const int seed = model.random().seed();

        Picture picture(z);
        model.burn(picture);

        [&] {
            QCOMPARE(model.z(), z);
            QCOMPARE(model.front(), front);
            QCOMPARE(model.grainsAdded(), grains);
            QCOMPARE(model.avalancheSize(), s);
            QCOMPARE(model.largestAvalanche(), largest);
            QCOMPARE(model.selectedSite(), selected);
            QCOMPARE(model.random().seed(), seed);

            std::vector<int> fed = z;
            for (int i = 0; i < model.sites(); ++i)
                fed[i] += boundaryGrains(L, i);
            ReferencePile reference(L, fed);
            reference.stabilise();
            int burnt = 0;
            for (int i = 0; i < model.sites(); ++i) {
                QVERIFY2(picture.burns[i] <= 1, "a site burnt twice");
                QCOMPARE(picture.burns[i], int(model.isBurnt(i)));
                burnt += model.isBurnt(i);
                int burningNeighbours = 0;
                model.lattice().forEachNeighbour(i, [&](int n) { burningNeighbours += model.isBurnt(n); });
                QCOMPARE(4 * int(model.isBurnt(i)) - burningNeighbours, fed[i] - reference.z[i]);
                const int expected = model.isBurnt(i) ? Picture::YELLOW
                                     : burningNeighbours > 0 ? reference.z[i]
                                                             : z[i];
                QCOMPARE(picture.shade[i], expected);
            }
            QCOMPARE(model.lastBurn().burntSites, burnt);
        }();
        return picture;
    }

    static SandpileModel pile(int side, const std::function<int(int)> &heightOf)
    {
        SandpileModel model(side);
        std::vector<int> z(model.sites());
        for (int i = 0; i < model.sites(); ++i)
            z[i] = heightOf(i);
        model.setHeights(z);
        return model;
    }

private slots:
    void flatPilesBurnFromTheirEdges_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("boundaryFront");
        QTest::addColumn<int>("sweeps");
        QTest::addColumn<int>("burning");
        // All 3: every edge site is fed to 4 and the fire closes in ring by
        // ring, (L + 1) / 2 sweeps. All 2: only the corners reach 4, and a
        // site burns one sweep after its distance from the nearest corner.
        QTest::newRow("149 all 3") << 149 << 3 << 592 << 75 << 22201;
        QTest::newRow("149 all 2") << 149 << 2 << 4 << 149 << 22201;
        QTest::newRow("149 all 1") << 149 << 1 << 0 << 0 << 0;
        QTest::newRow("149 all 0") << 149 << 0 << 0 << 0 << 0;
        QTest::newRow("16 all 3") << 16 << 3 << 60 << 8 << 256;
        QTest::newRow("16 all 2") << 16 << 2 << 4 << 15 << 256;
        QTest::newRow("16 all 1") << 16 << 1 << 0 << 0 << 0;
        QTest::newRow("5 all 3") << 5 << 3 << 16 << 3 << 25;
        QTest::newRow("5 all 2") << 5 << 2 << 4 << 5 << 25;
        QTest::newRow("2 all 3") << 2 << 3 << 4 << 1 << 4;
        QTest::newRow("2 all 2") << 2 << 2 << 4 << 1 << 4;
        QTest::newRow("2 all 1") << 2 << 1 << 0 << 0 << 0;
    }
    void flatPilesBurnFromTheirEdges()
    {
        QFETCH(int, side);
        QFETCH(int, height);
        QFETCH(int, boundaryFront);
        QFETCH(int, sweeps);
        QFETCH(int, burning);
        SandpileModel model = pile(side, [height](int) { return height; });
        const Picture picture = burnAndCheck(model);
        const auto &record = model.lastBurn();
        QCOMPARE(record.boundaryFront, boundaryFront);
        QCOMPARE(record.sweeps, sweeps);
        QCOMPARE(record.burntSites, burning);
        QCOMPARE(int(std::count(picture.shade.begin(), picture.shade.end(), Picture::YELLOW)), burning);
        if (burning == 0) {
            QCOMPARE(picture.reports, 0);   // nothing at all is painted
            QCOMPARE(record.lastToppled, -1);
        }

        // The first sweep burns the edge sites fed to 4 or more: all of them
        // on a full pile, the corners alone on a pile of 2s.
        std::vector<int> fedToFour;
        for (int site : model.boundarySites())
            if (height + boundaryGrains(side, site) > Lattice::MAX_STABLE_HEIGHT)
                fedToFour.push_back(site);
        QCOMPARE(int(fedToFour.size()), boundaryFront);
        if (height == 2) {
            const int N = side * side;
            QCOMPARE(fedToFour, (std::vector<int>{0, side - 1, N - side, N - 1}));
        }
        QCOMPARE(std::vector<int>(picture.order.begin(), picture.order.begin() + boundaryFront), fedToFour);
    }

    // The edge in the order the test feeds it: corners, top row, left
    // column, right column, bottom row.
    void boundaryIsFedCornersFirst()
    {
        SandpileModel model(4);
        QCOMPARE(model.boundarySites(), (std::vector<int>{0, 3, 12, 15, 1, 2, 4, 8, 7, 11, 13, 14}));
    }

    // The largest sweep of a full pile: the first burns the edge (16 L - 20
    // entries: its topplings and the grains they give), each later one a
    // ring of interior sites, five entries each.
    void fullPileBurnsInwardsToTheCentre_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("largestSweep");
        QTest::addColumn<int>("entries");
        QTest::newRow("149") << 149 << 2 << 2920;   // 584 sites of the second ring
        QTest::newRow("16") << 16 << 2 << 260;      // 52 sites
        QTest::newRow("9") << 9 << 1 << 124;        // the edge beats 24 sites
        QTest::newRow("5") << 5 << 1 << 60;
    }
    void fullPileBurnsInwardsToTheCentre()
    {
        QFETCH(int, side);
        QFETCH(int, largestSweep);
        QFETCH(int, entries);
        SandpileModel model = pile(side, [](int) { return 3; });
        const std::vector<int> burnt = burnAndCheck(model).order;
        const auto &record = model.lastBurn();
        QCOMPARE(record.largestSweep, largestSweep);
        QCOMPARE(record.largestSweepEntries, entries);
        // The fire ends in the middle: at the centre of an odd lattice,
        // in the central block of four of an even one.
        const int centre = model.lattice().centre();
        std::vector<int> middle{centre};
        if (side % 2 == 0)
            middle = {centre - side - 1, centre - side, centre - 1, centre};
        QCOMPARE(int(burnt.size()), model.sites());
        std::vector<int> lastBurnt(burnt.end() - int(middle.size()), burnt.end());
        std::sort(lastBurnt.begin(), lastBurnt.end());
        QCOMPARE(lastBurnt, middle);
        QVERIFY(std::find(middle.begin(), middle.end(), record.lastToppled) != middle.end());
        if (side % 2 != 0)
            QCOMPARE(record.lastToppled, centre);
    }

    void sitesThatDoNotBurnShowTheHeightsOfTheTest_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("site");
        QTest::newRow("149") << 149 << 11100;
        QTest::newRow("16") << 16 << 136;
    }
    void sitesThatDoNotBurnShowTheHeightsOfTheTest()
    {
        // Two empty neighbours in a full pile: all else burns, and each of
        // the two ends with the three grains of its burnt neighbours.
        QFETCH(int, side);
        QFETCH(int, site);
        SandpileModel model = pile(side, [site](int i) { return i == site || i == site + 1 ? 0 : 3; });
        const Picture picture = burnAndCheck(model);
        QCOMPARE(model.lastBurn().burntSites, side * side - 2);
        QVERIFY(!model.isBurnt(site) && !model.isBurnt(site + 1));
        QCOMPARE(picture.shade[site], 3);
        QCOMPARE(picture.shade[site + 1], 3);
    }

    void edgeSiteBesideOneBurningSiteEndsAtThree()
    {
        // Site 4 burns from its edge grain; site 5, at 1, gets its own edge
        // grain and one from 4, and stops at 3. Site 6 gets only its edge
        // grain, which no report shows.
        SandpileModel model = pile(149, [](int i) { return i == 4 ? 3 : i == 5 ? 1 : 0; });
        const Picture picture = burnAndCheck(model);
        QCOMPARE(model.lastBurn().burntSites, 1);
        QCOMPARE(model.lastBurn().lastToppled, 4);
        QCOMPARE(picture.shade[4], Picture::YELLOW);
        QCOMPARE(picture.shade[5], 3);
        QCOMPARE(picture.shade[3], 2);
        QCOMPARE(picture.shade[4 + 149], 1);
        QCOMPARE(picture.shade[6], 0);
    }

    // A pile driven to its steady state is recurrent: every site burns,
    // exactly once. The random pile it started from is not.
    void pileDrivenToItsSteadyStateBurnsEntirely()
    {
        SandpileModel model(149);
        GrainDriver driver(model);
        driver.reinitialise();
        burnAndCheck(model);
        QVERIFY(model.lastBurn().burntSites < model.sites());
        QVERIFY(model.lastBurn().burntSites > 0);

        SandpileObserver none;
        while (model.grainsAdded() < 60000 || model.avalancheInProgress())
            driver.tick(none);
        const Picture picture = burnAndCheck(model);
        QCOMPARE(model.lastBurn().burntSites, model.sites());
        QCOMPARE(int(std::count(picture.burns.begin(), picture.burns.end(), 1)), model.sites());
    }
};

QTEST_MAIN(BurningTest)
#include "tst_burning.moc"
