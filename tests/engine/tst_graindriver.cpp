#include "support/modeltest.h"

#include <QtTest>

using namespace ModelTest;

using Event = Recorder::Event;

// The grain driver: what one tick does in each running style and speed,
// the Burn latch, the choice of style, and when the driver is at rest.
class GrainDriverTest : public QObject
{
    Q_OBJECT

    // The changes made by grains dropped on a site that then topples alone.
    static std::vector<std::pair<int, int>> toppling(const Lattice &lattice, int site, int grainsDropped)
    {
        std::vector<int> change(lattice.sites(), 0);
        change[site] = grainsDropped - Lattice::TOPPLING_HEIGHT;
        lattice.forEachNeighbour(site, [&](int n) { change[n] += 1; });
        return changes(std::vector<int>(lattice.sites(), 0), change);
    }

    static bool didNothing(GrainDriver::Tick did) { return !did.dropped && !did.swept && !did.burnt; }

    // Brings a program into a state by a user's steps, in order.
    static void arrange(Program &p, const QString &steps)
    {
        const int centre = p.model.lattice().centre();
        for (const QString &step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (step == "pause")
                p.driver.setSpeed(GrainDriver::Pause);
            else if (step == "burn" || step == "release")
                p.driver.setBurn(step == "burn");
            else if (step == "sprinkle")
                p.driver.setRunningStyle(SandpileModel::Sprinkle);
            else if (step == "fractalsand")
                p.driver.setRunningStyle(SandpileModel::Fractalsand1);
            else if (step == "select")
                p.model.selectSite(centre);
            else if (step == "tick")
                p.tick();
            else if (step == "avalanche") {
                p.model.setHeight(centre, 4);
                p.model.startAvalanche(centre);
            } else
                QFAIL(qPrintable("no step " + step));
        }
    }

    // What the following ticks do under the same later choices of the
    // user: resume, press Burn, release it, click a site, tick on.
    static std::vector<std::pair<State, GrainDriver::Tick>> future(Program &p)
    {
        std::vector<std::pair<State, GrainDriver::Tick>> seen;
        auto step = [&] {
            const GrainDriver::Tick did = p.tick();
            seen.emplace_back(stateOf(p.model, p.driver), did);
        };
        p.driver.setSpeed(GrainDriver::Fast);
        p.driver.setBurn(true);
        for (int i = 0; i < 3; ++i)
            step();
        p.driver.setBurn(false);
        p.model.selectSite(5);
        for (int i = 0; i < 5; ++i)
            step();
        return seen;
    }

private slots:
    // A fresh program ticks as it always has: the same grains on the same
    // sites, the same avalanches. Each tick that drops lets grains fall
    // one at a time until one brings its site from 3 to 4; that site
    // topples in the same tick. Ticks 1 and 2 each topple one site alone;
    // tick 3 starts an avalanche of 9 topplings, one sweep per tick up to
    // tick 9; tick 10 drops five grains.
    void firstTenTicksOfAFreshProgram()
    {
        Program p;
        Recorder heard(p.model, true);
        const std::vector<int> drops[10] = {{13687}, {12876}, {7917}, {}, {}, {}, {}, {}, {},
                                            {20670, 2141, 6173, 4558, 15410}};
        std::int64_t grains = 0;
        for (int t = 1; t <= 10; ++t) {
            const std::vector<int> &sites = drops[t - 1];
            const std::vector<int> before = p.model.z();
            heard.events.clear();
            const GrainDriver::Tick did = p.driver.tick(heard);
            QVERIFY(did.swept && !did.burnt);
            QCOMPARE(did.dropped, !sites.empty());
            // The grains come first, each heard as it lands.
            std::vector<Event> landed;
            for (const Event &event : heard.events) {
                if (event.kind != 'r' || landed.size() == sites.size())
                    break;
                landed.push_back(event);
            }
            QCOMPARE(landed.size(), sites.size());
            for (std::size_t k = 0; k < sites.size(); ++k)
                QVERIFY(landed[k] == (Event{'r', sites[k], before[sites[k]] + 1}));
            if (!sites.empty())
                QCOMPARE(before[sites.back()], 3);
            QVERIFY(heard.events.size() == sites.size() || heard.events[sites.size()].kind == 't');
            grains += sites.size();
            QCOMPARE(p.model.grainsAdded(), grains);
            QCOMPARE(p.model.avalancheInProgress(), t >= 3 && t < 9);
            if (t <= 2) {
                QCOMPARE(changes(before, p.model.z()), toppling(p.model.lattice(), sites[0], 1));
                QCOMPARE(p.model.avalancheSize(), 1);
                QCOMPARE(p.model.largestAvalanche(), 1);
            }
            if (t == 9) {
                QCOMPARE(p.model.avalancheSize(), 9);
                QCOMPARE(p.model.largestAvalanche(), 9);
            }
            if (t == 10) {
                for (int site : {20670, 2141, 6173, 4558})
                    QCOMPARE(p.model.z()[site], before[site] + 1);
                QVERIFY(p.model.z()[15410] < 3);
            }
        }
    }

