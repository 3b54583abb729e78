#include "signalwatch.h"

namespace py = pybind11;

bool SignalWatch::interrupted()
{
    if (raised)
        return true;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0)
        raised.emplace();   // takes the exception out of Python's error indicator
    return raised.has_value();
}

void SignalWatch::rethrow() const
{
    if (raised)
        throw *raised;
}
