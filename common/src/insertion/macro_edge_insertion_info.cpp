#include "orvex/background_common/insertion/macro_edge_insertion_info.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "orvex_common/modifier/vertices_modifier.h"
#include "polvane/geometry/bounding_box.h"
#include "polvane/geometry/vector.h"

namespace orvex {
namespace internal {
namespace detail {

// to - from. When the length of that difference of finite points exceeds the largest double,
// the difference of the quartered points instead: only its direction is used, and scaling keeps
// it. Halving is not enough: the halved difference is finite on every axis, yet its length can
// still be up to sqrt(3) times the largest double (a diagonal from -1e308 to 1e308).
template <index_t D>
Vector<D> direction_between(const Point<D>& from, const Point<D>& to) {
    const Vector<D> direction{from, to};
    if (std::isfinite(direction.length()) || !is_finite(from) || !is_finite(to)) {
        return direction;
    }
    return Vector<D>{from * 0.25, to * 0.25};
}

}  // namespace detail

template <index_t D>
MacroEdgeInsertionInfo<D>::MacroEdgeInsertionInfo(MacroEdgeInsertionInfo&& other) noexcept
    : points(std::exchange(other.points, {})), statuses(std::exchange(other.statuses, {})) {}

template <index_t D>
MacroEdgeInsertionInfo<D>& MacroEdgeInsertionInfo<D>::operator=(
    MacroEdgeInsertionInfo&& other) noexcept {
    if (this != &other) {
        points = std::exchange(other.points, {});
        statuses = std::exchange(other.statuses, {});
    }
    return *this;
}

template <index_t D>
void MacroEdgeInsertionInfo<D>::update_vertices(const VerticesModifier& modifier) {
    for (auto& entry : points) {
        if (entry.vertex) {
            entry.vertex = modifier.updated_vertex(*entry.vertex).value();
        }
    }
}

template <index_t D>
void MacroEdgeInsertionInfo<D>::sort(const Segment<D>& segment) {
    if (points.empty()) {
        return;
    }
    BoundingBox<D> box;
    for (const auto& entry : points) {
        box.add_point(entry.point);
    }
    const auto axis = static_cast<local_index_t>(std::get<0>(box.largest_length()));
    // A plain `<` is not a strict weak ordering once a NaN coordinate is present, and std::sort
    // may then read outside the list. Entries with a NaN key are moved after every number
    // first (in one linear pass), so that the sort itself compares numbers only.
    const auto numbers_end = std::partition(
        points.begin(), points.end(),
        [axis](const InsertionPoint& entry) { return !std::isnan(entry.point.value(axis)); });
    std::sort(points.begin(), numbers_end,
              [axis](const InsertionPoint& a, const InsertionPoint& b) {
                  return a.point.value(axis) < b.point.value(axis);
              });

    auto last_kept = points.begin();
    for (auto entry = std::next(points.begin()); entry != points.end(); ++entry) {
        if (!last_kept->point.inexact_equal(entry->point)) {
            ++last_kept;
            if (last_kept != entry) {
                *last_kept = std::move(*entry);
            }
        }
    }
    points.erase(std::next(last_kept), points.end());

    // Both directions are formed on quartered coordinates when the points lie more than the
    // largest double apart (x = -1e308 and 1e308), so that their lengths stay finite.
    const Vector<D> extent = detail::direction_between(points.front().point, points.back().point);
    const double length = extent.length();
    // Point's division refuses a length not above 1e-30 (NaN included) with its own message.
    const Point<D> unit = Point<D>{extent.values()} / length;
    const Vector<D> direction =
        detail::direction_between(segment.vertices()[0].get(), segment.vertices()[1].get())
            .normalize();
    if (Vector<D>{unit.values()}.dot(direction) < 0) {
        std::reverse(points.begin(), points.end());
    }
}

template <index_t D>
ElementInsertionInfo::INSERTION_STATUS MacroEdgeInsertionInfo<D>::insertion_status(
    const Segment<D>& segment) const {
    using Status = ElementInsertionInfo::INSERTION_STATUS;
    if (segment.is_degenerated()) {
        return Status::degenerated;
    }
    bool some_inserted = false;
    bool some_other = false;
    for (const auto status : statuses) {
        if (status == Status::inserted) {
            some_inserted = true;
        } else {
            some_other = true;
        }
    }
    if (!some_inserted) {
        return Status::not_inserted;
    }
    return some_other ? Status::partially_inserted : Status::fully_inserted;
}

template struct MacroEdgeInsertionInfo<2>;
template struct MacroEdgeInsertionInfo<3>;

}  // namespace internal
}  // namespace orvex
