#pragma once

#include "orvex/background_common/export.h"
#include "orvex/background_common/internal_distance/internal_distance.h"
#include "polvane/basic/index.h"
#include "polvane/mesh/element_identifiers.h"

/// The mesh edge that an internal distance record names.
///
/// Both functions read only the record's `vertices`, two local vertices of the element, and
/// return the edge of the element that joins them. That is meaningful for the configurations
/// that name an edge there: `point_point` (the two vertices), `point_segment` (the edge the
/// vertex is close to), `segment_segment` (the first of the two opposite edges) and
/// `edge_same_adjacent`. The others hold 255, 255, which names no edge. Both only read the
/// mesh and may run concurrently while nobody changes it.
namespace orvex {

template <index_t D>
class SurfaceMesh;

template <index_t D>
class SolidMesh;

namespace internal {

/// The local edge of polygon `polygon_id` that joins the mesh vertices at the record's two local
/// vertices, in either order (local edge e joins local vertices e and (e + 1) mod 3; only the
/// three edges of a triangle are examined). The empty `PolygonEdge` (polygon `NO_ID`, edge
/// `NO_LID`) when no edge matches, and when a local vertex of the record is not one of 0, 1, 2
/// (the mesh is then not read). Never throws on its own.
/// \pre `polygon_id` is a polygon of `surface` (not checked).
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT PolygonEdge edge_from_internal_distance(
    const SurfaceMesh<2>& surface, index_t polygon_id, const InternalDistance& record);

/// The facet edge of polyhedron `polyhedron_id` that joins the mesh vertices at the record's two
/// local vertices, as `SolidMesh<3>::polyhedron_facet_edge_from_vertices` gives it (every edge
/// lies on two facets; the base library picks one).
/// \throw std::bad_optional_access when the polyhedron has no such facet edge, and when a local
/// vertex of the record is not one of 0 to 3 (the mesh is then not read).
/// \pre `polyhedron_id` is a polyhedron of `solid` (not checked).
[[nodiscard]] ORVEX_BACKGROUND_COMMON_EXPORT PolyhedronFacetEdge edge_from_internal_distance(
    const SolidMesh<3>& solid, index_t polyhedron_id, const InternalDistance& record);

}  // namespace internal
}  // namespace orvex
