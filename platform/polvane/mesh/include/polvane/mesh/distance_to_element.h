#pragma once

#include <cmath>
#include <limits>

#include "polvane/basic/index.h"
#include "polvane/geometry/distance.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

/// Distances from a point to the elements of a mesh, in the form that the nearest-element
/// query of `AABBTree` takes: `distance(query, element)`. Each functor refers to its mesh,
/// which must outlive it; it reads the mesh's current state at each call (so a tree built
/// earlier must still describe that mesh). Calls are const and may run concurrently while
/// nobody changes the mesh. Element indices are not checked.
namespace orvex {

/// The distance to the edges of a curve of dimension D. Provided for D = 1 only.
template <index_t D>
class DistanceToEdge;

/// The distance to the triangles of a surface of dimension D. Provided for D = 2 only.
template <index_t D>
class DistanceToTriangle;

/// The distance to the tetrahedra of a solid of dimension D. Provided for D = 3 only.
template <index_t D>
class DistanceToTetrahedron;

/// The distance from a point of the line to an edge of the curve: exactly 0 on the edge (ends
/// included), otherwise the gap to the nearer end; NaN when the query or an end is NaN or
/// infinite, as for triangles and tetrahedra (never a negative value).
template <>
class DistanceToEdge<1> {
public:
    explicit DistanceToEdge(const EdgedCurve<1>& curve) : curve_(&curve) {}

    [[nodiscard]] double operator()(const Point<1>& query, index_t edge) const {
        // On the line the distance is one subtraction, exact: no need for the general
        // segment distance, whose rounding may leave a tiny non-zero value inside the edge.
        const auto& vertices = curve_->edge_vertices(edge);
        const double a = curve_->point(vertices[0]).value(0);
        const double b = curve_->point(vertices[1]).value(0);
        const double x = query.value(0);
        if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(x)) {
            // The ordering below would take a NaN end as a bound and answer a signed gap that
            // may be negative, and an infinite query would lie "on" an edge at infinity.
            return std::numeric_limits<double>::quiet_NaN();
        }
        const double low = a < b ? a : b;
        const double high = a < b ? b : a;
        if (x >= low && x <= high) {
            return 0;
        }
        return x < low ? low - x : x - high;
    }

private:
    const EdgedCurve<1>* curve_;
};

/// The distance from a point of the plane to a triangle of the surface: 0 inside or on its
/// border, whatever the triangle's orientation.
template <>
class DistanceToTriangle<2> {
public:
    explicit DistanceToTriangle(const TriangulatedSurface<2>& surface) : surface_(&surface) {}

    [[nodiscard]] double operator()(const Point<2>& query, index_t triangle) const {
        return point_triangle_distance<2>(query, surface_->triangle(triangle));
    }

private:
    const TriangulatedSurface<2>* surface_;
};

/// The distance from a point to a tetrahedron of the solid: 0 inside or on its border,
/// whatever the tetrahedron's orientation.
template <>
class DistanceToTetrahedron<3> {
public:
    explicit DistanceToTetrahedron(const TetrahedralSolid<3>& solid) : solid_(&solid) {}

    [[nodiscard]] double operator()(const Point<3>& query, index_t tetrahedron) const {
        return point_tetrahedron_distance(query, solid_->tetrahedron(tetrahedron));
    }

private:
    const TetrahedralSolid<3>* solid_;
};

}  // namespace orvex
