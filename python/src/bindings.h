#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <vector>

// The parts of the module btwsandpile._btwsandpile, each bound in its file.
void bindPile(pybind11::module_ &module);      // bindpile.cpp: Sandpile
void bindMeasure(pybind11::module_ &module);   // bindmeasure.cpp: measure() and its results
void bindBigPile(pybind11::module_ &module);   // bindbigpile.cpp: centre_pile(), identity(), stabilise()

// Hands a vector to NumPy without a copy: the array owns it from then on.
template <typename T>
pybind11::array ownedArray(std::vector<T> &&values, const pybind11::dtype &type,
                           std::vector<pybind11::ssize_t> shape)
{
    auto held = std::make_unique<std::vector<T>>(std::move(values));
    const T *data = held->data();
    pybind11::capsule owner(held.get(), [](void *pointer) { delete static_cast<std::vector<T> *>(pointer); });
    held.release();
    return pybind11::array(type, std::move(shape), data, owner);
}

// The results have no constructor, but T.__new__(T) would still make an
// object of unconstructed memory, which its fields would read: refuse it.
// The module makes its objects without __new__.
template <typename Class>
void onlyMadeByTheModule(Class &type)
{
    const std::string name = pybind11::str(type.attr("__name__"));
    type.def_static("__new__", [name](const pybind11::args &, const pybind11::kwargs &) -> pybind11::object {
        throw pybind11::type_error("cannot make " + name + " objects: the module's functions return them");
    });
}
