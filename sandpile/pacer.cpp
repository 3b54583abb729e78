#include "pacer.h"

#include <algorithm>
#include <chrono>
#include <cmath>

std::int64_t Pacer::steadyNow()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

void Pacer::setClock(Clock clock)
{
    now = std::move(clock);
    lastPresented = lastSweep = now();
}

void Pacer::setRefreshRate(double hertz)
{
    frameNs = hertz >= MIN_REFRESH_RATE && hertz <= MAX_REFRESH_RATE ? std::llround(1e9 / hertz)
                                                                     : DEFAULT_FRAME_NS;
}

std::int64_t Pacer::waitBeforeTick(bool slowSweepNext) const
{
    if (!slowSweepNext)
        return 0;
    return std::max<std::int64_t>(0, lastSweep + SLOW_SWEEP_NS - now());
}

int Pacer::timerIntervalMs(bool slowSweepNext) const
{
    return int((waitBeforeTick(slowSweepNext) + 999'999) / 1'000'000);
}
