#include "arguments.h"
#include "bindings.h"
#include "commandline.h"
#include "signalwatch.h"
#include "engine/pilebuilder.h"
#include "palette/palette.h"
#include "pile/zoomfolder.h"

#include <pybind11/stl.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace py = pybind11;

namespace {

// Builds a pile without the GIL; Ctrl-C stops it with KeyboardInterrupt.
// The builder's refusals come out as ValueError (PileLimits::Fault) and
// MemoryError (PileLimits::OutOfMemory, any std::bad_alloc).
template <typename Build>
StablePile built(bool odometer, Build build)
{
    SignalWatch watch;
    PileBuilder::Settings settings;
    settings.odometer = odometer;
    settings.threads = CommandLine::defaultThreads();
    settings.stop = [&] { return watch.interrupted(); };
    try {
        py::gil_scoped_release release;
        return build(settings);
    } catch (const LeastAction::Stopped &) {
    }
    watch.rethrow();
    throw std::runtime_error("interrupted");   // not reached: the watch raised
}

// A read-only view of one of the pile's arrays, which keeps the pile alive.
template <typename T>
py::object view(const py::object &self, const StablePile &pile, const std::vector<T> &values)
{
    py::array_t<T> array({py::ssize_t(pile.height), py::ssize_t(pile.width)}, values.data(), self);
    array.attr("setflags")(py::arg("write") = false);
    return array;
}

// What pickling keeps: every field, the arrays as bytes.
py::tuple stateOf(const StablePile &pile)
{
    const auto bytes = [](const auto &values) {
        return py::bytes(reinterpret_cast<const char *>(values.data()), values.size() * sizeof(values[0]));
    };
    return py::make_tuple(pile.width, pile.height, bytes(pile.heights), bytes(pile.odometer), pile.grains,
                          pile.grainsLost, pile.topplings, pile.centreTopplings,
                          std::vector<std::int64_t>(pile.sitesOfHeight.begin(), pile.sitesOfHeight.end()),
                          pile.toppledSites, pile.burningPasses, pile.checks);
}

StablePile fromState(const py::tuple &state)
{
    if (state.size() != 12)
        throw py::value_error("not the state of a StablePile");
    StablePile pile;
    pile.width = state[0].cast<int>();
    pile.height = state[1].cast<int>();
    const std::string heights = state[2].cast<std::string>(), odometer = state[3].cast<std::string>();
    const std::size_t sites = std::size_t(pile.width) * std::size_t(pile.height);
    const auto sites4 = state[8].cast<std::vector<std::int64_t>>();
    if (pile.width < 1 || pile.height < 1 || heights.size() != sites
        || (odometer.size() != 0 && odometer.size() != sites * sizeof(std::int64_t)) || sites4.size() != 4)
        throw py::value_error("not the state of a StablePile");
    pile.heights.assign(heights.begin(), heights.end());
    pile.odometer.resize(odometer.size() / sizeof(std::int64_t));
    std::copy(odometer.begin(), odometer.end(), reinterpret_cast<char *>(pile.odometer.data()));
    pile.grains = state[4].cast<std::int64_t>();
    pile.grainsLost = state[5].cast<std::int64_t>();
    pile.topplings = state[6].cast<std::int64_t>();
    pile.centreTopplings = state[7].cast<std::int64_t>();
    std::copy(sites4.begin(), sites4.end(), pile.sitesOfHeight.begin());
    pile.toppledSites = state[9].cast<std::int64_t>();
    pile.burningPasses = state[10].cast<int>();
    pile.checks = state[11].cast<std::vector<std::string>>();
    return pile;
}

// The heights of a pile given to stabilise(), checked and then copied once,
// straight into the builder's int64 layout: the memory is checked before.
std::vector<std::int64_t> heightsFrom(const py::object &heights, bool odometer, int &rows, int &columns)
{
    const py::module_ numpy = py::module_::import("numpy");
    if (py::isinstance(heights, numpy.attr("ma").attr("MaskedArray")))
        throw py::type_error("heights must be a plain array, not a masked one: fill its masked sites first");
    const auto array = py::array::ensure(heights);
    if (!array || array.ndim() != 2 || !(array.dtype().kind() == 'i' || array.dtype().kind() == 'u' || array.dtype().kind() == 'b'))
        throw py::type_error("heights must be a 2-D array of integers");
    PileLimits::checkSides(array.shape(1), array.shape(0));
    rows = int(array.shape(0));
    columns = int(array.shape(1));
    PileLimits::checkMemory(PileBuilder::pileBytes(columns, rows, odometer));
    if (array.dtype().kind() == 'u' && array.dtype().itemsize() == 8
        && numpy.attr("any")(array.attr("__gt__")(numpy.attr("uint64")(INT64_MAX))).cast<bool>())
        throw py::value_error("a height is above 2^63 - 1");
    std::vector<std::int64_t> pile(std::size_t(rows) * std::size_t(columns));
    const py::array_t<std::int64_t> target({py::ssize_t(rows), py::ssize_t(columns)}, pile.data(),
                                           py::capsule(pile.data(), [](void *) {}));
    numpy.attr("copyto")(target, array, py::arg("casting") = "unsafe");
    return pile;
}

} // namespace

