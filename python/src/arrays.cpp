#include "arrays.h"

#include <cstdint>

namespace orvex::python {

std::string shape_text(const py::array& array) {
    std::string text = "(";
    for (py::ssize_t axis = 0; axis < array.ndim(); ++axis) {
        if (axis > 0) {
            text += ", ";
        }
        text += std::to_string(array.shape(axis));
    }
    if (array.ndim() == 1) {
        text += ",";
    }
    return text + ")";
}

std::string dtype_text(const py::array& array) {
    return py::str(array.dtype());
}

py::array as_array(const py::object& object, const char* what, const std::string& expected) {
    if (py::isinstance<py::array>(object)) {
        return py::reinterpret_borrow<py::array>(object);
    }
    auto array = py::array::ensure(object);
    if (!array) {
        throw py::value_error(std::string{what} + " must be " + expected + "; got a "
                              + std::string{py::str(py::type::of(object).attr("__name__"))}
                              + " that numpy cannot read as an array");
    }
    return array;
}

void throw_bad_array(const py::array& array, const char* what, const std::string& expected) {
    throw py::value_error(std::string{what} + " must be " + expected + "; got shape "
                          + shape_text(array) + " and dtype " + dtype_text(array));
}

bool is_float64(const py::array& array) {
    return py::isinstance<py::array_t<double>>(array);
}

bool is_index_array(const py::array& array) {
    return py::isinstance<py::array_t<std::int32_t>>(array)
           || py::isinstance<py::array_t<std::int64_t>>(array);
}

void check_count(std::size_t count, const char* what) {
    if (count > max_count) {
        throw py::value_error(std::string{what} + " has " + std::to_string(count)
                              + " rows; at most 4294967294 are supported");
    }
}

}  // namespace orvex::python
