#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <type_traits>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"

/// Building blocks shared by the simplex classes (segment, triangle, tetrahedron). Each simplex
/// is a class template over the type it stores its vertices as: `Point<D>` for the owning
/// forms, `PointReference<D>` for the forms that refer to points owned elsewhere.
namespace orvex::detail {

/// How the referring simplices hold a vertex: a rebindable reference to a point that the
/// caller keeps alive. It converts implicitly to `const Point<D>&`; use `.get()` to call a
/// member of the point.
template <index_t D>
using PointReference = std::reference_wrapper<const Point<D>>;

template <typename PointType, index_t D>
inline constexpr bool owns_points = std::is_same_v<PointType, Point<D>>;

/// True when `Args` are exactly `N` arguments that each read as a `const Point<D>&` (points,
/// or references to points).
template <index_t D, std::size_t N, typename... Args>
inline constexpr bool are_vertices =
    sizeof...(Args) == N&& std::conjunction_v<std::is_convertible<Args, const Point<D>&>...>;

/// True when a simplex storing `PointType` can be built from `Args` without referring to a
/// temporary point: owners copy anything, referring simplices take lvalues only.
template <typename PointType, index_t D, typename... Args>
inline constexpr bool stores_safely =
    owns_points<PointType, D> || std::conjunction_v<std::is_lvalue_reference<Args>...>;

/// Whether a simplex storing `PointType` has a constructor for `Args`: `N` vertices, taken
/// safely.
template <typename PointType, index_t D, std::size_t N, typename... Args>
inline constexpr bool accepts_vertices =
    are_vertices<D, N, Args...>&& stores_safely<PointType, D, Args...>;

template <index_t D, typename Arg>
constexpr const Point<D>& as_point(const Arg& argument) {
    return static_cast<const Point<D>&>(argument);
}

/// The average of the given points, summed first and divided once. Where that sum overflows
/// (finite coordinates near ±1e308), each coordinate is divided first and the average kept
/// between the smallest and largest coordinate, so that finite points have a finite average.
template <index_t D, typename PointType, std::size_t N>
Point<D> barycenter(const std::array<PointType, N>& vertices) {
    Point<D> sum;
    for (const Point<D>& vertex : vertices) {
        sum += vertex;
    }
    for (index_t axis = 0; axis < D; ++axis) {
        double mean = sum.value(axis) / static_cast<double>(N);
        if (!std::isfinite(mean)) {
            mean = 0;
            double low = std::numeric_limits<double>::infinity();
            double high = -low;
            for (const Point<D>& vertex : vertices) {
                mean += vertex.value(axis) / static_cast<double>(N);
                low = std::min(low, vertex.value(axis));
                high = std::max(high, vertex.value(axis));
            }
            mean = low <= high ? std::clamp(mean, low, high) : mean;
        }
        sum.set_value(axis, mean);
    }
    return sum;
}

}  // namespace orvex::detail
