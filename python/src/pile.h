#pragma once

#include "avalanche.h"
#include "engine/measuringpile.h"
#include "engine/sandpilemodel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

// The pile behind btwsandpile.Sandpile: the engine's SandpileModel, driven
// as the window's "run free" style drives it, plain C++ with no Python in
// it. Between calls the pile is stable, unless an avalanche started by add()
// is in progress; its front then lists every unstable site, and only
// sweep() may touch the pile until it ends. Calls that would break this
// throw std::logic_error; bad sites throw std::out_of_range.
//
// The model holds the pile of record (its heights are what Python sees).
// Bulk drops run on a MeasuringPile at full speed: drop() hands it the
// model's heights and random state, and takes them back when it returns,
// however it returns. The model does not count those grains and
// avalanches, so the pile counts them itself.
class Pile
{
public:
    enum class Start { Window, Stationary, Empty };

    // Drops check `interrupted` after about this much work (grains plus
    // topplings, some ten milliseconds), always between avalanches.
    static constexpr std::int64_t WORK_BETWEEN_CHECKS = 1 << 22;

    // Throws std::invalid_argument for a side the lattice cannot hold.
    Pile(int side, std::int64_t seed, Start start);

    const SandpileModel &model() const { return sandpile; }
    std::int64_t seed() const { return firstSeed; }
    // Held by whoever calls the pile; a pile serves one caller at a time.
    // Timed, so that a caller waiting for it can look up now and then.
    std::timed_mutex &mutex() { return busy; }

    // Asks the drop in progress, or else the next one, to stop at its next
    // check: from any thread, without the pile's lock. The drop that
    // honours it clears it (cancelRequested() then returns true once).
    void cancel() { cancelling.store(true, std::memory_order_relaxed); }
    bool cancelRequested() { return cancelling.exchange(false, std::memory_order_relaxed); }

    // The counters of drop() and add() together.
    std::int64_t grainsAdded() const { return sandpile.grainsAdded() + droppedGrains; }
    // Topplings of the avalanche in progress so far, or of the last one.
    std::int64_t avalancheSize() const { return lastDropped.value_or(sandpile.avalancheSize()); }
    std::int64_t largestAvalanche() const { return std::max(sandpile.largestAvalanche(), largestDropped); }

    // Drops exactly `grains` grains, appending each avalanche; grains left
    // over after the last avalanche stay on the pile. Stops early, between
    // avalanches, when interrupted() says so, and then returns false; it is
    // asked before the first grain too.
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

    // The measuring pile takes over the model's pile and random state, and
    // hands them back: a bulk drop runs between the two.
    void lendPile();
    void takePileBack();
    // The one way grains fall in bulk, on the measuring pile: random grains
    // until one sets off an avalanche or `limit` grains fell, then that
    // avalanche relaxed fully; site -1 and size 0 without an avalanche.
    Avalanche dropOnce(std::int64_t limit);

    SandpileModel sandpile;
    MeasuringPile measuring;
    std::int64_t droppedGrains = 0;
    std::int64_t largestDropped = 0;
    std::optional<std::int64_t> lastDropped;   // unset once add() starts an avalanche
    std::int64_t firstSeed;
    std::timed_mutex busy;
    std::atomic<bool> cancelling{false};
};

template <typename Interrupted>
bool Pile::drop(std::int64_t grains, std::vector<Avalanche> &avalanches, Interrupted interrupted)
{
    requireStable("drop grains");
    lendPile();
    // Whatever ends the loop (an interruption, no memory for a record), the
    // model gets the pile back as it stands: stable, every grain counted.
    struct Return {
        Pile &pile;
        ~Return() { pile.takePileBack(); }
    } giveBack{*this};
    std::int64_t work = WORK_BETWEEN_CHECKS;   // a stop asked for before the call counts
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
