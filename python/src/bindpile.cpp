#include "arguments.h"
#include "bindings.h"
#include "pile.h"
#include "signalwatch.h"
#include "engine/startingpile.h"

#include <chrono>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace py = pybind11;

// What drop() raises when cancel() stopped it.
struct DropCancelled : std::runtime_error {
    DropCancelled()
        : std::runtime_error("drop() cancelled: the pile is stable, with every grain dropped until then counted")
    {
    }
};

namespace {

// How long a caller waits for a busy pile between looks at Ctrl-C.
constexpr std::chrono::milliseconds WAIT_BETWEEN_CHECKS{20};

// The pile of a Sandpile object. Sandpile.__new__(Sandpile) alone makes an
// object with no pile in it (pybind11 would hand out unconstructed memory):
// every use of one raises instead.
Pile &pileOf(const py::handle &self)
{
    if (!py::isinstance<Pile>(self))
        throw py::type_error(std::string("a Sandpile method needs a Sandpile, not ") + Py_TYPE(self.ptr())->tp_name);
    const auto held = reinterpret_cast<py::detail::instance *>(self.ptr())
                          ->get_value_and_holder(py::detail::get_type_info(typeid(Pile)));
    if (!held.holder_constructed())
        throw py::type_error("this Sandpile was never initialised: make piles with Sandpile(side, seed, start)");
    return *held.value_ptr<Pile>();
}

// Runs `work` on the pile without the GIL, holding the pile's lock. The lock
// is taken only with the GIL released, so a thread waiting for the pile
// never blocks one that holds it and needs the GIL for a moment. While the
// pile is busy the caller looks at Ctrl-C now and then: a wait cut short
// raises what the signal handler raised (KeyboardInterrupt).
template <typename Work>
auto onPile(const py::handle &self, SignalWatch &watch, Work work)
{
    Pile &pile = pileOf(self);
    std::optional<decltype(work(pile))> result;
    {
        py::gil_scoped_release release;
        std::unique_lock<std::timed_mutex> lock(pile.mutex(), std::defer_lock);
        while (!lock.try_lock_for(WAIT_BETWEEN_CHECKS))
            if (watch.interrupted())
                break;
        if (lock.owns_lock())
            result.emplace(work(pile));
    }
    watch.rethrow();
    return std::move(*result);
}

template <typename Work>
auto onPile(const py::handle &self, Work work)
{
    SignalWatch watch;
    return onPile(self, watch, work);
}

// The names sandpile-stats gives its starting piles, and "empty".
Pile::Start startNamed(const py::handle &start)
{
    const std::string name = Arguments::text(start, "start");
    if (name == "empty")
        return Pile::Start::Empty;
    if (const std::optional<StartingPile> pile = startingPileNamed(name))
        return *pile == StartingPile::Stationary ? Pile::Start::Stationary : Pile::Start::Window;
    throw py::value_error("start must be 'window', 'stationary' or 'empty', not '" + name + "'");
}

} // namespace