    // In the fractalsand styles a tick drops grains on the centre of the
    // flat pile until it topples, and Burn changes nothing.
    void fractalsandDropsOnTheCentreUntilItTopples_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("flatHeight");
        QTest::newRow("fractalsand 0") << 149 << int(SandpileModel::Fractalsand0) << 0;
        QTest::newRow("fractalsand 1") << 149 << int(SandpileModel::Fractalsand1) << 1;
        QTest::newRow("fractalsand 2") << 149 << int(SandpileModel::Fractalsand2) << 2;
        QTest::newRow("fractalsand 0 at 16") << 16 << int(SandpileModel::Fractalsand0) << 0;
        QTest::newRow("fractalsand 2 at 5") << 5 << int(SandpileModel::Fractalsand2) << 2;
    }
    void fractalsandDropsOnTheCentreUntilItTopples()
    {
        QFETCH(int, side);
        QFETCH(int, style);
        QFETCH(int, flatHeight);
        Program p(side);
        QVERIFY(p.driver.setRunningStyle(SandpileModel::RunningStyle(style)));
        QVERIFY(p.driver.isFractalsand());
        QVERIFY(!p.driver.keepsStatistics());
        QCOMPARE(p.model.z(), flatPile(side, flatHeight));

        // 4 - h grains on the centre, which then topples once; its
        // neighbours stay stable, so the avalanche is over.
        const int centre = p.model.lattice().centre();
        Recorder heard(p.model, true);
        const GrainDriver::Tick did = p.driver.tick(heard);
        QVERIFY(did.dropped && did.swept && !did.burnt);
        std::vector<Event> expected;
        for (int h = flatHeight + 1; h <= 4; ++h)
            expected.push_back({'r', centre, h});
        expected.push_back({'t', centre, 0});
        for (int n : neighboursOf(p.model.lattice(), centre))
            expected.push_back({'r', n, flatHeight + 1});
        QVERIFY(heard.events == expected);
        QCOMPARE(p.model.frontCount(), 0);
        QCOMPARE(p.model.avalancheSize(), 1);
        QCOMPARE(p.model.grainsAdded(), 0);   // not counted in these styles

        // Burn down: the ticks go on dropping grains on the centre.
        p.driver.setBurn(true);
        QVERIFY(!p.driver.nextTickBurns());
        QVERIFY(!p.driver.isResting());
        for (int i = 0; i < 200; ++i) {
            const std::vector<int> before = p.model.z();
            const GrainDriver::Tick next = p.driver.tick(heard);
            QVERIFY(!next.burnt);
            QVERIFY(p.model.z() != before);
        }
        QCOMPARE(p.model.lastBurn().sweeps, 0);
        QCOMPARE(heard.burns, 0);
        QVERIFY(p.model.avalancheSize() > 0);
        QCOMPARE(heard.heights, p.model.z());
    }

    // Slow ticks exactly as fast does, through drops and sweeps: the wait
    // between sweeps belongs to the view. (What pause holds is in the
    // table of resting states below.)
    void slowTicksAsFastDoes()
    {
        Program fast, slow;
        slow.driver.setSpeed(GrainDriver::Slow);
        for (int t = 0; t < 50; ++t) {
            const GrainDriver::Tick a = fast.tick(), b = slow.tick();
            QVERIFY(a.dropped == b.dropped && a.swept == b.swept && !a.burnt && !b.burnt);
            QCOMPARE(differences(stateOf(slow.model, slow.driver), stateOf(fast.model, fast.driver)),
                     QStringLiteral("speed"));
        }
        QVERIFY(fast.model.largestAvalanche() >= 9);
    }

    void sprinkleDropsOneGrainOnTheSelectedSiteAndOnlyThen()
    {
        Program p;
        QVERIFY(!p.driver.setRunningStyle(SandpileModel::Sprinkle));
        const State before = stateOf(p.model, p.driver);
        const int site = 3;   // height 1 in the starting pile
        QCOMPARE(before.z[site], 1);
        p.model.selectSite(150);
        p.model.selectSite(site);   // a new selection replaces the pending one
        GrainDriver::Tick did = p.tick();
        QVERIFY(did.dropped && !did.swept);
        QCOMPARE(changes(before.z, p.model.z()), (std::vector<std::pair<int, int>>{{site, 1}}));
        QCOMPARE(p.model.selectedSite(), -1);
        QCOMPARE(p.model.grainsAdded(), 1);
        QVERIFY(didNothing(p.tick()));
        QCOMPARE(p.model.grainsAdded(), 1);

        // A grain that brings its site to 4 starts an avalanche there, and
        // the same tick runs its first sweep.
        const int full = 2;   // height 3 in the starting pile
        QCOMPARE(p.model.z()[full], 3);
        p.model.selectSite(full);
        did = p.tick();
        QVERIFY(did.dropped && did.swept);
        QCOMPARE(p.model.grainsAdded(), 2);
        QCOMPARE(p.model.selectedSite(), -1);
        QCOMPARE(p.model.avalancheSize(), 1);
        QCOMPARE(p.model.z()[full], 0);
    }

    // Switching between "run free" and "sprinkle", or choosing the same
    // style again, continues the pile; any other change lays the new
    // style's starting pile and empties the counters.
    void styleChangesKeepOrRefillThePile_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("refills");
        QTest::newRow("run free to sprinkle") << int(SandpileModel::RunFree) << int(SandpileModel::Sprinkle) << false;
        QTest::newRow("sprinkle to run free") << int(SandpileModel::Sprinkle) << int(SandpileModel::RunFree) << false;
        QTest::newRow("run free again") << int(SandpileModel::RunFree) << int(SandpileModel::RunFree) << false;
        QTest::newRow("fractalsand 1 again") << int(SandpileModel::Fractalsand1) << int(SandpileModel::Fractalsand1)
                                             << false;
        QTest::newRow("run free to fractalsand 1") << int(SandpileModel::RunFree) << int(SandpileModel::Fractalsand1)
                                                   << true;
        QTest::newRow("sprinkle to fractalsand 2") << int(SandpileModel::Sprinkle) << int(SandpileModel::Fractalsand2)
                                                   << true;
        QTest::newRow("fractalsand 0 to run free") << int(SandpileModel::Fractalsand0) << int(SandpileModel::RunFree)
                                                   << true;
        QTest::newRow("fractalsand 2 to sprinkle") << int(SandpileModel::Fractalsand2) << int(SandpileModel::Sprinkle)
                                                   << true;
        QTest::newRow("fractalsand 0 to fractalsand 2")
            << int(SandpileModel::Fractalsand0) << int(SandpileModel::Fractalsand2) << true;
    }
    void styleChangesKeepOrRefillThePile()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(bool, refills);
        Program p;
        p.driver.setRunningStyle(SandpileModel::RunningStyle(from));
        // Counters that have grown, an avalanche half way and a grain pending.
        for (int t = 0; t < 30 || !p.model.avalancheInProgress(); ++t) {
            p.model.selectSite(t * 737 % p.model.sites());
            p.tick();
        }
        p.model.selectSite(42);
        const State before = stateOf(p.model, p.driver);
        QVERIFY(before.largest > 0 && before.s > 0);
        Random next = p.model.random();

        QCOMPARE(p.driver.setRunningStyle(SandpileModel::RunningStyle(to)), refills);
        QCOMPARE(int(p.driver.runningStyle()), to);
        const State after = stateOf(p.model, p.driver);
        if (!refills) {
            QCOMPARE(differences(after, before), from == to ? QString() : QStringLiteral("running style"));
            return;
        }
        QCOMPARE(after.grains, 0);
        QCOMPARE(after.s, 0);
        QCOMPARE(after.largest, 0);
        QVERIFY(after.front.empty());
        QCOMPARE(after.selected, -1);
        if (to >= SandpileModel::Fractalsand0) {
            QCOMPARE(after.z, flatPile(149, to - SandpileModel::Fractalsand0));
        } else {
            // The next draws of the random source, one per site.
            std::vector<int> fresh(p.model.sites());
            for (int &h : fresh)
                h = int(next.uniformRandom() * 4.0);
            QCOMPARE(after.z, fresh);
        }
    }

    // Burn pressed during an avalanche: the avalanche runs to its end, the
    // next tick runs the burning test, and no grain falls until Burn is
    // released. The test runs once for each press.
    void burnWaitsForTheAvalancheAndRunsOncePerPress()
    {
        Program p;
        for (int t = 0; t < 3; ++t)
            p.tick();   // tick 3 starts a 7-sweep avalanche
        QVERIFY(p.model.avalancheInProgress());
        p.driver.setBurn(true);
        QVERIFY(!p.driver.nextTickBurns());
        QCOMPARE(tickUntilAvalancheEnds(p.driver, p.model), 6);
        QCOMPARE(p.model.lastBurn().sweeps, 0);
        QCOMPARE(p.model.grainsAdded(), 3);

        // The test leaves the pile, the counters and the random source as
        // they were: the next drop after the release continues the run.
        QVERIFY(p.driver.nextTickBurns());
        const State before = stateOf(p.model, p.driver);
        GrainDriver::Tick did = p.tick();
        QVERIFY(did.burnt && !did.dropped && !did.swept);
        QVERIFY(p.model.lastBurn().sweeps > 0);
        const State burnt = stateOf(p.model, p.driver);
        QCOMPARE(differences(burnt, before), QStringLiteral("lastBurn, burnt marks, isResting, nextTickBurns"));
        for (int i = 0; i < 5; ++i)
            QVERIFY(didNothing(p.tick()));
        QCOMPARE(differences(stateOf(p.model, p.driver), burnt), QString());

        // Released and pressed again while paused: no tick reaches a drop
        // in between, so the test does not run again.
        p.driver.setSpeed(GrainDriver::Pause);
        p.driver.setBurn(false);
        p.tick();
        p.driver.setBurn(true);
        p.driver.setSpeed(GrainDriver::Fast);
        QVERIFY(!p.driver.nextTickBurns());
        QVERIFY(didNothing(p.tick()));
        QCOMPARE(differences(stateOf(p.model, p.driver), burnt), QString());

        // Released: the next tick drops grains; pressed again after that,
        // the test runs again once the avalanche is over.
        p.driver.setBurn(false);
        QVERIFY(p.tick().dropped);
        QVERIFY(p.model.grainsAdded() > 3);
        p.driver.setBurn(true);
        tickUntilAvalancheEnds(p.driver, p.model);
        QVERIFY(p.tick().burnt);
        QVERIFY(!p.tick().burnt);
    }

    // The driver rests exactly when a tick would change nothing: neither
    // the state nor what the following ticks do.
    void restsExactlyWhenATickWouldChangeNothing_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("resting");
        QTest::addColumn<bool>("burns");
        QTest::newRow("paused") << "pause" << true << false;
        QTest::newRow("paused, burn pending") << "burn pause" << true << false;
        QTest::newRow("paused in an avalanche") << "avalanche pause" << true << false;
        QTest::newRow("paused, sprinkle with a site selected") << "sprinkle select pause" << true << false;
        QTest::newRow("run free") << "" << false << false;
        QTest::newRow("sprinkle, nothing selected") << "sprinkle" << true << false;
        QTest::newRow("sprinkle, a site selected") << "sprinkle select" << false << false;
        QTest::newRow("sprinkle, nothing selected, burn just released") << "sprinkle burn tick release" << false
                                                                         << false;
        QTest::newRow("burn pressed") << "burn" << false << true;
        QTest::newRow("burn held after its test") << "burn tick" << true << false;
        QTest::newRow("burn held, sprinkle with a site selected") << "sprinkle select burn tick" << true << false;
        QTest::newRow("fractalsand with burn") << "fractalsand burn" << false << false;
        QTest::newRow("avalanche in progress with burn") << "avalanche burn" << false << false;
    }
    void restsExactlyWhenATickWouldChangeNothing()
    {
        QFETCH(QString, steps);
        QFETCH(bool, resting);
        QFETCH(bool, burns);
        // Two programs in the same state; only the first ticks.
        Program ticked(16), kept(16);
        arrange(ticked, steps);
        arrange(kept, steps);
        QCOMPARE(differences(stateOf(ticked.model, ticked.driver), stateOf(kept.model, kept.driver)), QString());
        QCOMPARE(ticked.driver.isResting(), resting);
        QCOMPARE(ticked.driver.nextTickBurns(), burns);

        const GrainDriver::Tick did = ticked.tick();
        QCOMPARE(did.burnt, burns);
        const QString changed = differences(stateOf(ticked.model, ticked.driver), stateOf(kept.model, kept.driver));
        const auto tickedFuture = future(ticked);
        const auto keptFuture = future(kept);
        bool sameFuture = true;
        for (std::size_t i = 0; i < tickedFuture.size(); ++i) {
            const GrainDriver::Tick a = tickedFuture[i].second, b = keptFuture[i].second;
            sameFuture = sameFuture && differences(tickedFuture[i].first, keptFuture[i].first).isEmpty()
                         && a.dropped == b.dropped && a.swept == b.swept && a.burnt == b.burnt;
        }
        if (resting) {
            QVERIFY(didNothing(did));
            QCOMPARE(changed, QString());
            QVERIFY(sameFuture);
        } else {
            QVERIFY(!changed.isEmpty() || !sameFuture);
        }
    }
};

QTEST_MAIN(GrainDriverTest)
#include "tst_graindriver.moc"
