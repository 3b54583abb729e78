// Benchmarks of the engine, its picture and the whole program. Most run on
// the offscreen platform (the default here); BM_ProgramOnScreen is meant for
// a real X server, and BM_LongRunMemory takes five minutes:
//   build/bench/sandpile_bench --benchmark_filter='-OnScreen|LongRun'
//   Xvfb :99 & DISPLAY=:99 QT_QPA_PLATFORM=xcb build/bench/sandpile_bench --benchmark_filter=OnScreen
//   build/bench/sandpile_bench --benchmark_filter=LongRun

#include "app/sandpilewindow.h"
#include "sandpile/latticeimage.h"
#include "engine/graindriver.h"
#include "sandpile/sandpile.h"
#include "bareavalanche.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPaintEvent>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>

namespace {

constexpr int L = Sandpile::SIDE;
static_assert(L == BareAvalanche::L, "the bare loop runs the window's lattice");
constexpr int N = L * L;
constexpr int CENTRE = (L / 2) * L + L / 2;
const QRect PICTURE_AREA(Sandpile::LATTICE_ORIGIN, QSize(L * LatticeImage::CELL, L * LatticeImage::CELL));

// The avalanche of a grain on the centre of a pile of 3s: 562475 topplings.
void BM_BareTopplingLoop(benchmark::State &state)
{
    std::vector<int> z(N), front(N), nextFront(N);
    long long topplings = 0;
    for (auto _ : state) {
        std::fill(z.begin(), z.end(), 3);
        z[CENTRE] = 4;
        topplings += BareAvalanche::run(z.data(), front.data(), nextFront.data(), CENTRE);
    }
    state.counters["topplings/s"] = benchmark::Counter(double(topplings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareTopplingLoop)->Unit(benchmark::kMillisecond);

// The engine's relax(), its side chosen at run time, sweep by sweep through
// the same avalanche: drawn into the picture or not.
void BM_RelaxCentreAvalanche(benchmark::State &state)
{
    SandpileModel model(int(state.range(1)));
    LatticeImage picture(model.side());
    LatticeImage::Painter painter{{}, picture};
    SandpileObserver nobody;
    std::vector<int> allThree(model.sites(), 3);
    const int centre = model.lattice().centre();
    long long topplings = 0;
    for (auto _ : state) {
        state.PauseTiming();
        model.setHeights(allThree);
        model.setHeight(centre, 4);
        model.startAvalanche(centre);
        state.ResumeTiming();
        while (model.avalancheInProgress()) {
            if (state.range(0))
                model.relax(painter);
            else
                model.relax(nobody);
        }
        topplings += model.avalancheSize();
        picture.present();
    }
    state.counters["topplings/s"] = benchmark::Counter(double(topplings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RelaxCentreAvalanche)->ArgNames({"display", "L"})->Args({0, L})->Args({1, L})->Unit(benchmark::kMillisecond);

// One full redraw of the lattice from the heights.
void BM_FullRedraw(benchmark::State &state)
{
    Sandpile sandpile;
    for (auto _ : state)
        QMetaObject::invokeMethod(&sandpile, "update", Qt::DirectConnection);
}
BENCHMARK(BM_FullRedraw)->Unit(benchmark::kMicrosecond);

// Counts the frames the lattice shows: its paint events that reach the picture.
class FrameCounter : public QObject
{
public:
    int frames = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        frames += event->type() == QEvent::Paint && static_cast<QPaintEvent *>(event)->region().intersects(PICTURE_AREA);
        return false;
    }
};

// Whether a twin pile has reached the state of another.
bool reached(const SandpileModel &twin, const SandpileModel &target)
{
    return twin.grainsAdded() == target.grainsAdded() && twin.frontCount() == target.frontCount()
           && twin.avalancheSize() == target.avalancheSize();
}

// The ticks a program ran between two states of its pile, found by
// replaying them on a twin pile in a plain loop with no event loop (and,
// with the display on, painting into a picture as the window does);
// returns the ticks, and the loop's seconds for them (-1 ticks if the
// twin's pile came out different).
std::pair<long long, double> replayInPlainLoop(const SandpileModel &from, const SandpileModel &to, bool display)
{
    SandpileModel twin(L);
    twin.reinitialise(SandpileModel::RunFree);
    GrainDriver driver(twin);
    LatticeImage picture(L);
    LatticeImage::Painter painter{{}, picture};
    SandpileObserver nobody;
    auto tick = [&] {
        if (display)
            driver.tick(painter);
        else
            driver.tick(nobody);
    };
    while (!reached(twin, from))
        tick();
    long long ticks = 0;
    QElapsedTimer clock;
    clock.start();
    while (!reached(twin, to)) {
        tick();
        ++ticks;
        if (display && ticks % 50000 == 0)   // about a frame's worth of ticks, presented
            picture.present();
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    return {twin.z() == to.z() ? ticks : -1, seconds};
}

// The whole program's window in "run free", for ten seconds after a first
// one for the window to settle: the ticks it ran beside the same ticks in a
// plain loop, and the frames it showed (the lattice's paint events).
void BM_ProgramOnScreen(benchmark::State &state)
{
    constexpr int SETTLE_MS = 1000;
    constexpr int MEASURE_MS = 10000;
    const bool display = state.range(0) != 0;
    for (auto _ : state) {
        SandpileWindow window;
        window.setGeometry(0, 50, 1000, 700);
        auto *sandpile = window.findChild<Sandpile *>();
        QMetaObject::invokeMethod(sandpile, "slotDisplay", Q_ARG(bool, display));
        FrameCounter counter;
        window.show();
        std::unique_ptr<SandpileModel> settled;
        QElapsedTimer clock;
        QTimer::singleShot(SETTLE_MS, &window, [&] {
            settled = std::make_unique<SandpileModel>(sandpile->model());
            sandpile->installEventFilter(&counter);
            clock.start();
            QTimer::singleShot(MEASURE_MS, &window, [] { QCoreApplication::quit(); });
        });
        QCoreApplication::exec();
        const double seconds = clock.nsecsElapsed() / 1e9;
        const auto [ticks, loopSeconds] = replayInPlainLoop(*settled, sandpile->model(), display);
        state.counters["ticks/s"] = double(ticks) / seconds;
        state.counters["loop ticks/s"] = double(ticks) / loopSeconds;
        state.counters["ratio"] = loopSeconds / seconds;
        state.counters["frames/s"] = double(counter.frames) / seconds;
    }
}
BENCHMARK(BM_ProgramOnScreen)->ArgName("display")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// Processor time of this process, in seconds.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// Five seconds of the window at rest: the share of a core it uses.
void BM_CpuAtRest(benchmark::State &state)
{
    for (auto _ : state) {
        SandpileWindow window;
        window.setGeometry(0, 50, 1000, 700);
        auto *sandpile = window.findChild<Sandpile *>();
        window.show();
        auto choose = [&](const char *slot, int value) {
            QMetaObject::invokeMethod(sandpile, slot, Qt::DirectConnection, Q_ARG(int, value));
        };
        switch (state.range(0)) {
        case 0:   // paused
            choose("slotSpeed", GrainDriver::Pause);
            break;
        case 1:   // "sprinkle" with nothing to drop
            choose("slotRunningStyle", SandpileModel::Sprinkle);
            break;
        case 2:   // Burn held after its test
            QMetaObject::invokeMethod(sandpile, "slotBurn", Qt::DirectConnection, Q_ARG(bool, true));
            break;
        }
        // Let the last avalanche end and the window settle, then measure.
        QTimer::singleShot(1000, &window, [] { QCoreApplication::quit(); });
        QCoreApplication::exec();
        const double cpuBefore = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(5000, &window, [] { QCoreApplication::quit(); });
        QCoreApplication::exec();
        state.counters["CPU %"] = 100 * (cpuSeconds() - cpuBefore) / (clock.nsecsElapsed() / 1e9);
        state.counters["ticking"] = sandpile->isTicking();
    }
}
BENCHMARK(BM_CpuAtRest)->ArgName("rest")->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond);

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
        Sandpile sandpile;
        QMetaObject::invokeMethod(&sandpile, "slotDisplay", Q_ARG(bool, false));
        sandpile.show();
        QTimer::singleShot(60 * 1000, &sandpile, [&] { state.counters["RSS KiB at 1 min"] = residentKiB(); });
        QTimer::singleShot(300 * 1000, &sandpile, [&] {
            state.counters["RSS KiB at 5 min"] = residentKiB();
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
        state.counters["grains"] = double(sandpile.model().grainsAdded());
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
