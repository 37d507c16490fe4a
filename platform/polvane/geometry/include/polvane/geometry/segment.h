#pragma once

#include <array>
#include <type_traits>

#include "polvane/basic/index.h"
#include "polvane/geometry/detail/simplex_vertices.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/vector.h"

namespace orvex {

/// A segment of the D-dimensional space (D = 1, 2 or 3) given by its two vertices, in local
/// order 0, 1.
///
/// Two forms share this template:
/// - `Segment<D>` refers to two points owned elsewhere, which must outlive it. It is built
///   from lvalues only: passing a temporary point does not compile.
/// - `OwnerSegment<D>` holds copies of its two points.
/// Either form converts to the other: the owner copies the points, the referring form refers
/// to the owner's points (not from a temporary owner).
template <typename PointType, index_t D>
class GenericSegment {
    static_assert(D >= 1 && D <= 3, "Segment is provided for dimensions 1, 2 and 3");

public:
    static constexpr index_t dimension = D;
    static constexpr index_t nb_vertices = 2;

    /// Builds the segment from its vertices in local order. The referring form accepts only
    /// lvalues (points, or references to points): a temporary point does not compile.
    template <typename... Points,
              typename = std::enable_if_t<detail::accepts_vertices<PointType, D, 2, Points...>>>
    GenericSegment(Points&&... points) : vertices_{{PointType{detail::as_point<D>(points)}...}} {}

    template <typename Other, typename = std::enable_if_t<!std::is_same_v<Other, PointType>>>
    explicit GenericSegment(const GenericSegment<Other, D>& other)
        : GenericSegment(other.vertices()[0], other.vertices()[1]) {}

    template <typename Other,
              typename = std::enable_if_t<
                  !detail::owns_points<PointType, D> && detail::owns_points<Other, D>>>
    explicit GenericSegment(GenericSegment<Other, D>&& temporary_owner) = delete;

    /// The two vertices in local order.
    [[nodiscard]] const std::array<PointType, 2>& vertices() const { return vertices_; }

    /// The vector from vertex 0 to vertex 1 (zero for a degenerate segment).
    [[nodiscard]] Vector<D> direction() const { return Vector<D>{vertices_[0], vertices_[1]}; }

    /// The unit vector from vertex 0 to vertex 1.
    /// \throw PolvaneException "[Vector::normalize] ..." when the length is not greater than
    /// 1e-30 (NaN included).
    [[nodiscard]] Vector<D> normalized_direction() const { return direction().normalize(); }

    /// The Euclidean length, without overflow or underflow for any finite coordinates whose
    /// difference is finite.
    [[nodiscard]] double length() const { return direction().length(); }

    /// True when the length is at most `GLOBAL_EPSILON` (1e-6), bound included. A segment with a
    /// NaN coordinate is not degenerated (its length is NaN).
    [[nodiscard]] bool is_degenerated() const { return length() <= GLOBAL_EPSILON; }

    /// The middle of the segment.
    [[nodiscard]] Point<D> barycenter() const { return detail::barycenter<D>(vertices_); }

private:
    std::array<PointType, 2> vertices_;
};

template <index_t D>
using Segment = GenericSegment<detail::PointReference<D>, D>;

template <index_t D>
using OwnerSegment = GenericSegment<Point<D>, D>;

}  // namespace orvex
