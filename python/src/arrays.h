#pragma once

// Reading numpy arrays handed in from Python: the checks every entry point makes before it
// reads a value, and the messages of the errors they raise.
//
// Errors are Python's usual ones: a wrong shape or dtype raises `ValueError` naming the
// expected and the actual shape ("points must be a float64 array of shape (n, 3); got shape
// (5, 2) and dtype float64"); `IndexError` is raised by the callers that check indices.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>

namespace orvex::python {

namespace py = pybind11;

/// The shape of `array` as Python writes a tuple: "(5, 2)", "(3,)", "()".
std::string shape_text(const py::array& array);

/// The dtype of `array` as numpy names it: "float64", "int32", "<U3".
std::string dtype_text(const py::array& array);

/// `object` as a numpy array without copying an array (a list or tuple is converted by numpy).
/// \throw py::value_error naming `what` and `expected` when numpy cannot read it as an array
/// (a ragged list, for instance).
py::array as_array(const py::object& object, const char* what, const std::string& expected);

/// Raises the `ValueError` of a wrong shape or dtype: "<what> must be <expected>; got shape
/// <shape> and dtype <dtype>".
[[noreturn]] void throw_bad_array(const py::array& array, const char* what,
                                  const std::string& expected);

/// Whether `array` holds float64 values (native byte order); any strides.
bool is_float64(const py::array& array);

/// Whether `array` holds int32 or int64 values (native byte order); any strides.
bool is_index_array(const py::array& array);

/// The largest number of points, vertices or elements one call takes: indices are 32-bit and
/// 4294967295 means "no index".
inline constexpr std::size_t max_count = 4294967294u;

/// \throw py::value_error "<what> has <count> rows; at most 4294967294 are supported" when
/// `count` exceeds `max_count`.
void check_count(std::size_t count, const char* what);

}  // namespace orvex::python
