#pragma once

// The quality of every element of a surface or a solid, or of bare element coordinates, in one
// call: the library's own status and smallest internal distance of each element, computed with
// the GIL released, into numpy arrays.

#include <pybind11/pybind11.h>

namespace orvex::python {

namespace py = pybind11;

/// Registers the `Quality` record and the `quality` function in `module`.
void register_quality(py::module_& module);

}  // namespace orvex::python
