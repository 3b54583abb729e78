#include "arguments.h"
#include "bindings.h"
#include "pile.h"
#include "signalwatch.h"
#include "engine/startingpile.h"

#include <limits>
#include <optional>
#include <string>

namespace py = pybind11;

namespace {

// Runs `work` on the pile without the GIL, holding the pile's lock. The lock
// is taken only with the GIL released, so a thread waiting for the pile
// never blocks one that holds it and needs the GIL for a moment.
template <typename Work>
auto onPile(Pile &pile, Work work)
{
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(pile.mutex());
    return work();
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
    PYBIND11_NUMPY_DTYPE(Avalanche, site, grains, size, area, duration);
    py::class_<Pile>(module, "Sandpile", R"doc(A Bak-Tang-Wiesenfeld sandpile on an L x L lattice with open edges.

Sandpile(side, seed=1, start="window")

side   lattice side L, from MIN_SIDE to MAX_SIDE.
seed   seed of the pile's random source, from 1 to MAX_SEED; 1 is the window's.
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
thread's call waits for it.
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
                const Pile &pile = self.cast<const Pile &>();
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
        .def_property_readonly("side", [](Pile &pile) { return pile.model().side(); }, "The lattice side L.")
        .def_property_readonly("seed", &Pile::seed, "The seed the pile was made with.")
        .def_property_readonly(
            "grains", [](Pile &pile) { return onPile(pile, [&] { return pile.grainsAdded(); }); },
            "Grains added so far, by drop() and add().")
        .def_property_readonly(
            "mean_height", [](Pile &pile) { return onPile(pile, [&] { return pile.model().averageHeight(); }); },
            "The mean height <z>, from the sum the pile keeps as it changes.")
        .def_property_readonly(
            "avalanche_in_progress",
            [](Pile &pile) { return onPile(pile, [&] { return pile.model().avalancheInProgress(); }); },
            "Whether an avalanche started by add() awaits sweep().")
        .def_property_readonly(
            "avalanche_size", [](Pile &pile) { return onPile(pile, [&] { return pile.avalancheSize(); }); },
            "Topplings of the avalanche in progress so far, or of the last one.")
        .def_property_readonly(
            "largest_avalanche",
            [](Pile &pile) { return onPile(pile, [&] { return pile.largestAvalanche(); }); },
            "Topplings of the largest avalanche so far.")
        .def(
            "drop",
            [](Pile &pile, const py::object &grainsArgument) {
                const std::int64_t grains =
                    Arguments::integer(grainsArgument, "grains", 0, std::numeric_limits<std::int64_t>::max());
                std::vector<Avalanche> avalanches;
                SignalWatch watch;
                onPile(pile, [&] { return pile.drop(grains, avalanches, [&] { return watch.interrupted(); }); });
                watch.rethrow();
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

Ctrl-C stops between avalanches and raises KeyboardInterrupt; the pile is
left stable, with every grain dropped until then counted.
Raises RuntimeError while an avalanche started by add() is in progress.)doc")
        .def(
            "add",
            [](Pile &pile, const py::object &row, const py::object &column) {
                // Any whole number here: the pile tells a site outside it (IndexError).
                const auto low = std::numeric_limits<std::int64_t>::min();
                const auto high = std::numeric_limits<std::int64_t>::max();
                const std::int64_t r = Arguments::integer(row, "row", low, high);
                const std::int64_t c = Arguments::integer(column, "column", low, high);
                return onPile(pile, [&] { return pile.add(r, c); });
            },
            py::arg("row"), py::arg("column"), R"doc(Adds one grain at (row, column); returns True when it set off an avalanche.

The avalanche then advances one sweep() at a time. Raises IndexError for a
site outside the pile and RuntimeError while an avalanche is in progress.)doc")
        .def(
            "sweep", [](Pile &pile) { return onPile(pile, [&] { return pile.sweep(); }); }, R"doc(One parallel sweep of the avalanche in progress: every unstable site topples
once. Returns the sweep's topplings; avalanche_in_progress turns False after
the last one. Raises RuntimeError when no avalanche is in progress.)doc")
        .def(
            "burn",
            [](Pile &pile) {
                const py::ssize_t L = pile.model().side();
                return ownedArray(onPile(pile, [&] { return pile.burn(); }), py::dtype::of<bool>(), {L, L});
            },
            R"doc(The burning test (Dhar's algorithm) on a copy of the pile, which stays as it
is. Returns a boolean (L, L) array of the burnt sites: a stable pile is
recurrent, a pile of the steady state, exactly when every site burns.
Raises RuntimeError while an avalanche is in progress.)doc")
        .def("__repr__", [](Pile &pile) {
            const std::int64_t grains = onPile(pile, [&] { return pile.grainsAdded(); });
            return "Sandpile(side=" + std::to_string(pile.model().side()) + ", seed=" + std::to_string(pile.seed())
                   + ", grains=" + std::to_string(grains) + ")";
        });
}
