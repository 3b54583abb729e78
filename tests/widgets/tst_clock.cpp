#include "support/sandpiletest.h"

#include "app/sandpilewindow.h"
#include "engine/graindriver.h"

#include <QElapsedTimer>
#include <QExposeEvent>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <functional>
#include <memory>

// The clock that drives the pile: it rests when no tick can change
// anything, runs fast in bounded slices with at most one frame per refresh
// and never holds one back, and runs slow on a timer rather than asleep.
class ClockTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandpile> sandpile;

    // The same pile driven without a widget, to tell what the next tick must do.
    using Twin = ModelTest::Program;

    static bool samePile(const SandpileModel &a, const SandpileModel &b)
    {
        return a.z() == b.z() && a.front() == b.front() && a.grainsAdded() == b.grainsAdded()
               && a.avalancheSize() == b.avalancheSize() && a.largestAvalanche() == b.largestAvalanche();
    }

    // A clock that moves on by a fixed step at every reading, and can call
    // back when it is read, as the pile's clock runs its ticks.
    struct ManualClock {
        explicit ManualClock(qint64 stepNs) : step(stepNs) {}
        std::shared_ptr<qint64> time = std::make_shared<qint64>(0);
        qint64 step;
        std::shared_ptr<std::function<void()>> onReading = std::make_shared<std::function<void()>>();
        qint64 operator()()
        {
            if (*onReading)
                (*onReading)();
            return *time += step;
        }
    };

    // Whether the screen shows the pile as it is now: a frame was presented
    // at the last tick boundary.
    bool screenIsCurrent()
    {
        return lcdValue(*sandpile, "grainsLCD") == sandpile->model().grainsAdded() && showsItsPile(*sandpile);
    }

