#include "arguments.h"
#include "bindings.h"
#include "measurement.h"
#include "signalwatch.h"
#include "engine/lattice.h"
#include "engine/startingpile.h"
#include "stats/exactvalues.h"
#include "stats/series.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <optional>

namespace py = pybind11;

// One value of a distribution and the avalanches that had it. (NumPy's
// dtype registration needs a name outside an anonymous namespace.)
struct DistributionCount {
    std::int64_t value;
    std::int64_t count;
};

namespace {

py::array distribution(const Histogram &histogram)
{
    std::vector<DistributionCount> counts;
    histogram.forEach([&](std::int64_t value, std::uint64_t count) { counts.push_back({value, std::int64_t(count)}); });
    const auto length = py::ssize_t(counts.size());
    return ownedArray(std::move(counts), py::dtype::of<DistributionCount>(), {length});
}

template <typename T, std::size_t N>
py::array arrayOf(const std::array<T, N> &values)
{
    return ownedArray(std::vector<T>(values.begin(), values.end()), py::dtype::of<T>(), {py::ssize_t(N)});
}

using Limits = Series::Settings;


std::vector<int> sidesFrom(const py::object &sizes)
{
    const auto side = [](py::handle value) {
        return int(Arguments::integer(value, "each size", Lattice::MIN_SIDE, Limits::MAX_SIDE));
    };
    // A NumPy array has __index__ too, but only one of no dimensions is a
    // single integer; a 1-D one is a sequence.
    const bool array = py::isinstance<py::array>(sizes);
    const py::ssize_t dimensions = array ? py::reinterpret_borrow<py::array>(sizes).ndim() : -1;
    if (dimensions == 0 || (!array && PyIndex_Check(sizes.ptr())))
        return {side(sizes)};
    if (dimensions > 1)
        throw py::type_error("sizes must be an integer or a sequence of integers, not a "
                             + std::to_string(dimensions) + "-D array");
    if (py::isinstance<py::str>(sizes) || !py::hasattr(sizes, "__iter__"))
        throw py::type_error("sizes must be an integer or a sequence of integers");
    std::vector<int> sides;
    for (py::handle value : sizes)
        sides.push_back(side(value));
    if (sides.empty())
        throw py::value_error("sizes must name at least one side");
    return sides;
}

Measurement measure(const py::object &sizes, const py::object &grains, const py::object &runs, const py::object &threads,
                    const py::object &seed, const py::object &start, const py::object &warmup,
                    const py::object &firstRun)
{
    Series::Settings settings;
    const std::string startName = Arguments::text(start, "start");
    const std::optional<StartingPile> pile = startingPileNamed(startName);
    if (!pile)
        throw py::value_error("start must be 'stationary' or 'window', not '" + startName + "'");
    settings.start = *pile;
    settings.sides = sidesFrom(sizes);
    settings.grains = Arguments::integer(grains, "grains", 1, Limits::MAX_COUNT);
    settings.runs = Arguments::integer(runs, "runs", 1, Limits::MAX_RUNS);
    settings.seed = Arguments::integer(seed, "seed", 1, Random::MODULUS - 1);
    settings.warmup = warmup.is_none() ? -1 : Arguments::integer(warmup, "warmup", 0, Limits::MAX_COUNT);
    settings.firstRun = Arguments::integer(firstRun, "first_run", 0, Limits::MAX_COUNT);
    const int wanted = int(Arguments::integer(threads, "threads", 0, Limits::MAX_THREADS));
    settings.threads = wanted > 0 ? wanted : Limits::allCores();
    if (const std::string fault = settings.fault(); !fault.empty())
        throw py::value_error(fault);

    SignalWatch watch;
    std::atomic<bool> stop{false};
    SeriesResult result;
    {
        py::gil_scoped_release release;
        // The progress call comes on this thread, a few times a second.
        result = Series::run(settings, &stop, [&](std::int64_t) {
            if (watch.interrupted())
                stop = true;
        });
    }
    watch.rethrow();
    return Measurement(settings, std::move(result));
}

} // namespace

