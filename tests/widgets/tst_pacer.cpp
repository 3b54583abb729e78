#include "sandpile/pacer.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

// The pace of the ticks, decided alone against a clock the test sets: the
// bounds of a fast slice, the frame interval and the first frame due, the
// slices that end at once, and the interval between slow sweeps.
class PacerTest : public QObject
{
    Q_OBJECT

    // The clock: it moves on by `step` at every reading, and notes how many
    // ticks the slice had run and the time it read.
    std::int64_t time = 0;
    std::int64_t step = 0;
    int ticks = 0;
    std::vector<int> ticksAtReading;
    std::vector<std::int64_t> readings;

    std::int64_t read()
    {
        time += step;
        ticksAtReading.push_back(ticks);
        readings.push_back(time);
        return time;
    }
    Pacer pacer{[this] { return read(); }};

    // Runs a slice whose ticks return `last` on the n-th and run on before it.
    bool slice(bool slowSweepNext = false, Pacer::Ticked last = Pacer::Ticked::Running,
               int n = std::numeric_limits<int>::max())
    {
        ticks = 0;
        ticksAtReading.clear();
        readings.clear();
        return pacer.runSlice(slowSweepNext, [&] { return ++ticks == n ? last : Pacer::Ticked::Running; });
    }

private slots:
    void init()
    {
        time = 0;
        step = 0;
        pacer.setClock([this] { return read(); });
        pacer.setRefreshRate(0);
    }

    // Fast, with no frame due, a slice runs until the first reading at or
    // past its end. The clock is read after the 1st, 2nd, 4th and 8th tick,
    // then at most TICKS_PER_READING ticks apart.
    void fastSliceEndsAtTheFirstReadingPastItsEnd()
    {
        step = 1000;
        QVERIFY(!slice());
        const std::int64_t start = readings.front();
        QVERIFY(readings.back() >= start + Pacer::SLICE_NS);
        QVERIFY(readings[readings.size() - 2] < start + Pacer::SLICE_NS);
        QCOMPARE(ticksAtReading.back(), ticks);
        const std::vector<int> first(ticksAtReading.begin(), ticksAtReading.begin() + 6);
        QCOMPARE(first, (std::vector<int>{0, 1, 2, 4, 8, Pacer::TICKS_PER_READING}));
        for (size_t k = first.size(); k < ticksAtReading.size(); ++k)
            QCOMPARE(ticksAtReading[k] - ticksAtReading[k - 1], Pacer::TICKS_PER_READING);
    }

