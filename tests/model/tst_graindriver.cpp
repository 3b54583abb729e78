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

    // A model and its driver, as the program builds them: the pile of
    // "run free" from the first seed.
    struct Program
    {
        SandpileModel model;
        GrainDriver driver{model};
        explicit Program(int side = 149) : model(side) { driver.reinitialise(); }
        GrainDriver::Tick tick()
        {
            SandpileObserver none;
            return driver.tick(none);
        }
    };

    // States the driver can be in, for the table of isResting().
    enum Arrangement {
        Paused,
        PausedWithBurnPending,
        PausedInAnAvalanche,
        RunningFree,
        SprinkleWithNothingSelected,
        SprinkleWithASiteSelected,
        SprinkleWithNothingSelectedAfterABurn,
        BurnPressed,
        BurnHeldAfterItsTest,
        BurnHeldInSprinkleWithASiteSelected,
        FractalsandWithBurn,
        AvalancheInProgressWithBurn,
    };

    static void arrange(Program &p, int arrangement)
    {
        const int site = p.model.lattice().centre();
        switch (Arrangement(arrangement)) {
        case Paused:
            p.driver.setSpeed(GrainDriver::Pause);
            break;
        case PausedWithBurnPending:
            p.driver.setBurn(true);
            p.driver.setSpeed(GrainDriver::Pause);
            break;
        case PausedInAnAvalanche:
            p.model.setHeight(site, 4);
            p.model.startAvalanche(site);
            p.driver.setSpeed(GrainDriver::Pause);
            break;
        case RunningFree:
            break;
        case SprinkleWithNothingSelected:
            p.driver.setRunningStyle(SandpileModel::Sprinkle);
            break;
        case SprinkleWithASiteSelected:
            p.driver.setRunningStyle(SandpileModel::Sprinkle);
            p.model.selectSite(site);
            break;
        case SprinkleWithNothingSelectedAfterABurn:
            p.driver.setRunningStyle(SandpileModel::Sprinkle);
            p.driver.setBurn(true);
            p.tick();
            p.driver.setBurn(false);
            break;
        case BurnPressed:
            p.driver.setBurn(true);
            break;
        case BurnHeldAfterItsTest:
            p.driver.setBurn(true);
            p.tick();
            break;
        case BurnHeldInSprinkleWithASiteSelected:
            p.driver.setRunningStyle(SandpileModel::Sprinkle);
            p.model.selectSite(site);
            p.driver.setBurn(true);
            p.tick();
            break;
        case FractalsandWithBurn:
            p.driver.setRunningStyle(SandpileModel::Fractalsand1);
            p.driver.setBurn(true);
            break;
        case AvalancheInProgressWithBurn:
            p.model.setHeight(site, 4);
            p.model.startAvalanche(site);
            p.driver.setBurn(true);
            break;
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
    // sites, the same avalanches.
    void firstTenTicksOfAFreshProgram()
    {
        Program p;
        Recorder heard(p.model, true);
        std::vector<int> before = p.model.z();

        // Ticks 1 and 2: one grain each on a site at 3, which topples alone.
        for (int site : {13687, 12876}) {
            QCOMPARE(before[site], 3);
            heard.events.clear();
            const GrainDriver::Tick did = p.driver.tick(heard);
            QVERIFY(did.dropped && did.swept && !did.burnt);
            QVERIFY(heard.events.front() == (Event{'r', site, 4}));
            const std::vector<int> after = p.model.z();
            QCOMPARE(changes(before, after), toppling(p.model.lattice(), site, 1));
            QCOMPARE(p.model.frontCount(), 0);
            QCOMPARE(p.model.avalancheSize(), 1);
            QCOMPARE(p.model.largestAvalanche(), 1);
            before = after;
        }
        QCOMPARE(p.model.grainsAdded(), 2);

        // Tick 3 drops a grain on 7917 and starts an avalanche of 9
        // topplings in 7 sweeps, one per tick up to tick 9.
        QCOMPARE(before[7917], 3);
        for (int t = 3; t <= 9; ++t) {
            heard.events.clear();
            const GrainDriver::Tick did = p.driver.tick(heard);
            QCOMPARE(did.dropped, t == 3);
            QVERIFY(did.swept);
            if (t == 3)
                QVERIFY(heard.events.front() == (Event{'r', 7917, 4}));
            QCOMPARE(p.model.avalancheInProgress(), t < 9);
            QCOMPARE(p.model.grainsAdded(), 3);
        }
        QCOMPARE(p.model.avalancheSize(), 9);
        QCOMPARE(p.model.largestAvalanche(), 9);

        // Tick 10: five grains, the last reaching 4.
        before = p.model.z();
        heard.events.clear();
        p.driver.tick(heard);
        std::vector<int> dropped;
        for (const Event &event : heard.events) {
            if (event.kind != 'r')
                break;
            dropped.push_back(event.site);
        }
        QCOMPARE(dropped, (std::vector<int>{20670, 2141, 6173, 4558, 15410}));
        QCOMPARE(before[15410], 3);
        const std::vector<int> &z = p.model.z();
        for (int site : {20670, 2141, 6173, 4558})
            QCOMPARE(z[site], before[site] + 1);
        QVERIFY(z[15410] < 3);
        QCOMPARE(p.model.grainsAdded(), 8);
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

    void pauseHoldsEverythingIncludingAPendingGrainAndAnAvalanche()
    {
        Program p;
        QVERIFY(!p.driver.setRunningStyle(SandpileModel::Sprinkle));
        p.model.setHeight(11100, 3);
        p.model.selectSite(11100);
        p.driver.setSpeed(GrainDriver::Pause);
        const State before = stateOf(p.model, p.driver);
        for (int i = 0; i < 10; ++i)
            QVERIFY(didNothing(p.tick()));
        QCOMPARE(differences(stateOf(p.model, p.driver), before), QString());

        p.driver.setSpeed(GrainDriver::Fast);
        QVERIFY(p.tick().dropped);
        QCOMPARE(p.model.grainsAdded(), 1);
        QVERIFY(p.model.avalancheSize() >= 1);
        QCOMPARE(p.model.selectedSite(), -1);

        // An avalanche in progress is held by pause too.
        tickUntilAvalancheEnds(p.driver, p.model);
        p.model.setHeight(11100, 4);
        p.model.startAvalanche(11100);
        p.driver.setSpeed(GrainDriver::Slow);
        p.driver.setSpeed(GrainDriver::Pause);
        const State held = stateOf(p.model, p.driver);
        QVERIFY(didNothing(p.tick()));
        QCOMPARE(differences(stateOf(p.model, p.driver), held), QString());
        QCOMPARE(p.model.z()[11100], 4);
        // Slow sweeps as fast does: the wait belongs to the view.
        p.driver.setSpeed(GrainDriver::Slow);
        QVERIFY(p.tick().swept);
        QCOMPARE(p.model.z()[11100], 0);
    }

    void sprinkleDropsOneGrainOnTheSelectedSiteAndOnlyThen()
    {
        Program p;
        QVERIFY(!p.driver.setRunningStyle(SandpileModel::Sprinkle));
        const State before = stateOf(p.model, p.driver);
        for (int i = 0; i < 3; ++i)   // nothing selected: nothing happens
            QVERIFY(didNothing(p.tick()));
        QCOMPARE(differences(stateOf(p.model, p.driver), before), QString());

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
        // Counters that have grown, and an avalanche or a grain pending.
        for (int t = 0; t < 30; ++t) {
            p.model.selectSite(t * 737 % p.model.sites());
            p.tick();
        }
        p.model.selectSite(42);
        const State before = stateOf(p.model, p.driver);
        QVERIFY(before.largest > 0);
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

        QVERIFY(p.driver.nextTickBurns());
        const State before = stateOf(p.model, p.driver);
        GrainDriver::Tick did = p.tick();
        QVERIFY(did.burnt && !did.dropped && !did.swept);
        QVERIFY(p.model.lastBurn().sweeps > 0);
        const State burnt = stateOf(p.model, p.driver);
        QCOMPARE(burnt.z, before.z);
        QCOMPARE(burnt.grains, 3);
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
        QTest::addColumn<int>("arrangement");
        QTest::addColumn<bool>("resting");
        QTest::addColumn<bool>("burns");
        QTest::newRow("paused") << int(Paused) << true << false;
        QTest::newRow("paused, burn pending") << int(PausedWithBurnPending) << true << false;
        QTest::newRow("paused in an avalanche") << int(PausedInAnAvalanche) << true << false;
        QTest::newRow("run free") << int(RunningFree) << false << false;
        QTest::newRow("sprinkle, nothing selected") << int(SprinkleWithNothingSelected) << true << false;
        QTest::newRow("sprinkle, a site selected") << int(SprinkleWithASiteSelected) << false << false;
        QTest::newRow("sprinkle, nothing selected, burn just released")
            << int(SprinkleWithNothingSelectedAfterABurn) << false << false;
        QTest::newRow("burn pressed") << int(BurnPressed) << false << true;
        QTest::newRow("burn held after its test") << int(BurnHeldAfterItsTest) << true << false;
        QTest::newRow("burn held, sprinkle with a site selected")
            << int(BurnHeldInSprinkleWithASiteSelected) << true << false;
        QTest::newRow("fractalsand with burn") << int(FractalsandWithBurn) << false << false;
        QTest::newRow("avalanche in progress with burn") << int(AvalancheInProgressWithBurn) << false << false;
    }
    void restsExactlyWhenATickWouldChangeNothing()
    {
        QFETCH(int, arrangement);
        QFETCH(bool, resting);
        QFETCH(bool, burns);
        // Two programs in the same state; only the first ticks.
        Program ticked(16), kept(16);
        arrange(ticked, arrangement);
        arrange(kept, arrangement);
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
