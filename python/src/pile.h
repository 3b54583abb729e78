#pragma once

#include "areacounter.h"
#include "avalanche.h"
#include "engine/sandpilemodel.h"

#include <cstdint>
#include <mutex>
#include <vector>

// The pile behind btwsandpile.Sandpile: the engine's SandpileModel, driven
// as the window's "run free" style drives it, plain C++ with no Python in
// it. Between calls the pile is stable, unless an avalanche started by add()
// is in progress; its front then lists every unstable site, and only
// sweep() may touch the pile until it ends. Calls that would break this
// throw std::logic_error; bad sites throw std::out_of_range.
class Pile
{
public:
    enum class Start { Random, Empty };

    // Drops check `interrupted` after about this much work (grains plus
    // topplings, some ten milliseconds), always between avalanches.
    static constexpr std::int64_t WORK_BETWEEN_CHECKS = 1 << 22;

    // Throws std::invalid_argument for a side the lattice cannot hold.
    Pile(int side, std::int64_t seed, Start start);

    const SandpileModel &model() const { return sandpile; }
    std::int64_t seed() const { return firstSeed; }
    // Held by whoever calls the pile; a pile serves one caller at a time.
    std::mutex &mutex() { return busy; }

    // The one way grains fall in bulk: random grains until one sets off an
    // avalanche or `limit` grains fell, then that avalanche relaxed fully.
    // Without an avalanche the record has size 0 and site -1. Needs limit >= 1
    // and a stable pile. drop() goes through here alone, so a faster engine
    // for bulk drops takes its place here.
    Avalanche dropOnce(std::int64_t limit);

    // Drops exactly `grains` grains, appending each avalanche; grains left
    // over after the last avalanche stay on the pile. Stops early, between
    // avalanches, when interrupted() says so, and then returns false.
    template <typename Interrupted>
    bool drop(std::int64_t grains, std::vector<Avalanche> &avalanches, Interrupted interrupted);

    // One counted grain; true when it set off an avalanche.
    bool add(std::int64_t row, std::int64_t column);
    // One parallel sweep of the avalanche in progress; returns its topplings.
    std::int64_t sweep();
    // The burning test; one mark per site, 1 for burnt.
    std::vector<std::uint8_t> burn();

private:
    void requireStable(const char *action) const;

    SandpileModel sandpile;
    AreaCounter counter;
    std::int64_t firstSeed;
    std::mutex busy;
};

template <typename Interrupted>
bool Pile::drop(std::int64_t grains, std::vector<Avalanche> &avalanches, Interrupted interrupted)
{
    requireStable("drop grains");
    std::int64_t work = 0;
    for (std::int64_t dropped = 0; dropped < grains;) {
        if (work >= WORK_BETWEEN_CHECKS) {
            work = 0;
            if (interrupted())
                return false;
        }
        const Avalanche avalanche = dropOnce(grains - dropped);
        dropped += avalanche.grains;
        work += avalanche.grains + avalanche.size;
        if (avalanche.size > 0)
            avalanches.push_back(avalanche);
    }
    return true;
}
