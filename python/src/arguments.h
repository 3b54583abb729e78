#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

// Whole-number arguments as Python callers expect them checked: any
// integer (Python's, NumPy's) is accepted, a float, a bool or anything else
// raises TypeError, and a value outside low..high raises ValueError, each
// naming the argument.
namespace Arguments {

std::int64_t integer(pybind11::handle value, const char *name, std::int64_t low, std::int64_t high);

} // namespace Arguments
