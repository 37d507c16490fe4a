#pragma once

// Point location from Python: `ElementSearch`, built once from a Curve, a Surface or a Solid,
// answers arrays of points through the library's batch query with the GIL released.

#include <pybind11/pybind11.h>

namespace orvex::python {

namespace py = pybind11;

/// Registers `ElementSearch` in `module`.
void register_element_search(py::module_& module);

}  // namespace orvex::python