void bindPile(py::module_ &module)
{
    py::register_exception<DropCancelled>(module, "Cancelled", PyExc_RuntimeError);
    PYBIND11_NUMPY_DTYPE(Avalanche, site, grains, size, area, duration);
    py::class_<Pile>(module, "Sandpile", R"doc(A Bak-Tang-Wiesenfeld sandpile on an L x L lattice with open edges.

Sandpile(side, seed=1, start="window")

side   lattice side L, from MIN_SIDE to MAX_SIDE.
seed   seed of the pile's random source, from 1 to MAX_SEED; 1 is the window's.
       Used as it is: consecutive seeds start correlated (the generator's
       first draw is proportional to the seed), so for independent piles
       take seeds far apart, such as measure()'s hashed run seeds.
start  "window": the window's starting pile, heights uniform in 0..3 drawn
       from the random source, some 2 L^2 grains from the steady state;
       "stationary": an exact sample of the steady state, laid from the
       seed (sandpile-stats' default start); "empty": every height 0.
       The names are sandpile-stats' --start names.

Grains dropped with drop() fall on random sites exactly as in the window's
"run free" style and in sandpile-stats: the same seed gives the same
avalanches. add() and sweep() step one avalanche by hand.

The long calls (drop, burn, the constructor) release the GIL, so piles run
in parallel on several threads. A pile serves one call at a time: a second
thread's call waits for it, and Ctrl-C ends the wait with KeyboardInterrupt.
cancel() stops a drop() running on another thread.

Memory: about 21 bytes a site, measured as peak resident memory (some
90 MB at L = 2048, 1.4 GB at 8192): the engine's SandpileModel, which holds
the pile of record behind the int32 heights view, and beside it the
byte-height measuring pile of sandpile-stats (7 bytes a site) that drop()
runs on. burn() takes about 12 bytes a site more while it runs.
)doc")
        .def(py::init([](const py::object &side, const py::object &seed, const py::object &start) {
                 const int L = int(Arguments::integer(side, "side", Lattice::MIN_SIDE, Lattice::MAX_SIDE));
                 const std::int64_t s = Arguments::integer(seed, "seed", 1, Random::MODULUS - 1);
                 const Pile::Start how = startNamed(start);
                 py::gil_scoped_release release;
                 return std::make_unique<Pile>(L, s, how);
             }),
             py::arg("side"), py::arg("seed") = Random::DEFAULT_SEED,
             py::arg("start") = startingPileName(StartingPile::Window),
             "Makes a pile of side L from a seed and a start: see Sandpile.")
        .def_property_readonly(
            "heights",
            [](const py::object &self) {
                const Pile &pile = pileOf(self);
                const py::ssize_t L = pile.model().side();
                // The model's height vector keeps its storage for the pile's
                // whole life (nothing here replaces it), and the view holds
                // the pile alive through its base.
                py::array_t<int> view({L, L}, {py::ssize_t(sizeof(int)) * L, py::ssize_t(sizeof(int))},
                                      pile.model().z().data(), self);
                view.attr("setflags")(py::arg("write") = false);
                return view;
            },
            R"doc(The heights z as a read-only (L, L) int32 NumPy view of the pile itself, no copy.

It follows the pile as it changes and keeps the pile alive. Row 0 is the top.)doc")
        .def_property_readonly(
            "side", [](const py::object &self) { return pileOf(self).model().side(); }, "The lattice side L.")
        .def_property_readonly(
            "seed", [](const py::object &self) { return pileOf(self).seed(); }, "The seed the pile was made with.")
        .def_property_readonly(
            "grains", [](const py::object &self) { return onPile(self, [](Pile &pile) { return pile.grainsAdded(); }); },
            "Grains added so far, by drop() and add().")
        .def_property_readonly(
            "mean_height",
            [](const py::object &self) { return onPile(self, [](Pile &pile) { return pile.model().averageHeight(); }); },
            "The mean height <z>, from the sum the pile keeps as it changes.")
        .def_property_readonly(
            "avalanche_in_progress",
            [](const py::object &self) {
                return onPile(self, [](Pile &pile) { return pile.model().avalancheInProgress(); });
            },
            "Whether an avalanche started by add() awaits sweep().")
        .def_property_readonly(
            "avalanche_size",
            [](const py::object &self) { return onPile(self, [](Pile &pile) { return pile.avalancheSize(); }); },
            "Topplings of the avalanche in progress so far, or of the last one.")
        .def_property_readonly(
            "largest_avalanche",
            [](const py::object &self) { return onPile(self, [](Pile &pile) { return pile.largestAvalanche(); }); },
            "Topplings of the largest avalanche so far.")
        .def(
            "drop",
            [](const py::object &self, const py::object &grainsArgument) {
                const std::int64_t grains =
                    Arguments::integer(grainsArgument, "grains", 0, std::numeric_limits<std::int64_t>::max());
                std::vector<Avalanche> avalanches;
                SignalWatch watch;
                const bool whole = onPile(self, watch, [&](Pile &pile) {
                    return pile.drop(grains, avalanches, [&] { return pile.cancelRequested() || watch.interrupted(); });
                });
                if (!whole)
                    throw DropCancelled();
                const auto count = py::ssize_t(avalanches.size());
                return ownedArray(std::move(avalanches), py::dtype::of<Avalanche>(), {count});
            },
            py::arg("grains"), R"doc(Drops exactly `grains` grains on random sites, relaxing every avalanche fully.

Returns a NumPy structured array, one record per avalanche in order, with
the int64 fields:
  site      row * L + column of the grain that set it off
  grains    grains that fell since the previous avalanche (in this call)
  size      topplings
  area      distinct sites toppled
  duration  parallel sweeps
Grains that fell after the last avalanche stay on the pile and count
towards the next one, so drop(a) then drop(b) sees the avalanches of
drop(a + b). Each record takes 40 bytes; a pile in its steady state makes
about one avalanche for every two grains.

Ctrl-C stops between avalanches and raises KeyboardInterrupt, and so does
Ctrl-C while the call waits for a pile busy on another thread; cancel(),
from another thread, stops it between avalanches too and raises Cancelled.
Either way the pile is left stable, with every grain dropped until then
counted, and the records of the call are lost.
Raises RuntimeError while an avalanche started by add() is in progress.)doc")
        .def(
            "cancel", [](const py::object &self) { pileOf(self).cancel(); },
            R"doc(Stops the drop() running on this pile in another thread at its next check
(between avalanches, as Ctrl-C does), and it raises Cancelled. Returns at
once, without waiting for it. With no drop() running, the next drop() on
the pile is the one stopped, before its first grain.)doc")
        .def(
            "add",
            [](const py::object &self, const py::object &row, const py::object &column) {
                // Any whole number here: the pile tells a site outside it (IndexError).
                const auto low = std::numeric_limits<std::int64_t>::min();
                const auto high = std::numeric_limits<std::int64_t>::max();
                const std::int64_t r = Arguments::integer(row, "row", low, high);
                const std::int64_t c = Arguments::integer(column, "column", low, high);
                return onPile(self, [&](Pile &pile) { return pile.add(r, c); });
            },
            py::arg("row"), py::arg("column"), R"doc(Adds one grain at (row, column); returns True when it set off an avalanche.

The avalanche then advances one sweep() at a time. Raises IndexError for a
site outside the pile and RuntimeError while an avalanche is in progress.)doc")
        .def(
            "sweep", [](const py::object &self) { return onPile(self, [](Pile &pile) { return pile.sweep(); }); },
            R"doc(One parallel sweep of the avalanche in progress: every unstable site topples
once. Returns the sweep's topplings; avalanche_in_progress turns False after
the last one. Raises RuntimeError when no avalanche is in progress.)doc")
        .def(
            "burn",
            [](const py::object &self) {
                const py::ssize_t L = pileOf(self).model().side();
                return ownedArray(onPile(self, [](Pile &pile) { return pile.burn(); }), py::dtype::of<bool>(), {L, L});
            },
            R"doc(The burning test (Dhar's algorithm) on a copy of the pile, which stays as it
is. Returns a boolean (L, L) array of the burnt sites: a stable pile is
recurrent, a pile of the steady state, exactly when every site burns.
Raises RuntimeError while an avalanche is in progress.)doc")
        .def("__repr__", [](const py::object &self) {
            const Pile &pile = pileOf(self);
            const std::int64_t grains = onPile(self, [](Pile &p) { return p.grainsAdded(); });
            return "Sandpile(side=" + std::to_string(pile.model().side()) + ", seed=" + std::to_string(pile.seed())
                   + ", grains=" + std::to_string(grains) + ")";
        });
}