void bindBigPile(py::module_ &module)
{
    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised)
                std::rethrow_exception(raised);
        } catch (const PileLimits::OutOfMemory &error) {
            PyErr_SetString(PyExc_MemoryError, error.what());
        }
    });

    py::class_<StablePile> stablePile(module, "StablePile", R"doc(A stable pile on its whole lattice, and what its stabilisation did.

heights           read-only 2-D uint8 view, each 0..3, rows of the pile
odometer          read-only 2-D int64 view: each site's topplings, or None unless asked for
grains            grains the stable pile holds
grains_lost       grains given across the edge
topplings         topplings in all
centre_topplings  topplings of the site (rows // 2, columns // 2)
sites_of_height   the number of sites of height 0, 1, 2 and 3
checks            the exact checks the pile passed, one sentence each

All counts are exact Python integers. Sides are told as rows x columns,
the order of the arrays' shape. A StablePile can be pickled and copied, so
it can come back from another process.)doc");
    onlyMadeByTheModule(stablePile);
    stablePile
        .def_property_readonly("heights",
                               [](const py::object &self) {
                                   const StablePile &pile = self.cast<const StablePile &>();
                                   return view(self, pile, pile.heights);
                               })
        .def_property_readonly("odometer",
                               [](const py::object &self) -> py::object {
                                   const StablePile &pile = self.cast<const StablePile &>();
                                   if (pile.odometer.empty())
                                       return py::none();
                                   return view(self, pile, pile.odometer);
                               })
        .def_readonly("grains", &StablePile::grains)
        .def_readonly("grains_lost", &StablePile::grainsLost)
        .def_readonly("topplings", &StablePile::topplings)
        .def_readonly("centre_topplings", &StablePile::centreTopplings)
        .def_property_readonly("sites_of_height",
                               [](const StablePile &pile) { return py::make_tuple(pile.sitesOfHeight[0], pile.sitesOfHeight[1], pile.sitesOfHeight[2], pile.sitesOfHeight[3]); })
        .def_readonly("checks", &StablePile::checks)
        .def("__reduce__",
             [](const StablePile &pile) {
                 // A Python function, which pickle names rather than copies.
                 const py::object rebuild = py::module_::import("btwsandpile").attr("_stable_pile");
                 return py::make_tuple(rebuild, py::make_tuple(stateOf(pile)));
             })
        .def(
            "write_zoom",
            [](const StablePile &pile, const py::object &folder, const std::string &palette) {
                const py::object path = py::module_::import("os").attr("fspath")(folder);
                if (!py::isinstance<py::str>(path))
                    throw py::type_error("folder must be a str or os.PathLike of str");
                if (!Palette::has(palette))
                    throw py::value_error("palette must be one of " + py::str(py::cast(Palette::names())).cast<std::string>());
                const std::string name = path.cast<std::string>();
                PileLimits::checkMemory(ZoomFolder::bytes(pile.width, pile.height));   // else MemoryError
                SignalWatch watch;
                try {
                    py::gil_scoped_release release;
                    ZoomFolder::write(name, pile.heights.data(), pile.width, pile.height, palette,
                                      [&] { return watch.interrupted(); },
                                      CommandLine::defaultThreads());
                    return;
                } catch (const LeastAction::Stopped &) {
                } catch (const std::invalid_argument &) {
                    throw;   // ValueError
                } catch (const std::runtime_error &error) {
                    PyErr_SetString(PyExc_OSError, error.what());
                    throw py::error_already_set();
                }
                watch.rethrow();
            },
            py::arg("folder"), py::arg("palette") = "window",
            R"doc(Writes a folder that shows the pile zoomable in a web browser.

The folder holds index.html, which opens from the folder itself (file://)
or from any static web server: pan, zoom in to 8 x 8 screen pixels a site,
the site under the pointer and its height, a scale bar in sites. The
picture is a pyramid of 256 x 256 PNG tiles, each level half the last; a
pixel of a zoomed-out level shows the mean height of its sites through the
palette ("window", "print", "heat" or "sea"). Tiles alike are written
once. The folder is written whole or not at all, and replaces only a zoom
folder written before: any other existing folder raises ValueError. Raises
OSError when it cannot be written. Releases the GIL; Ctrl-C raises
KeyboardInterrupt and leaves nothing.)doc")
        .def("__repr__", [](const StablePile &pile) {
            return "<StablePile " + std::to_string(pile.height) + " x " + std::to_string(pile.width) + ", "
                   + std::to_string(pile.grains) + " grains, " + std::to_string(pile.topplings) + " topplings>";
        });
    module.def("_stable_pile", &fromState, "Rebuilds a pickled StablePile.");

    module.def(
        "centre_pile",
        [](const py::object &grains, const py::object &odometer) {
            const auto n = std::uint64_t(Arguments::integer(grains, "n", 0, std::int64_t(PileBuilder::MAX_CENTRE_GRAINS)));
            const bool keep = Arguments::flag(odometer, "odometer");
            return built(keep, [&](const PileBuilder::Settings &settings) { return PileBuilder::centre(n, settings); });
        },
        py::arg("n"), py::arg("odometer") = false,
        R"doc(The pile left by n grains dropped on one site of the unbounded lattice.

n from 0 to 2^32. The pile comes on the smallest centred square that holds
every grain, its centre site at (side // 2, side // 2); no grain is lost.
Returns a StablePile, certified exact. Raises MemoryError when the machine
(its free memory, the address-space limit, the control group's limit)
cannot hold it. Releases the GIL; Ctrl-C raises KeyboardInterrupt.)doc");

    module.def(
        "identity",
        [](const py::object &side, const py::object &odometer) {
            const int L = int(Arguments::integer(side, "side", 1, PileBuilder::MAX_SIDE));
            const bool keep = Arguments::flag(odometer, "odometer");
            return built(keep, [&](const PileBuilder::Settings &settings) { return PileBuilder::identity(L, settings); });
        },
        py::arg("side"), py::arg("odometer") = false,
        R"doc(The identity element of the group of the side x side pile with open edges.

side from 1 to MAX_PILE_SIDE. Returns a StablePile, certified exact and
recurrent; grains_lost and topplings are those of the stabilisation that
made it, from the pile of 4 grains a site plus the edges' extra (see
sandpile-pile(1)). Raises MemoryError when the machine cannot hold it.
Releases the GIL; Ctrl-C raises KeyboardInterrupt.)doc");

    module.def(
        "stabilise",
        [](const py::object &heights, const py::object &odometer) {
            const bool keep = Arguments::flag(odometer, "odometer");
            int rows = 0, columns = 0;
            const std::vector<std::int64_t> pile = heightsFrom(heights, keep, rows, columns);
            return built(keep, [&](const PileBuilder::Settings &settings) {
                return PileBuilder::stabilise(columns, rows, pile, settings);
            });
        },
        py::arg("heights"), py::arg("odometer") = false,
        R"doc(Stabilises any pile: a 2-D array of integers at least 0, with open edges.

Topples every site holding 4 grains or more until none is left, exactly,
and returns a StablePile; with odometer=True it holds each site's
topplings too. Masked arrays are refused. The memory is checked before the
heights are copied, once. Raises MemoryError when the machine cannot hold
the pile. Releases the GIL; Ctrl-C raises KeyboardInterrupt.)doc");

    module.attr("MAX_CENTRE_GRAINS") = PileBuilder::MAX_CENTRE_GRAINS;
    module.attr("MAX_PILE_SIDE") = PileBuilder::MAX_SIDE;
}