    // Frames follow a plausible refresh rate, and otherwise come 60 times a
    // second. Slices end without a frame until one is due; the slice in
    // which it falls due presents at its first reading at or after it.
    void framesComeAtTheFirstTickBoundaryAfterTheirInterval_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<qint64>("interval");
        QTest::newRow("60 Hz") << 60.0 << qint64(16'666'667);
        QTest::newRow("144 Hz") << 144.0 << qint64(6'944'444);
        QTest::newRow("lowest plausible") << 20.0 << qint64(50'000'000);
        QTest::newRow("highest plausible") << 500.0 << qint64(2'000'000);
        QTest::newRow("too low") << 19.9 << qint64(Pacer::DEFAULT_FRAME_NS);
        QTest::newRow("too high") << 500.5 << qint64(Pacer::DEFAULT_FRAME_NS);
        QTest::newRow("unknown") << 0.0 << qint64(Pacer::DEFAULT_FRAME_NS);
        QTest::newRow("not a number") << std::nan("") << qint64(Pacer::DEFAULT_FRAME_NS);
    }
    void framesComeAtTheFirstTickBoundaryAfterTheirInterval()
    {
        QFETCH(double, rate);
        QFETCH(qint64, interval);
        pacer.setRefreshRate(rate);
        QCOMPARE(qint64(pacer.frameInterval()), interval);

        step = 3000;   // not a divisor of the intervals
        for (int frame = 0; frame < 3; ++frame) {
            pacer.framePresented();
            const std::int64_t due = time + interval;
            int slices = 0;
            while (!slice()) {
                QVERIFY(readings.back() < due);
                QVERIFY(readings.back() - readings.front() >= Pacer::SLICE_NS);
                QVERIFY(++slices <= interval / Pacer::SLICE_NS);
            }
            QVERIFY(readings.back() >= due);
            QVERIFY(readings[readings.size() - 2] < due);
        }

        // A frame already overdue when the slice begins costs one tick.
        time += 2 * interval;
        QVERIFY(slice());
        QCOMPARE(ticks, 1);
    }

    // A tick that brings the simulation to rest, and every slow tick, ends
    // the slice with a frame due, whenever it comes; a slow sweep restarts
    // the slow interval and a slow tick without one does not.
    void restingAndSlowTicksEndTheSliceWithAFrame_data()
    {
        QTest::addColumn<Pacer::Ticked>("last");
        QTest::addColumn<int>("n");
        QTest::newRow("resting at once") << Pacer::Ticked::Resting << 1;
        QTest::newRow("resting between readings") << Pacer::Ticked::Resting << 7;
        QTest::newRow("resting late in the slice") << Pacer::Ticked::Resting << 500;
        QTest::newRow("slow") << Pacer::Ticked::Slow << 1;
        QTest::newRow("slow sweep") << Pacer::Ticked::SlowSweep << 1;
    }
    void restingAndSlowTicksEndTheSliceWithAFrame()
    {
        QFETCH(Pacer::Ticked, last);
        QFETCH(int, n);
        pacer.slowChosen();
        time += Pacer::SLOW_SWEEP_NS;   // a sweep may come
        pacer.framePresented();         // a frame is not due
        QVERIFY(slice(false, last, n));
        QCOMPARE(ticks, n);
        const std::int64_t sinceSweep = last == Pacer::Ticked::SlowSweep ? 0 : Pacer::SLOW_SWEEP_NS;
        QCOMPARE(pacer.waitBeforeTick(true), Pacer::SLOW_SWEEP_NS - sinceSweep);
    }

    // Running slow, a sweep comes no sooner than a slow interval after the
    // last, or after slow was chosen: one called earlier runs no tick. The
    // timer waits the rest rounded up, never less. Other ticks never wait.
    void slowSweepsKeepTheirInterval()
    {
        constexpr std::int64_t MS = 1'000'000;
        time = 5 * MS;
        pacer.slowChosen();
        const size_t before = readings.size();
        QCOMPARE(pacer.waitBeforeTick(false), std::int64_t(0));
        QCOMPARE(pacer.timerIntervalMs(false), 0);
        QCOMPARE(readings.size(), before);   // no clock read for a tick that need not wait
        QCOMPARE(pacer.waitBeforeTick(true), Pacer::SLOW_SWEEP_NS);
        QCOMPARE(pacer.timerIntervalMs(true), Pacer::SLOW_SWEEP_MS);

        for (std::int64_t wait : {Pacer::SLOW_SWEEP_NS / 2 + 1, std::int64_t(1)}) {
            time = 5 * MS + Pacer::SLOW_SWEEP_NS - wait;
            QCOMPARE(pacer.waitBeforeTick(true), wait);
            QCOMPARE(pacer.timerIntervalMs(true), int((wait + MS - 1) / MS));
            QVERIFY(!slice(true, Pacer::Ticked::SlowSweep, 1));
            QCOMPARE(ticks, 0);
        }
        time += 1;
        QCOMPARE(pacer.timerIntervalMs(true), 0);
        QVERIFY(slice(true, Pacer::Ticked::SlowSweep, 1));
        QCOMPARE(ticks, 1);

        // The next sweep counts from this one; timers round up to whole ms.
        time += 2 * MS + MS / 2;
        QCOMPARE(pacer.timerIntervalMs(true), Pacer::SLOW_SWEEP_MS - 2);
        time += Pacer::SLOW_SWEEP_NS - 2 * MS - MS / 2;
        QCOMPARE(pacer.waitBeforeTick(true), std::int64_t(0));

        // A new clock: the interval starts again from its first reading.
        time = 0;
        pacer.setClock([this] { return read(); });
        QCOMPARE(pacer.waitBeforeTick(true), Pacer::SLOW_SWEEP_NS);
    }
};

QTEST_APPLESS_MAIN(PacerTest)
#include "tst_pacer.moc"
