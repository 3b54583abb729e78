#include "support/probe.h"

#include <QElapsedTimer>
#include <QPaintEvent>
#include <QTimer>
#include <QtTest>

// Frames: while the simulation runs fast, the screen follows it once per
// frame, always showing one tick boundary; whenever it comes to rest, or
// the user acts, the screen catches up at once.
class PacingTest : public QObject
{
    Q_OBJECT

    static constexpr int NEVER = 1000 * 1000 * 1000;   // a frame interval no test outlasts
    std::unique_ptr<Sandpile> sandpile;

    // What the screen shows: the picture's heights and the read-outs.
    struct Shown {
        QImage picture;
        QStringList readouts;
    };
    Shown shown()
    {
        QStringList readouts;
        for (const char *lcd : {"grainsLCD", "slopeLCD", "sLCD", "largestLCD"})
            readouts << lcdText(*sandpile, lcd);
        return {screenOf(*sandpile).copy(Picture::area()), readouts};
    }

    // Whether the screen shows the model as it is now.
    bool showsTheModel()
    {
        return firstSiteNotShowingItsHeight(screenOf(*sandpile), SandpileProbe::heights(*sandpile)) == -1
               && lcdText(*sandpile, "grainsLCD") == QString::number(SandpileProbe::grainsAdded(*sandpile));
    }

    void runTicks(int n)
    {
        Ticker ticker(*sandpile);
        for (int i = 0; i < n; ++i)
            ticker();
    }

private slots:
    void init()
    {
        sandpile = freshSandpile(true);
        SandpileProbe::setFrameInterval(*sandpile, NEVER);
    }
    void cleanup() { sandpile.reset(); }

    void frameIntervalFollowsTheScreen()
    {
        auto shownPile = freshSandpile(true);
        shownPile->show();
        QVERIFY(QTest::qWaitForWindowExposed(shownPile.get()));
        const qreal rate = shownPile->screen()->refreshRate();
        const int interval = SandpileProbe::frameInterval(*shownPile);
        QVERIFY(interval >= 2 && interval <= 50);
        if (rate >= 20 && rate <= 500)
            QCOMPARE(interval, qRound(1000 / rate));
    }

    void runningTicksWaitForTheNextFrame()
    {
        const Shown before = shown();
        runTicks(200);
        QVERIFY(SandpileProbe::grainsAdded(*sandpile) > 0);
        const Shown during = shown();
        QCOMPARE(during.picture, before.picture);
        QCOMPARE(during.readouts, before.readouts);
        QVERIFY(!showsTheModel());
    }

    void frameShowsOneTickBoundaryWhateverRunsAfterIt()
    {
        runTicks(300);
        SandpileProbe::presentChanges(*sandpile);   // a frame falls due here
        const std::vector<int> heights = SandpileProbe::heights(*sandpile);
        const qint64 grains = SandpileProbe::grainsAdded(*sandpile);
        runTicks(300);
        QVERIFY(SandpileProbe::grainsAdded(*sandpile) > grains);
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), heights), -1);
        QCOMPARE(lcdText(*sandpile, "grainsLCD"), QString::number(grains));
    }

    void screenCatchesUpAtOnceWhenTheSimulationRests_data()
    {
        QTest::addColumn<std::function<void(Sandpile &)>>("rest");
        auto row = [](const char *name, std::function<void(Sandpile &)> rest) { QTest::newRow(name) << rest; };
        row("paused tick", [](Sandpile &s) {
            choose(s, "slotSpeed", Sandpile::Pause);
            tick(s);
        });
        row("sprinkle with nothing pending", [](Sandpile &s) {
            QMetaObject::invokeMethod(&s, "slotRunningStyle", Q_ARG(int, Sandpile::Sprinkle));
            tickUntilAvalancheEnds(s);
            tick(s);
        });
        row("slow sweep", [](Sandpile &s) {
            choose(s, "slotSpeed", Sandpile::Slow);
            tick(s);
        });
        row("burn latched", [](Sandpile &s) {
            tickUntilAvalancheEnds(s);
            toggle(s, "slotBurn", true);
            tick(s);
            redraw(s);
            tick(s);
        });
        row("display switched on", [](Sandpile &s) { toggle(s, "slotDisplay", true); });
        row("speed chosen", [](Sandpile &s) { choose(s, "slotSpeed", Sandpile::Fast); });
        row("style chosen", [](Sandpile &s) { choose(s, "slotRunningStyle", Sandpile::Sprinkle); });
        row("mouse press", [](Sandpile &s) { pressAt(s, QPoint(10, 10)); });
    }
    void screenCatchesUpAtOnceWhenTheSimulationRests()
    {
        QFETCH(std::function<void(Sandpile &)>, rest);
        runTicks(500);
        QVERIFY(!showsTheModel());
        rest(*sandpile);
        QVERIFY(showsTheModel());
    }

    void burningTestIsShownWhenItEnds()
    {
        runTicks(50);
        tickUntilAvalancheEnds(*sandpile);
        toggle(*sandpile, "slotBurn", true);
        tick(*sandpile);
        int yellow = 0;
        const QImage screen = screenOf(*sandpile);
        for (int i = 0; i < Lattice::N; ++i)
            yellow += squareColour(screen, i) == QColor(Qt::yellow);
        QVERIFY(yellow > 0);
    }

    // In the real event loop at full speed: a frame per refresh at most,
    // and a control change is handled before the next tick but one.
    void fastRunPacesFramesAndAnswersInput()
    {
        auto running = freshSandpile(true);
        SandpileProbe::setFrameInterval(*running, 16);
        running->show();
        QVERIFY(QTest::qWaitForWindowExposed(running.get()));

        // A frame is a paint of the lattice picture.
        struct FrameCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                paints += e->type() == QEvent::Paint
                          && static_cast<QPaintEvent *>(e)->region().intersects(Picture::area());
                return false;
            }
        } counter;
        running->installEventFilter(&counter);
        long long ticks = 0;
        long long ticksWhenPosted = -1;
        long long ticksWhenHandled = -1;
        QObject::connect(running->findChild<QTimer *>(), &QTimer::timeout, running.get(), [&] { ++ticks; });

        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(500, running.get(), [&] {
            ticksWhenPosted = ticks;
            // As the "Speed" choice delivers it: queued, then handled between ticks.
            QTimer::singleShot(0, running.get(), [&] {
                ticksWhenHandled = ticks;
                choose(*running, "slotSpeed", Sandpile::Pause);
                QTimer::singleShot(100, running.get(), [] { QCoreApplication::quit(); });
            });
        });
        QCoreApplication::exec();
        const qint64 elapsed = clock.elapsed();

        QVERIFY(ticksWhenPosted > 0);
        QVERIFY(ticksWhenHandled - ticksWhenPosted <= 1);
        QVERIFY2(counter.paints <= elapsed / 16 + 5,
                 qPrintable(QStringLiteral("%1 paints in %2 ms").arg(counter.paints).arg(elapsed)));
        QVERIFY(counter.paints >= 2);
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*running), SandpileProbe::heights(*running)), -1);
        QCOMPARE(lcdText(*running, "grainsLCD"), QString::number(SandpileProbe::grainsAdded(*running)));
    }
};

QTEST_MAIN(PacingTest)
#include "tst_pacing.moc"
