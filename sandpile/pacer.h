#pragma once

#include <cstdint>
#include <functional>
#include <utility>

// The pace of the ticks that drive a pile, read off an injected monotonic
// clock in nanoseconds. Running fast, ticks run in slices of at most
// SLICE_NS between which the event loop handles input and paints, and a
// frame is presented at the first tick boundary at least a frame interval
// after the last, never sooner and within a few microseconds of it. Running
// slow, each sweep comes SLOW_SWEEP_MS after the last; other ticks come at
// once. The pacer decides only when: its owner runs the ticks, presents
// the frames and runs the timer.
class Pacer
{
public:
    static constexpr int SLOW_SWEEP_MS = 100;
    static constexpr std::int64_t SLOW_SWEEP_NS = std::int64_t(SLOW_SWEEP_MS) * 1'000'000;
    static constexpr std::int64_t SLICE_NS = 1'000'000;          // the longest run of ticks
    static constexpr int TICKS_PER_READING = 16;                 // of the clock, in a slice
    static constexpr std::int64_t DEFAULT_FRAME_NS = 16'666'667; // 60 frames a second
    // Refresh rates outside these, in hertz, are taken for a platform's guess.
    static constexpr double MIN_REFRESH_RATE = 20;
    static constexpr double MAX_REFRESH_RATE = 500;

    using Clock = std::function<std::int64_t()>;
    // The steady clock of the machine.
    static std::int64_t steadyNow();

    explicit Pacer(Clock clock = steadyNow) : now(std::move(clock)) {}

    // Replaces the clock; the last frame and the last sweep count from now.
    void setClock(Clock clock);

    // Frames follow the screen's refresh rate where it is plausible.
    void setRefreshRate(double hertz);
    std::int64_t frameInterval() const { return frameNs; }
    // A frame went to the screen.
    void framePresented() { lastPresented = now(); }

    // Slow was chosen: its first sweep waits a slow interval too.
    void slowChosen() { lastSweep = now(); }
    // How long the next tick must wait, in nanoseconds: a slow sweep waits
    // until SLOW_SWEEP_NS after the last; any other tick may come at once.
    std::int64_t waitBeforeTick(bool slowSweepNext) const;
    // The same wait rounded up to whole milliseconds, for a timer.
    int timerIntervalMs(bool slowSweepNext) const;

    // What a tick did, as far as the pace goes.
    enum class Ticked {
        Running,     // fast, with more to do
        Resting,     // the simulation rests: nothing more to do
        Slow,        // slow, without a sweep
        SlowSweep,   // slow, with a sweep
    };

    // Runs a slice of ticks, calling runTick() for each until a frame is
    // due or the slice is over; returns whether a frame is due now. A tick
    // that brings the simulation to rest, and every slow tick, end the
    // slice with a frame due. A slow sweep called before its time (a timer
    // that fired early) runs no tick and presents nothing.
    //
    // Reading the clock costs about a tenth of a typical tick and stalls
    // the processor's pipeline, so it is read after the 1st, 2nd, 4th and
    // 8th tick of a slice, then every TICKS_PER_READING-th: a deadline
    // already past when the slice begins costs one tick, and one met during
    // it is overrun by a few microseconds at most.
    template <typename RunTick>
    bool runSlice(bool slowSweepNext, RunTick runTick)
    {
        if (waitBeforeTick(slowSweepNext) > 0)
            return false;
        const std::int64_t sliceEnd = now() + SLICE_NS;
        for (int ticks = 1;; ++ticks) {
            switch (runTick()) {
            case Ticked::Running:
                break;
            case Ticked::SlowSweep:
                lastSweep = now();
                return true;
            case Ticked::Slow:
            case Ticked::Resting:
                return true;
            }
            if (!isClockReadingDue(ticks))
                continue;
            const std::int64_t time = now();
            if (time - lastPresented >= frameNs)
                return true;
            if (time >= sliceEnd)
                return false;
        }
    }

private:
    static bool isClockReadingDue(int n)
    {
        return n < TICKS_PER_READING ? (n & (n - 1)) == 0 : n % TICKS_PER_READING == 0;
    }

    Clock now;
    std::int64_t frameNs = DEFAULT_FRAME_NS;
    std::int64_t lastPresented = 0;
    std::int64_t lastSweep = 0;   // of the last slow sweep, or when slow was chosen
};
