#pragma once

// The three mesh kinds as Python classes, built from numpy arrays: `Curve` (an `EdgedCurve<1>`),
// `Surface` (a `TriangulatedSurface<2>`) and `Solid` (a `TetrahedralSolid<3>`).
//
// A Python mesh is immutable: nothing in the module changes a mesh once built, so that the
// searches and quality measures may read it with the GIL released.

#include <pybind11/pybind11.h>

#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex::python {

namespace py = pybind11;

/// The Python name of a mesh kind's class: "Curve", "Surface", "Solid".
template <typename Mesh>
inline constexpr const char* class_name = nullptr;
template <>
inline constexpr const char* class_name<EdgedCurve<1>> = "Curve";
template <>
inline constexpr const char* class_name<TriangulatedSurface<2>> = "Surface";
template <>
inline constexpr const char* class_name<TetrahedralSolid<3>> = "Solid";

/// Registers `Curve`, `Surface` and `Solid` in `module`.
void register_meshes(py::module_& module);

}  // namespace orvex::python
