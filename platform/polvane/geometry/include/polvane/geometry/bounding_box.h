#pragma once

#include <cmath>
#include <limits>
#include <tuple>

#include "polvane/basic/index.h"
#include "polvane/geometry/export.h"
#include "polvane/geometry/point.h"

namespace orvex {

/// An axis-aligned box of the D-dimensional space (D = 1, 2 or 3), closed on every side.
///
/// A box is made empty (min = +infinity, max = -infinity on every axis) and grows with
/// `add_point` and `add_box`. The box never holds a NaN bound: a NaN coordinate given to
/// `add_point` leaves that axis unchanged. A box is a plain value (2·D doubles).
template <index_t D>
class POLVANE_GEOMETRY_EXPORT BoundingBox {
    static_assert(D >= 1 && D <= 3, "BoundingBox is provided for dimensions 1, 2 and 3");

public:
    /// The empty box.
    BoundingBox() {
        for (index_t axis = 0; axis < D; ++axis) {
            min_.set_value(axis, std::numeric_limits<double>::infinity());
            max_.set_value(axis, -std::numeric_limits<double>::infinity());
        }
    }

    /// The box with these corners, taken as they are: a lower bound above the upper one leaves
    /// that axis empty, as in the empty box. NaN bounds are not allowed.
    BoundingBox(const Point<D>& min, const Point<D>& max) : min_(min), max_(max) {}

    /// Grows the box to contain `point`. NaN coordinates are ignored axis by axis.
    void add_point(const Point<D>& point) {
        for (index_t axis = 0; axis < D; ++axis) {
            const double value = point.value(axis);
            // Two independent selections (not if/else): the first point sets both bounds. Written
            // as selections so that they compile to min/max instructions without branches, which
            // random input would mispredict; a NaN value compares false and keeps the bound.
            const double low = min_.value(axis);
            const double high = max_.value(axis);
            min_.set_value(axis, value < low ? value : low);
            max_.set_value(axis, value > high ? value : high);
        }
    }

    /// Grows the box to contain `box` (the union). Adding an empty box changes nothing.
    void add_box(const BoundingBox& box) {
        for (index_t axis = 0; axis < D; ++axis) {
            if (box.min_.value(axis) < min_.value(axis)) {
                min_.set_value(axis, box.min_.value(axis));
            }
            if (box.max_.value(axis) > max_.value(axis)) {
                max_.set_value(axis, box.max_.value(axis));
            }
        }
    }

    /// The lower corner; +infinity on every axis for an empty box.
    [[nodiscard]] const Point<D>& min() const { return min_; }

    /// The upper corner; -infinity on every axis for an empty box.
    [[nodiscard]] const Point<D>& max() const { return max_; }

    /// True when no point was ever added (min > max on some axis).
    [[nodiscard]] bool is_empty() const;

    /// True when min ≤ point ≤ max on every axis (the box is closed). False for an empty box
    /// and for a point with a NaN coordinate.
    [[nodiscard]] bool contains(const Point<D>& point) const;

    /// True when the two closed boxes share at least one point (touching counts). False when
    /// either is empty.
    [[nodiscard]] bool intersects(const BoundingBox& other) const {
        for (index_t axis = 0; axis < D; ++axis) {
            if (!(other.min_.value(axis) <= max_.value(axis)
                  && min_.value(axis) <= other.max_.value(axis))) {
                return false;
            }
        }
        return true;
    }

    /// The middle of the box, computed as min/2 + max/2 so that it does not overflow near the
    /// largest doubles. NaN on every axis for an empty box.
    [[nodiscard]] Point<D> center() const;

    /// The axis of greatest extent (max - min) and that extent. On ties the first such axis
    /// wins. An empty box gives (0, -infinity).
    [[nodiscard]] std::tuple<index_t, double> largest_length() const;

    /// The signed distance from `point` to the box:
    /// - outside the box, the Euclidean distance to the box (> 0);
    /// - inside, minus the distance to the nearest face, that is -min over the axes of
    ///   min(point - min, max - point) (< 0);
    /// - on the boundary, +0.
    ///
    /// It is a lower bound of the distance from `point` to anything that lies in the box.
    /// An empty box gives +infinity, and a point with a NaN coordinate gives NaN. The result
    /// neither overflows nor underflows for finite coordinates: the common case sums squares
    /// directly and the rare cases (gaps beyond about 1e154 or below about 1e-145) are
    /// rescaled.
    [[nodiscard]] double signed_distance(const Point<D>& point) const {
        double outside2 = 0.0;
        bool outside = false;
        double inside = -std::numeric_limits<double>::infinity();
        for (index_t axis = 0; axis < D; ++axis) {
            const double below = min_.value(axis) - point.value(axis);
            const double above = point.value(axis) - max_.value(axis);
            // At most one of the two is positive for a non-empty box; NaN falls to `above`.
            const double gap = below > above ? below : above;
            if (gap > 0.0) {
                outside = true;
                outside2 += gap * gap;
            } else if (gap <= 0.0) {
                inside = gap > inside ? gap : inside;
            } else {
                return std::numeric_limits<double>::quiet_NaN();
            }
        }
        if (!outside) {
            // Adding +0 turns a -0 (from -0.0 - +0.0) into +0 on the boundary.
            return inside + 0.0;
        }
        // Below this threshold some squares may have lost all their digits to underflow.
        constexpr double smallest_safe_square = 1e-290;
        if (outside2 > smallest_safe_square && outside2 < std::numeric_limits<double>::max()) {
            return std::sqrt(outside2);
        }
        return rescaled_outside_distance(point);
    }

private:
    // The distance from an outside point, summing rescaled squares (cold path).
    [[nodiscard]] double rescaled_outside_distance(const Point<D>& point) const;

    Point<D> min_;
    Point<D> max_;
};

extern template class BoundingBox<1>;
extern template class BoundingBox<2>;
extern template class BoundingBox<3>;

using BoundingBox1D = BoundingBox<1>;
using BoundingBox2D = BoundingBox<2>;
using BoundingBox3D = BoundingBox<3>;

}  // namespace orvex
