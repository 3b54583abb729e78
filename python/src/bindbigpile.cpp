#include "arguments.h"
#include "bindings.h"
#include "signalwatch.h"
#include "engine/pilebuilder.h"
#include "pile/palette.h"
#include "pile/zoomfolder.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

namespace py = pybind11;

namespace {

// Builds a pile without the GIL; Ctrl-C stops it with KeyboardInterrupt.
template <typename Build>
StablePile built(bool odometer, const std::string &bytesFault, Build build)
{
    if (!bytesFault.empty())
        throw py::value_error(bytesFault);   // MemoryError would suggest a failed allocation
    SignalWatch watch;
    PileBuilder::Settings settings;
    settings.odometer = odometer;
    settings.threads = int(std::max(1u, std::thread::hardware_concurrency()));
    settings.stop = [&] { return watch.interrupted(); };
    try {
        py::gil_scoped_release release;
        return build(settings);
    } catch (const LeastAction::Stopped &) {
    }
    watch.rethrow();
    throw std::runtime_error("interrupted");   // not reached: the watch raised
}

} // namespace

void bindBigPile(py::module_ &module)
{
    py::class_<StablePile> stablePile(module, "StablePile", R"doc(A stable pile on its whole lattice, and what its stabilisation did.

heights           2-D uint8 array, each 0..3, rows of the pile
odometer          2-D int64 array: each site's topplings, or None unless asked for
grains            grains the stable pile holds
grains_lost       grains given across the edge
topplings         topplings in all
centre_topplings  topplings of the site (rows // 2, columns // 2)
sites_of_height   the number of sites of height 0, 1, 2 and 3
checks            the exact checks the pile passed, one sentence each

All counts are exact Python integers.)doc");
    onlyMadeByTheModule(stablePile);
    stablePile.def_property_readonly("heights",
                               [](StablePile &pile) {
                                   return py::array_t<std::uint8_t>({pile.height, pile.width}, pile.heights.data());
                               })
        .def_property_readonly("odometer",
                               [](StablePile &pile) -> py::object {
                                   if (pile.odometer.empty())
                                       return py::none();
                                   return py::array_t<std::int64_t>({pile.height, pile.width}, pile.odometer.data());
                               })
        .def_readonly("grains", &StablePile::grains)
        .def_readonly("grains_lost", &StablePile::grainsLost)
        .def_readonly("topplings", &StablePile::topplings)
        .def_readonly("centre_topplings", &StablePile::centreTopplings)
        .def_property_readonly("sites_of_height",
                               [](const StablePile &pile) { return py::make_tuple(pile.sitesOfHeight[0], pile.sitesOfHeight[1], pile.sitesOfHeight[2], pile.sitesOfHeight[3]); })
        .def_readonly("checks", &StablePile::checks)
        .def(
            "write_zoom",
            [](const StablePile &pile, const py::object &folder, const std::string &palette) {
                const py::object path = py::module_::import("os").attr("fspath")(folder);
                if (!py::isinstance<py::str>(path))
                    throw py::type_error("folder must be a str or os.PathLike of str");
                if (!Palette::has(palette))
                    throw py::value_error("palette must be one of " + py::str(py::cast(Palette::names())).cast<std::string>());
                const std::string name = path.cast<std::string>();
                if (const std::string fault = PileBuilder::memoryFault(ZoomFolder::bytes(pile.width, pile.height)); !fault.empty())
                    throw py::value_error(fault);
                SignalWatch watch;
                try {
                    py::gil_scoped_release release;
                    ZoomFolder::write(name, pile.heights.data(), pile.width, pile.height, palette,
                                      [&] { return watch.interrupted(); },
                                      int(std::max(1u, std::thread::hardware_concurrency())));
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
            return "<StablePile " + std::to_string(pile.width) + " x " + std::to_string(pile.height) + ", "
                   + std::to_string(pile.grains) + " grains, " + std::to_string(pile.topplings) + " topplings>";
        });

    module.def(
        "centre_pile",
        [](const py::object &grains, bool odometer) {
            const auto n = std::uint64_t(Arguments::integer(grains, "n", 0, std::int64_t(PileBuilder::MAX_CENTRE_GRAINS)));
            return built(odometer, PileBuilder::memoryFault(PileBuilder::centreBytes(n, odometer)),
                         [&](const PileBuilder::Settings &settings) { return PileBuilder::centre(n, settings); });
        },
        py::arg("n"), py::arg("odometer") = false,
        R"doc(The pile left by n grains dropped on one site of the unbounded lattice.

n from 0 to 2^32. The pile comes on the smallest centred square that holds
every grain, its centre site at (side // 2, side // 2); no grain is lost.
Returns a StablePile, certified exact. Releases the GIL; Ctrl-C raises
KeyboardInterrupt.)doc");

    module.def(
        "identity",
        [](const py::object &side, bool odometer) {
            const int L = int(Arguments::integer(side, "side", 1, PileBuilder::MAX_SIDE));
            return built(odometer, PileBuilder::memoryFault(PileBuilder::identityBytes(L, odometer)),
                         [&](const PileBuilder::Settings &settings) { return PileBuilder::identity(L, settings); });
        },
        py::arg("side"), py::arg("odometer") = false,
        R"doc(The identity element of the group of the side x side pile with open edges.

side from 1 to MAX_PILE_SIDE. Returns a StablePile, certified exact and
recurrent. Releases the GIL; Ctrl-C raises KeyboardInterrupt.)doc");

    module.def(
        "stabilise",
        [](const py::object &heights, bool odometer) {
            const auto array = py::array::ensure(heights);
            if (!array || array.ndim() != 2 || !(array.dtype().kind() == 'i' || array.dtype().kind() == 'u' || array.dtype().kind() == 'b'))
                throw py::type_error("heights must be a 2-D array of integers");
            if (array.dtype().kind() == 'u' && array.dtype().itemsize() == 8) {
                const auto wide = py::array_t<std::uint64_t, py::array::c_style | py::array::forcecast>::ensure(array);
                if (std::any_of(wide.data(), wide.data() + wide.size(), [](std::uint64_t z) { return z > std::uint64_t(INT64_MAX); }))
                    throw py::value_error("a height is above 2^63 - 1");
            }
            const auto values = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(array);
            const std::int64_t rows = array.shape(0), columns = array.shape(1);
            const std::vector<std::int64_t> pile(values.data(), values.data() + rows * columns);
            if (const std::string fault = PileBuilder::pileFault(columns, rows, pile); !fault.empty())
                throw py::value_error(fault);
            return built(odometer, PileBuilder::memoryFault(PileBuilder::pileBytes(int(columns), int(rows), odometer)),
                         [&](const PileBuilder::Settings &settings) {
                             return PileBuilder::stabilise(int(columns), int(rows), pile, settings);
                         });
        },
        py::arg("heights"), py::arg("odometer") = false,
        R"doc(Stabilises any pile: a 2-D array of integers at least 0, with open edges.

Topples every site holding 4 grains or more until none is left, exactly,
and returns a StablePile; with odometer=True it holds each site's
topplings too. Releases the GIL; Ctrl-C raises KeyboardInterrupt.)doc");

    module.attr("MAX_CENTRE_GRAINS") = PileBuilder::MAX_CENTRE_GRAINS;
    module.attr("MAX_PILE_SIDE") = PileBuilder::MAX_SIDE;
}
