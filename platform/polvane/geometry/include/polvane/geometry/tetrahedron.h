#pragma once

#include <array>
#include <type_traits>

#include "polvane/basic/index.h"
#include "polvane/geometry/detail/simplex_vertices.h"
#include "polvane/geometry/point.h"

namespace orvex {

/// A tetrahedron given by its four vertices, in local order 0 to 3. It is correctly oriented
/// when (p1 - p0) . ((p2 - p0) x (p3 - p0)) > 0 (see `tetrahedron_volume_sign`).
///
/// Two forms share this template:
/// - `Tetrahedron` refers to four points owned elsewhere, which must outlive it. It is built
///   from lvalues only: passing a temporary point does not compile.
/// - `OwnerTetrahedron` holds copies of its four points.
/// Either form converts to the other: the owner copies the points, the referring form refers
/// to the owner's points (not from a temporary owner).
template <typename PointType>
class GenericTetrahedron {
public:
    static constexpr index_t dimension = 3;
    static constexpr index_t nb_vertices = 4;

    /// Builds the tetrahedron from its vertices in local order. The referring form accepts only
    /// lvalues (points, or references to points): a temporary point does not compile.
    template <typename... Points,
              typename = std::enable_if_t<detail::accepts_vertices<PointType, 3, 4, Points...>>>
    GenericTetrahedron(Points&&... points)
        : vertices_{{PointType{detail::as_point<3>(points)}...}} {}

    template <typename Other, typename = std::enable_if_t<!std::is_same_v<Other, PointType>>>
    explicit GenericTetrahedron(const GenericTetrahedron<Other>& other)
        : GenericTetrahedron(other.vertices()[0], other.vertices()[1], other.vertices()[2],
                             other.vertices()[3]) {}

    template <typename Other,
              typename = std::enable_if_t<
                  !detail::owns_points<PointType, 3> && detail::owns_points<Other, 3>>>
    explicit GenericTetrahedron(GenericTetrahedron<Other>&& temporary_owner) = delete;

    /// The four vertices in local order.
    [[nodiscard]] const std::array<PointType, 4>& vertices() const { return vertices_; }

    /// The average of the four vertices.
    [[nodiscard]] Point<3> barycenter() const { return detail::barycenter<3>(vertices_); }

private:
    std::array<PointType, 4> vertices_;
};

using Tetrahedron = GenericTetrahedron<detail::PointReference<3>>;

using OwnerTetrahedron = GenericTetrahedron<Point<3>>;

}  // namespace orvex
