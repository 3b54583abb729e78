#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

// Arguments checked as Python callers expect, each error naming the
// argument. Whole numbers: any integer (Python's, NumPy's) is accepted, a
// float, a bool or anything else raises TypeError, and a value outside
// low..high raises ValueError.
namespace Arguments {

std::int64_t integer(pybind11::handle value, const char *name, std::int64_t low, std::int64_t high);

// True or False (NumPy's too); anything else raises TypeError.
bool flag(pybind11::handle value, const char *name);

// A str argument; anything else raises TypeError naming the argument.
std::string text(pybind11::handle value, const char *name);

} // namespace Arguments