void bindMeasure(py::module_ &module)
{
    PYBIND11_NUMPY_DTYPE(DistributionCount, value, count);
    py::class_<PowerLawFit> powerLaw(module, "PowerLawFit", R"doc(A discrete power law p(x) ~ x^-tau fitted by maximum likelihood over the
window xmin <= x <= xmax, as sandpile-stats fits it.)doc");
    powerLaw.def_readonly("xmin", &PowerLawFit::xmin, "The window's least value.")
        .def_readonly("xmax", &PowerLawFit::xmax, "The window's largest value.")
        .def_readonly("samples", &PowerLawFit::samples, "Avalanches inside the window.")
        .def_readonly("tau", &PowerLawFit::tau, "The exponent tau.")
        .def_readonly("error", &PowerLawFit::error, "The standard error of tau.")
        .def_readonly("valid", &PowerLawFit::valid, "Whether the window held enough distinct values to fit.")
        .def("__repr__", [](const PowerLawFit &fit) {
            return "PowerLawFit(tau=" + py::repr(py::float_(fit.tau)).cast<std::string>() + ", error="
                   + py::repr(py::float_(fit.error)).cast<std::string>() + ", xmin=" + std::to_string(fit.xmin)
                   + ", xmax=" + std::to_string(fit.xmax) + ", valid=" + (fit.valid ? "True" : "False") + ")";
        });

    using Side = Measurement::Side;
    py::class_<Side> side(module, "SideStatistics", R"doc(The statistics of one lattice side, every figure that sandpile-stats prints
for it, and the exact distributions they come from. A figure that cannot be
computed (an error from fewer than two blocks, say) is NaN.)doc");
    const auto figure = [&side](const char *name, auto member, const char *doc) {
        side.def_property_readonly(name, [member](const Side &s) { return s.summary.*member; }, doc);
    };
    figure("side", &SideSummary::side, "The lattice side L.");
    figure("warmup", &SideSummary::warmup, "Grains dropped unmeasured at the start of each run.");
    figure("runs", &SideSummary::runs, "Runs measured.");
    figure("interrupted", &SideSummary::interrupted, "Whether a run was cut short.");
    figure("grains", &SideSummary::grains, "Grains measured, all runs together.");
    figure("avalanches", &SideSummary::avalanches, "Avalanches measured.");
    figure("topplings", &SideSummary::topplings, "Topplings of all measured avalanches.");
    figure("topplings_per_grain", &SideSummary::topplingsPerGrain, "Mean topplings per grain.");
    figure("topplings_error", &SideSummary::topplingsError, "Its standard error, by batch means.");
    figure("blocks", &SideSummary::blocks, "Blocks of grains behind the standard error.");
    figure("exact_topplings_per_grain", &SideSummary::exactTopplings, "The exact steady-state value for L.");
    figure("piles", &SideSummary::piles, "Whole piles sampled for the heights.");
    figure("mean_height", &SideSummary::meanHeight, "Mean height over the sampled piles.");
    // Per observable: its largest value, its fit and its exact counts (the
    // docstrings are copied).
    constexpr const char *UNITS[Tally::OBSERVABLES] = {"topplings", "sites toppled", "sweeps"};
    for (std::size_t o = 0; o < Tally::OBSERVABLES; ++o) {
        const std::string name = Tally::OBSERVABLE_NAMES[o];
        side.def_property_readonly(("largest_" + name).c_str(), [o](const Side &s) { return s.summary.largest[o]; },
                                   ("The largest avalanche " + name + ", in " + UNITS[o] + ".").c_str());
        side.def_property_readonly((name + "_fit").c_str(), [o](const Side &s) { return s.summary.fits[o]; },
                                   ("PowerLawFit of the " + name + " distribution.").c_str());
        side.def_property_readonly(
            (name + "_distribution").c_str(), [o](const Side &s) { return distribution(s.tally.histograms[o]); },
            ("Exact counts of avalanche " + name + "s: a structured array (value, count), increasing values.").c_str());
    }
    side.def_property_readonly(
            "height_probability", [](const Side &s) { return arrayOf(s.summary.heightProbability); },
            "P(z) for z = 0..3 over the sampled piles, a float64 array.")
        .def_property_readonly(
            "height_counts", [](const Side &s) { return arrayOf(s.tally.heights); },
            "Sampled sites of each height z = 0..3, a uint64 array.")
        .def("__repr__", [](const Side &s) {
            return "<SideStatistics L=" + std::to_string(s.summary.side) + ", "
                   + std::to_string(s.summary.grains) + " grains>";
        });

    py::class_<Measurement> measurement(module, "Measurement", R"doc(What measure() found: per side a SideStatistics, and the report that
sandpile-stats prints for the same series (also str() of this object).)doc");
    measurement.def_readonly("seed", &Measurement::seed, "The series' seed.")
        .def_readonly("grains_per_run", &Measurement::grainsPerRun, "Grains measured per run, as asked.")
        .def_readonly("runs", &Measurement::runs, "The indices of the runs, a list.")
        .def_readonly("interrupted", &Measurement::interrupted, "Whether a run was cut short.")
        .def_readonly("report", &Measurement::report, "The report, as sandpile-stats prints it.")
        .def_readonly("sides", &Measurement::sides, "A SideStatistics per side, in the order asked for.")
        .def("__str__", [](const Measurement &m) { return m.report; });
    onlyMadeByTheModule(powerLaw);
    onlyMadeByTheModule(side);
    onlyMadeByTheModule(measurement);

    // The defaults are the series' own.
    const Series::Settings defaults;
    module.def("measure", &measure, py::arg("sizes") = defaults.sides.front(), py::arg("grains") = defaults.grains,
               py::arg("runs") = defaults.runs, py::arg("threads") = 0, py::arg("seed") = defaults.seed,
               py::arg("start") = startingPileName(defaults.start), py::arg("warmup") = py::none(),
               py::arg("first_run") = defaults.firstRun, R"doc(Measures what sandpile-stats measures, on the same engine, and returns a
Measurement: the same numbers the tool prints for the same arguments.

sizes      a lattice side or a list of them, each from 2 to MAX_MEASURED_SIDE
grains     grains measured per run (sandpile-stats --grains)
runs       independent runs per side (--runs)
threads    runs measured in parallel; 0: all cores (--threads)
seed       seed of run 0, from 1 to MAX_SEED (--seed); later runs hash it.
           Run 0 uses it as it is, so consecutive seeds start correlated:
           for independent ensembles take more runs or another first_run.
start      each run's starting pile (--start): "stationary", an exact
           sample of the steady state, or "window", the window's random pile
warmup     grains dropped unmeasured first; None: none from "stationary",
           2 L^2 from "window" (--warmup)
first_run  the index of the first run (--first-run)

Runs without the GIL. Ctrl-C stops every run at its next avalanche and
raises KeyboardInterrupt.)doc");

    module.def(
        "exact_topplings_per_grain",
        [](const py::object &side) {
            const int L = int(Arguments::integer(side, "side", Lattice::MIN_SIDE, Lattice::MAX_SIDE));
            py::gil_scoped_release release;
            return ExactValues::topplingsPerGrain(L);
        },
        py::arg("side"), R"doc(The exact mean number of topplings per grain in the steady state of an
L x L pile with open edges: the mean row sum of the lattice Green's
function. 0.5 at L = 2, 801.2796 at L = 149.)doc");
    module.def(
        "exact_height_probabilities",
        [] {
            std::array<double, 4> p{};
            for (int z = 0; z < 4; ++z)
                p[std::size_t(z)] = ExactValues::heightProbability(z);
            return arrayOf(p);
        },
        "P(z) for z = 0..3 in the steady state of the infinite lattice, a float64 array; the mean is 17/8.");
}