private slots:
    void init() { sandpile = freshSandpile(); }
    void cleanup() { sandpile.reset(); }

    // Each resting case stops the clock; the control or press that ends the
    // rest starts it, and the next tick is the one that would have come.
    void restingStopsTheClockUntilTheUserActs_data()
    {
        using Step = std::function<void(Sandpile &, Twin &)>;
        QTest::addColumn<Step>("rest");
        QTest::addColumn<Step>("wake");
        QTest::newRow("paused, then fast") << Step([](Sandpile &s, Twin &t) {
            choose(s, "slotSpeed", GrainDriver::Pause);
            t.driver.setSpeed(GrainDriver::Pause);
        }) << Step([](Sandpile &s, Twin &t) {
            choose(s, "slotSpeed", GrainDriver::Fast);
            t.driver.setSpeed(GrainDriver::Fast);
        });
        QTest::newRow("paused, then slow") << Step([](Sandpile &s, Twin &t) {
            choose(s, "slotSpeed", GrainDriver::Pause);
            t.driver.setSpeed(GrainDriver::Pause);
        }) << Step([](Sandpile &s, Twin &t) {
            choose(s, "slotSpeed", GrainDriver::Slow);
            t.driver.setSpeed(GrainDriver::Slow);
        });
        QTest::newRow("sprinkle with nothing pending, then a press") << Step([](Sandpile &s, Twin &t) {
            choose(s, "slotRunningStyle", SandpileModel::Sprinkle);
            t.driver.setRunningStyle(SandpileModel::Sprinkle);
            tick(s);   // the tick that finds nothing to drop
            t.tick();
        }) << Step([](Sandpile &s, Twin &t) {
            pressAt(s, WidgetGeometry::pointOf(WidgetGeometry::CENTRE));
            t.model.selectSite(WidgetGeometry::CENTRE);
        });
        QTest::newRow("sprinkle with nothing pending, then run free") << Step([](Sandpile &s, Twin &t) {
            choose(s, "slotRunningStyle", SandpileModel::Sprinkle);
            t.driver.setRunningStyle(SandpileModel::Sprinkle);
            tick(s);
            t.tick();
        }) << Step([](Sandpile &s, Twin &t) {
            choose(s, "slotRunningStyle", SandpileModel::RunFree);
            t.driver.setRunningStyle(SandpileModel::RunFree);
        });
        QTest::newRow("Burn held after its test, then released") << Step([](Sandpile &s, Twin &t) {
            toggle(s, "slotBurn", true);
            t.driver.setBurn(true);
            tick(s);   // the burning test
            t.tick();
        }) << Step([](Sandpile &s, Twin &t) {
            toggle(s, "slotBurn", false);
            t.driver.setBurn(false);
        });
        QTest::newRow("Burn held after its test, then Re-initialise and release")
            << Step([](Sandpile &s, Twin &t) {
                   toggle(s, "slotBurn", true);
                   t.driver.setBurn(true);
                   tick(s);
                   t.tick();
               })
            << Step([](Sandpile &s, Twin &t) {
                   QVERIFY(QMetaObject::invokeMethod(&s, "slotStartAgain", Qt::DirectConnection));
                   t.driver.reinitialise();
                   QVERIFY(!s.isTicking());   // still held: nothing to do
                   toggle(s, "slotBurn", false);
                   t.driver.setBurn(false);
               });
    }
    void restingStopsTheClockUntilTheUserActs()
    {
        using Step = std::function<void(Sandpile &, Twin &)>;
        QFETCH(Step, rest);
        QFETCH(Step, wake);
        Twin twin;
        // Into the middle of a run, between avalanches.
        for (int t = 0; t < 40 || sandpile->model().avalancheInProgress(); ++t) {
            tick(*sandpile);
            twin.tick();
        }
        QVERIFY(sandpile->isTicking());

        rest(*sandpile, twin);
        QVERIFY(!sandpile->isTicking());
        // At rest the screen has caught up: the read-outs, and the heights
        // unless the burning test's picture is up.
        QCOMPARE(lcdValue(*sandpile, "grainsLCD"), double(sandpile->model().grainsAdded()));
        QVERIFY(showsItsPile(*sandpile) != QByteArray(QTest::currentDataTag()).startsWith("Burn"));
        tick(*sandpile);   // a tick at rest, had one come, changes nothing
        QVERIFY(samePile(sandpile->model(), twin.model));

        wake(*sandpile, twin);
        QVERIFY(sandpile->isTicking());
        for (int t = 0; t < 20; ++t) {
            tick(*sandpile);
            twin.tick();
            QVERIFY(samePile(sandpile->model(), twin.model));
        }
    }

    // The fractalsand styles keep dropping grains with Burn held, and an
    // avalanche in progress keeps the clock running whatever the style.
    void clockRunsWhileATickCanChangeSomething()
    {
        choose(*sandpile, "slotRunningStyle", SandpileModel::Fractalsand1);
        toggle(*sandpile, "slotBurn", true);
        for (int t = 0; t < 50; ++t) {
            tick(*sandpile);
            QVERIFY(sandpile->isTicking());
        }
        choose(*sandpile, "slotRunningStyle", SandpileModel::Sprinkle);
        toggle(*sandpile, "slotBurn", false);
        pressAt(*sandpile, WidgetGeometry::pointOf(WidgetGeometry::N / 2));
        while (sandpile->model().selectedSite() >= 0 || sandpile->model().avalancheInProgress()) {
            QVERIFY(sandpile->isTicking());
            tick(*sandpile);
        }
        tick(*sandpile);
        QVERIFY(!sandpile->isTicking());
    }

    // Running fast, a slice runs many ticks but ends when its time is up;
    // a frame is presented by the first tick after a frame interval has
    // passed, and never sooner. The clock here moves 1 us at every reading,
    // whatever the speed of the machine.
    void fastSlicesAreBoundedAndFramesNeverHeldBack()
    {
        constexpr qint64 STEP = 1000;
        ManualClock clock(STEP);
        sandpile->setClock(clock);
        qint64 lastFrame = *clock.time;
        int frames = 0;
        for (int slice = 0; frames < 4; ++slice) {
            QVERIFY(slice < 200);
            const qint64 start = *clock.time;
            tick(*sandpile);
            const qint64 took = *clock.time - start;
            QVERIFY2(took <= Pacer::SLICE_NS + 4 * STEP, qPrintable(QString::number(took)));
            if (screenIsCurrent()) {
                const qint64 sinceFrame = *clock.time - lastFrame;
                QVERIFY2(sinceFrame >= Pacer::DEFAULT_FRAME_NS, qPrintable(QString::number(sinceFrame)));
                QVERIFY2(sinceFrame <= Pacer::DEFAULT_FRAME_NS + 4 * STEP, qPrintable(QString::number(sinceFrame)));
                lastFrame = *clock.time;
                ++frames;
            } else {
                QVERIFY2(took >= Pacer::SLICE_NS, qPrintable(QString::number(took)));
            }
        }
    }

    // A tick that brings the simulation to rest presents at once, even in
    // the middle of a slice: here the burning test after an avalanche.
    void restReachedWithinASlicePresentsAtOnce()
    {
        ManualClock clock(1000);
        sandpile->setClock(clock);
        do
            tick(*sandpile);
        while (!sandpile->model().avalancheInProgress());
        toggle(*sandpile, "slotBurn", true);
        for (int slice = 0; sandpile->isTicking(); ++slice) {
            QVERIFY(slice < 1000);
            tick(*sandpile);
        }
        QVERIFY(sandpile->model().lastBurn().sweeps > 0);
        QCOMPARE(lcdValue(*sandpile, "grainsLCD"), double(sandpile->model().grainsAdded()));
        const QImage screen = screenOf(*sandpile);
        for (int site = 0; site < WidgetGeometry::N; ++site)
            QCOMPARE(squareColour(screen, site) == QColor(Qt::yellow), sandpile->model().isBurnt(site));
    }

    // A control that arrives during a slice is handled before the next one.
    void controlQueuedDuringASliceIsHandledBeforeTheNext()
    {
        ManualClock clock(1000);
        sandpile->setClock(clock);
        int readings = 0;
        *clock.onReading = [&] {
            if (++readings == 100)
                QMetaObject::invokeMethod(sandpile.get(), "slotSpeed", Qt::QueuedConnection,
                                          Q_ARG(int, GrainDriver::Pause));
        };
        tick(*sandpile);
        QVERIFY(readings > 100);   // the slice went on after the control came
        const std::vector<int> heights = sandpile->model().z();
        const qint64 grains = sandpile->model().grainsAdded();
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents();
        QVERIFY(!sandpile->isTicking());
        QCOMPARE(sandpile->model().grainsAdded(), grains);
        QVERIFY(sandpile->model().z() == heights);
    }

    // Running slow, only sweeps wait: a grain that topples nothing falls at
    // once, and each sweep comes a slow interval after the one before.
    void slowHoldsBackSweepsOnly()
    {
        ManualClock clock(0);   // time stands still unless the test moves it on
        sandpile->setClock(clock);
        choose(*sandpile, "slotRunningStyle", SandpileModel::Sprinkle);
        tick(*sandpile);   // the avalanche in progress ends; nothing more to drop
        QVERIFY(!sandpile->isTicking());
        choose(*sandpile, "slotSpeed", GrainDriver::Slow);
        const std::vector<int> &z = sandpile->model().z();
        const auto low = std::find_if(z.begin(), z.end(), [](int h) { return h < 3; }) - z.begin();
        const auto full = std::find(z.begin(), z.end(), 3) - z.begin();

        const int lowHeight = z[low];
        pressAt(*sandpile, WidgetGeometry::pointOf(int(low)));
        tick(*sandpile);
        QCOMPARE(z[low], lowHeight + 1);

        const qint64 grains = sandpile->model().grainsAdded();
        pressAt(*sandpile, WidgetGeometry::pointOf(int(full)));
        constexpr qint64 MS = 1'000'000;
        for (qint64 wait : {0LL, (Pacer::SLOW_SWEEP_MS - 1) * MS}) {
            *clock.time = wait;
            tick(*sandpile);
            QCOMPARE(sandpile->model().grainsAdded(), grains);   // the sweep waits
        }
        *clock.time = Pacer::SLOW_SWEEP_MS * MS;
        tick(*sandpile);
        QCOMPARE(sandpile->model().grainsAdded(), grains + 1);
        QCOMPARE(sandpile->model().avalancheSize(), 1);
        if (sandpile->model().avalancheInProgress()) {
            const std::int64_t s = sandpile->model().avalancheSize();
            *clock.time += Pacer::SLOW_SWEEP_MS * MS - 1;
            tick(*sandpile);
            QCOMPARE(sandpile->model().avalancheSize(), s);
            *clock.time += 1;
            tick(*sandpile);
            QVERIFY(sandpile->model().avalancheSize() > s);
        }
    }

    // Running slow in the real event loop: ticks at least a slow interval
    // apart, and a control chosen between them takes effect at once.
    void slowTicksKeepTheirIntervalAndLeaveTheWindowFree()
    {
        sandpile->setClock([] {
            static QElapsedTimer since;
            if (!since.isValid())
                since.start();
            return since.nsecsElapsed();
        });
        QTimer *timer = sandpile->findChild<QTimer *>();
        QVERIFY(timer);
        QElapsedTimer elapsed;
        elapsed.start();
        std::vector<qint64> tickTimes;
        qint64 lastState = -1;
        auto state = [&] { return sandpile->model().grainsAdded() * 1000003 + sandpile->model().avalancheSize(); };
        // After the pile's own slot, runs as the timer fires: notes each tick.
        connect(timer, &QTimer::timeout, this, [&] {
            if (state() != lastState)
                tickTimes.push_back(elapsed.nsecsElapsed());
            lastState = state();
        });
        choose(*sandpile, "slotSpeed", GrainDriver::Slow);
        lastState = state();
        qint64 postedAt = -1, handledAt = -1;
        QTimer::singleShot(450, this, [&] {
            postedAt = elapsed.nsecsElapsed();
            QTimer::singleShot(0, this, [&] {
                handledAt = elapsed.nsecsElapsed();
                choose(*sandpile, "slotSpeed", GrainDriver::Pause);
                QTimer::singleShot(250, this, [] { QCoreApplication::quit(); });
            });
        });
        QCoreApplication::exec();

        QVERIFY2(tickTimes.size() >= 2, qPrintable(QString::number(tickTimes.size())));
        for (size_t k = 1; k < tickTimes.size(); ++k)
            QVERIFY2(tickTimes[k] - tickTimes[k - 1] >= (Pacer::SLOW_SWEEP_MS - 1) * 1'000'000LL,
                     qPrintable(QString::number(tickTimes[k] - tickTimes[k - 1])));
        QVERIFY(handledAt >= postedAt);
        QVERIFY2(handledAt - postedAt < Pacer::SLOW_SWEEP_MS / 2 * 1'000'000LL,
                 qPrintable(QString::number(handledAt - postedAt)));
        QVERIFY(tickTimes.back() < handledAt);   // paused: no tick after it
        QVERIFY(!sandpile->isTicking());
    }

    // An exposure redraws the lattice picture from the heights only when it
    // reaches the picture: uncovering the controls keeps a burning test's
    // picture.
    void exposureRedrawsTheLatticeOnlyWhenItReachesIt()
    {
        SandpileWindow window;
        window.resize(1000, 700);
        auto *pile = window.findChild<Sandpile *>(QStringLiteral("sandpile"));
        pile->setClock(SteppingClock{});
        choose(*pile, "slotSpeed", GrainDriver::Pause);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        choose(*pile, "slotSpeed", GrainDriver::Fast);
        tickUntilAvalancheEnds(*pile);
        toggle(*pile, "slotBurn", true);
        tick(*pile);
        QVERIFY(!showsItsPile(*pile));   // the burnt sites show yellow

        auto expose = [&](const QRect &inWindow) {
            QExposeEvent event{QRegion(inWindow)};
            QCoreApplication::sendEvent(window.windowHandle(), &event);
        };
        const QPoint pileAt = pile->mapTo(&window, QPoint(0, 0));
        expose(QRect(820, 0, 180, 700));                            // the control column
        expose(QRect(pileAt, QSize(WidgetGeometry::LATTICE_X, 600)));   // the read-outs
        QVERIFY(!showsItsPile(*pile));
        expose(QRect(pileAt + QPoint(WidgetGeometry::LATTICE_X + 100, 100), QSize(10, 10)));
        QVERIFY(showsItsPile(*pile));
    }
};

QTEST_MAIN(ClockTest)
#include "tst_clock.moc"
