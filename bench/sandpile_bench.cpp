// Benchmarks of the model and its picture. Most run on the offscreen
// platform (the default here); BM_ProgramOnScreen is meant for a real X
// server, and BM_LongRunMemory takes five minutes:
//   QT_QPA_PLATFORM=offscreen build/bench/sandpile_bench --benchmark_filter='-OnScreen|LongRun'
//   Xvfb :99 & DISPLAY=:99 QT_QPA_PLATFORM=xcb build/bench/sandpile_bench --benchmark_filter=OnScreen
//   QT_QPA_PLATFORM=offscreen build/bench/sandpile_bench --benchmark_filter=LongRun

#include "app/sandpilewindow.h"
#include "support/probe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPaintEvent>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

// The toppling rule over plain arrays, with nothing else: parallel sweeps,
// the next front of sites that reached exactly 4. The limit for relax().
long long bareAvalanche(int *z, int *front, int *nextFront, int site)
{
    long long topplings = 0;
    int frontCount = 1;
    front[0] = site;
    while (frontCount > 0) {
        int nextCount = 0;
        for (int k = 0; k < frontCount; ++k) {
            const int i = front[k];
            if (z[i] < 4)
                continue;
            z[i] -= 4;
            Lattice::forEachNeighbour(i, [&](int n) {
                if (++z[n] == 4)
                    nextFront[nextCount++] = n;
            });
        }
        topplings += frontCount;
        std::swap(front, nextFront);
        frontCount = nextCount;
    }
    return topplings;
}

// The avalanche of a grain on the centre of a pile of 3s: 562475 topplings.
void BM_BareTopplingLoop(benchmark::State &state)
{
    std::vector<int> z(Lattice::N), front(Lattice::N), nextFront(Lattice::N);
    long long topplings = 0;
    for (auto _ : state) {
        std::fill(z.begin(), z.end(), 3);
        z[Lattice::CENTRE_SITE] = 4;
        topplings += bareAvalanche(z.data(), front.data(), nextFront.data(), Lattice::CENTRE_SITE);
    }
    state.counters["topplings/s"] = benchmark::Counter(double(topplings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareTopplingLoop)->Unit(benchmark::kMillisecond);

// relax() sweep by sweep through the same avalanche, drawn or not.
void BM_RelaxCentreAvalanche(benchmark::State &state)
{
    auto sandpile = freshSandpile();
    QMetaObject::invokeMethod(sandpile.get(), "slotDisplay", Q_ARG(bool, state.range(0) != 0));
    SandpileProbe::setGrainsAdded(*sandpile, 1);   // no average-slope pass after each sweep
    long long topplings = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SandpileProbe::setHeights(*sandpile, [](int i) { return i == Lattice::CENTRE_SITE ? 4 : 3; });
        SandpileProbe::startAvalanche(*sandpile, Lattice::CENTRE_SITE);
        state.ResumeTiming();
        while (SandpileProbe::frontCount(*sandpile) > 0)
            SandpileProbe::sweepOnly(*sandpile);
        topplings += SandpileProbe::avalancheSize(*sandpile);
    }
    state.counters["topplings/s"] = benchmark::Counter(double(topplings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RelaxCentreAvalanche)->ArgName("display")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The first million ticks of a fresh "run free" program through the real
// event loop and its zero-interval timer, with the widget on screen.
void BM_EventLoopTicks(benchmark::State &state)
{
    constexpr int TICKS = 1000000;
    double seconds = 0;
    for (auto _ : state) {
        auto sandpile = freshSandpile();
        QMetaObject::invokeMethod(sandpile.get(), "slotDisplay", Q_ARG(bool, state.range(0) != 0));
        sandpile->show();
        int ticks = 0;
        QTimer *timer = sandpile->findChild<QTimer *>();
        QObject::connect(timer, &QTimer::timeout, [&] {
            if (++ticks == TICKS)
                QCoreApplication::quit();
        });
        QElapsedTimer clock;
        clock.start();
        QCoreApplication::exec();
        seconds += clock.nsecsElapsed() / 1e9;
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
    }
    state.counters["ticks/s"] = double(TICKS) * double(state.iterations()) / seconds;
}
BENCHMARK(BM_EventLoopTicks)->ArgName("display")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// One full redraw of the lattice from the heights.
void BM_FullRedraw(benchmark::State &state)
{
    auto sandpile = freshSandpile();
    for (auto _ : state)
        redraw(*sandpile);
}
BENCHMARK(BM_FullRedraw)->Unit(benchmark::kMicrosecond);

// Counts the frames the lattice shows: its paint events that reach the picture.
class FrameCounter : public QObject
{
public:
    int frames = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        frames += event->type() == QEvent::Paint
                  && static_cast<QPaintEvent *>(event)->region().intersects(Picture::area());
        return false;
    }
};

// The whole program's window for its first ten seconds in "run free":
// ticks counted at the timer, frames counted by the lattice's paint events.
void BM_ProgramOnScreen(benchmark::State &state)
{
    constexpr int SECONDS = 10;
    for (auto _ : state) {
        setRandomSeed(1);
        SandpileWindow window;
        window.setGeometry(0, 50, 1000, 700);
        auto *sandpile = window.findChild<Sandpile *>();
        QMetaObject::invokeMethod(sandpile, "slotDisplay", Q_ARG(bool, state.range(0) != 0));
        FrameCounter counter;
        sandpile->installEventFilter(&counter);
        long long ticks = 0;
        QObject::connect(sandpile->findChild<QTimer *>(), &QTimer::timeout, [&] { ++ticks; });
        window.show();
        QTimer::singleShot(SECONDS * 1000, &window, [] { QCoreApplication::quit(); });
        QCoreApplication::exec();
        state.counters["ticks/s"] = double(ticks) / SECONDS;
        state.counters["frames/s"] = double(counter.frames) / SECONDS;
        state.counters["grains"] = double(SandpileProbe::grainsAdded(*sandpile));
    }
}
BENCHMARK(BM_ProgramOnScreen)->ArgName("display")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// Resident memory of this process, in KiB.
double residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble();
    return 0;
}

// Five minutes at full speed with the display off: the resident size after
// one minute and after five, and the grains added.
void BM_LongRunMemory(benchmark::State &state)
{
    for (auto _ : state) {
        auto sandpile = freshSandpile(true);
        QMetaObject::invokeMethod(sandpile.get(), "slotDisplay", Q_ARG(bool, false));
        sandpile->show();
        QTimer::singleShot(60 * 1000, sandpile.get(), [&] { state.counters["RSS KiB at 1 min"] = residentKiB(); });
        QTimer::singleShot(300 * 1000, sandpile.get(), [&] {
            state.counters["RSS KiB at 5 min"] = residentKiB();
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
        state.counters["grains"] = double(SandpileProbe::grainsAdded(*sandpile));
    }
}
BENCHMARK(BM_LongRunMemory)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
