#pragma once

#include <array>
#include <type_traits>

#include "polvane/basic/index.h"
#include "polvane/geometry/detail/simplex_vertices.h"
#include "polvane/geometry/point.h"

namespace orvex {

/// A triangle of the plane (D = 2) or of space (D = 3) given by its three vertices, in local
/// order 0, 1, 2. Local edge e joins the local vertices e and (e + 1) mod 3.
///
/// Two forms share this template:
/// - `Triangle<D>` refers to three points owned elsewhere, which must outlive it. It is built
///   from lvalues only: passing a temporary point does not compile.
/// - `OwnerTriangle<D>` holds copies of its three points.
/// Either form converts to the other: the owner copies the points, the referring form refers
/// to the owner's points (not from a temporary owner).
template <typename PointType, index_t D>
class GenericTriangle {
    static_assert(D == 2 || D == 3, "Triangle is provided for dimensions 2 and 3");

public:
    static constexpr index_t dimension = D;
    static constexpr index_t nb_vertices = 3;

    /// Builds the triangle from its vertices in local order. The referring form accepts only
    /// lvalues (points, or references to points): a temporary point does not compile.
    template <typename... Points,
              typename = std::enable_if_t<detail::accepts_vertices<PointType, D, 3, Points...>>>
    GenericTriangle(Points&&... points) : vertices_{{PointType{detail::as_point<D>(points)}...}} {}

    template <typename Other, typename = std::enable_if_t<!std::is_same_v<Other, PointType>>>
    explicit GenericTriangle(const GenericTriangle<Other, D>& other)
        : GenericTriangle(other.vertices()[0], other.vertices()[1], other.vertices()[2]) {}

    template <typename Other,
              typename = std::enable_if_t<
                  !detail::owns_points<PointType, D> && detail::owns_points<Other, D>>>
    explicit GenericTriangle(GenericTriangle<Other, D>&& temporary_owner) = delete;

    /// The three vertices in local order.
    [[nodiscard]] const std::array<PointType, 3>& vertices() const { return vertices_; }

    /// The average of the three vertices.
    [[nodiscard]] Point<D> barycenter() const { return detail::barycenter<D>(vertices_); }

private:
    std::array<PointType, 3> vertices_;
};

template <index_t D>
using Triangle = GenericTriangle<detail::PointReference<D>, D>;

template <index_t D>
using OwnerTriangle = GenericTriangle<Point<D>, D>;

}  // namespace orvex
