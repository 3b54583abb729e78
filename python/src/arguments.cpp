#include "arguments.h"

#include <string>

namespace py = pybind11;

namespace {

// NumPy's bool scalar, found by its type without importing NumPy: a value
// of it can only come from a loaded NumPy.
bool isNumpyBool(py::handle value)
{
    const py::handle type = reinterpret_cast<PyObject *>(Py_TYPE(value.ptr()));
    return py::str(type.attr("__module__")).cast<std::string>() == "numpy"
           && py::str(type.attr("__name__")).cast<std::string>() == "bool_";
}

} // namespace

namespace Arguments {

std::int64_t integer(py::handle value, const char *name, std::int64_t low, std::int64_t high)
{
    // bool is an int to Python, but a count or a seed of True is a mistake;
    // NumPy's bool is one too.
    if (PyBool_Check(value.ptr()) || isNumpyBool(value) || !PyIndex_Check(value.ptr()))
        throw py::type_error(std::string(name) + " must be an integer, not " + Py_TYPE(value.ptr())->tp_name);
    const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index)
        throw py::error_already_set();
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (number == -1 && PyErr_Occurred())
        throw py::error_already_set();
    if (overflow != 0 || number < low || number > high)
        throw py::value_error(std::string(name) + " must be from " + std::to_string(low) + " to "
                              + std::to_string(high) + ", not " + py::str(index).cast<std::string>());
    return number;
}

bool flag(py::handle value, const char *name)
{
    if (!PyBool_Check(value.ptr()) && !isNumpyBool(value))
        throw py::type_error(std::string(name) + " must be True or False, not " + Py_TYPE(value.ptr())->tp_name);
    return PyObject_IsTrue(value.ptr()) == 1;
}

std::string text(py::handle value, const char *name)
{
    if (!py::isinstance<py::str>(value))
        throw py::type_error(std::string(name) + " must be a string, not " + Py_TYPE(value.ptr())->tp_name);
    return value.cast<std::string>();
}

} // namespace Arguments
