// btwsandpile._btwsandpile: the sandpile engine and sandpile-stats'
// measuring core for Python. The package btwsandpile re-exports it.

#include "bindings.h"
#include "engine/lattice.h"
#include "engine/random.h"
#include "stats/series.h"

namespace py = pybind11;

PYBIND11_MODULE(_btwsandpile, module)
{
    module.doc() = "The Bak-Tang-Wiesenfeld sandpile's engine and measuring core.";
    module.attr("__version__") = SANDPILE_VERSION;   // the source tree's VERSION, as the build passes it
    module.attr("MIN_SIDE") = Lattice::MIN_SIDE;
    module.attr("MAX_SIDE") = Lattice::MAX_SIDE;
    module.attr("MAX_MEASURED_SIDE") = Series::Settings::MAX_SIDE;
    module.attr("MAX_SEED") = Random::MODULUS - 1;
    bindPile(module);
    bindMeasure(module);
    bindBigPile(module);
}
