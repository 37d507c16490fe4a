#pragma once

// Private to the bounding-box tree (`polvane/geometry/aabb_tree.h`), whose inline queries need
// it: the single-precision boxes the tree stores, and the kernels that measure a point's
// distance to them. Not part of the interface.

#include <array>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

#include "polvane/basic/index.h"
#include "polvane/geometry/bounding_box.h"
#include "polvane/geometry/point.h"

namespace orvex::detail {

/// A box in single precision.
template <index_t D>
struct FloatBox {
    /// The lower bounds, rounded towards -infinity.
    std::array<float, D> min;
    /// The upper bounds, rounded towards +infinity.
    std::array<float, D> max;

    /// The empty box (+infinity lower bounds, -infinity upper ones).
    static FloatBox empty() {
        FloatBox box;
        box.min.fill(std::numeric_limits<float>::infinity());
        box.max.fill(-std::numeric_limits<float>::infinity());
        return box;
    }

    /// The same box in double precision (exactly the single-precision bounds).
    [[nodiscard]] BoundingBox<D> to_box() const {
        Point<D> low;
        Point<D> high;
        for (index_t axis = 0; axis < D; ++axis) {
            low.set_value(axis, static_cast<double>(min[axis]));
            high.set_value(axis, static_cast<double>(max[axis]));
        }
        return BoundingBox<D>{low, high};
    }

    /// Whether the box contains `other` (an empty `other` is contained by any box).
    [[nodiscard]] bool contains(const FloatBox& other) const {
        for (index_t axis = 0; axis < D; ++axis) {
            if (other.min[axis] < min[axis] || other.max[axis] > max[axis]) {
                return false;
            }
        }
        return true;
    }

    /// Grows the box to contain `other`.
    void add(const FloatBox& other) {
        for (index_t axis = 0; axis < D; ++axis) {
            min[axis] = other.min[axis] < min[axis] ? other.min[axis] : min[axis];
            max[axis] = other.max[axis] > max[axis] ? other.max[axis] : max[axis];
        }
    }
};

/// The boxes of the two children of one inner node, interleaved by axis so that one 16-byte
/// load gives both children's bounds on an axis. Aligned to its size in 1D and 2D (16 and 32
/// bytes), so that a record never straddles two cache lines: the second line would be a
/// second wait on memory. In 3D (48 bytes) half the records straddle two lines whatever the
/// alignment; both are asked for together.
template <index_t D>
struct alignas(D == 2 ? 32 : 16) ChildBoxes {
    /// Per axis: the left child's lower bound, the right child's, then their upper bounds.
    std::array<std::array<float, 4>, D> axes;

    /// The two boxes stored together, left then right.
    static ChildBoxes of(const FloatBox<D>& left, const FloatBox<D>& right) {
        ChildBoxes boxes{};
        for (index_t axis = 0; axis < D; ++axis) {
            boxes.axes[axis] = {left.min[axis], right.min[axis], left.max[axis], right.max[axis]};
        }
        return boxes;
    }

    /// Stores `box` as child `index` (0 left, 1 right).
    void set_child(index_t index, const FloatBox<D>& box) {
        for (index_t axis = 0; axis < D; ++axis) {
            axes[axis][index] = box.min[axis];
            axes[axis][2 + index] = box.max[axis];
        }
    }

    /// The box of child `index` (0 left, 1 right).
    [[nodiscard]] FloatBox<D> child(index_t index) const {
        FloatBox<D> box{};
        for (index_t axis = 0; axis < D; ++axis) {
            box.min[axis] = axes[axis][index];
            box.max[axis] = axes[axis][2 + index];
        }
        return box;
    }
};

/// Where the stored boxes sit: a stored bound f stands for origin + f / scale, with one origin
/// per axis and one power-of-two scale for all axes (so that distances keep their
/// proportions). Single precision holds 24 bits relative to a bound's magnitude: stored as
/// they are, the boxes of a mesh 10 km long at 5e6 m from the origin would be rounded to half
/// a metre, and beyond 3.4e38 every box would be infinite. Relative to an origin inside the
/// mesh and scaled to its extent, they keep their resolution wherever the mesh lies. The
/// identity frame (origin 0, scale 1) stores the bounds as they are.
template <index_t D>
struct BoxFrame {
    /// The origin of each axis.
    std::array<double, D> origin{};
    /// A power of two.
    double scale = 1;
    /// 1 / scale, exactly.
    double inverse = 1;

    /// Where local coordinates of finite points that overflow are clamped: far beyond every
    /// stored bound (at most 2^128), so that box distances stay finite lower bounds.
    static constexpr double far = 0x1p900;

    /// Whether local coordinates are the world's (every origin 0, scale 1): the usual case,
    /// which the tree's builders test once rather than per bound.
    [[nodiscard]] bool is_identity() const {
        for (index_t axis = 0; axis < D; ++axis) {
            if (origin[axis] != 0) {
                return false;
            }
        }
        return scale == 1;
    }

    /// The point in the frame's coordinates, (point - origin) * scale, as the queries measure
    /// it against the stored bounds. Exact for the identity frame, and for points within half
    /// an origin coordinate of it (Sterbenz): those near the mesh, where the tolerance is
    /// decided.
    [[nodiscard]] Point<D> local(const Point<D>& point) const {
        Point<D> result;
        for (index_t axis = 0; axis < D; ++axis) {
            double value = (point.value(axis) - origin[axis]) * scale;
            if (std::isinf(value) && std::isfinite(point.value(axis))) {
                value = std::copysign(far, value);
            }
            result.set_value(axis, value);
        }
        return result;
    }

    /// A bound of the world (a lower one unless `upper`) in the frame's coordinates, rounded
    /// outward: the local value of every point on the inner side of `bound` is on the inner
    /// side of the result.
    [[nodiscard]] double local_bound(index_t axis, double bound, bool upper) const {
        if (origin[axis] == 0 && scale == 1) {
            return bound;
        }
        const double direction = upper ? 1.0 : -1.0;
        const double offset = outward_sum(bound, -origin[axis], direction);
        double value = offset * scale;
        if (std::isinf(value) && std::isfinite(bound)) {
            return std::copysign(std::numeric_limits<double>::max(), value);
        }
        if (std::isfinite(value) && value * inverse != offset) {
            // The product lost digits below the normal range: one step outward covers them.
            value = std::nextafter(value, direction * std::numeric_limits<double>::infinity());
        }
        return value;
    }

    /// A stored bound (a lower one unless `upper`) in the world's coordinates, rounded
    /// outward.
    [[nodiscard]] double world_bound(index_t axis, float bound, bool upper) const {
        double value = static_cast<double>(bound) * inverse;
        if (std::isinf(value) && std::isfinite(bound)) {
            value = std::copysign(std::numeric_limits<double>::max(), value);
        }
        return outward_sum(value, origin[axis], upper ? 1.0 : -1.0);
    }

    /// A stored box in the world's coordinates, rounded outward.
    [[nodiscard]] BoundingBox<D> world(const FloatBox<D>& box) const {
        Point<D> low;
        Point<D> high;
        for (index_t axis = 0; axis < D; ++axis) {
            low.set_value(axis, world_bound(axis, box.min[axis], false));
            high.set_value(axis, world_bound(axis, box.max[axis], true));
        }
        return BoundingBox<D>{low, high};
    }

private:
    // a + b rounded towards the side of `direction` (+1 up, -1 down): the rounding error of the
    // sum is recovered exactly (two-sum) and, when it lies on the other side, the sum takes one
    // step. Infinite operands give their infinity.
    static double outward_sum(double a, double b, double direction) {
        const double sum = a + b;
        const double b_part = sum - a;
        const double error = (a - (sum - b_part)) + (b - b_part);
        if (error * direction > 0) {
            return std::nextafter(sum, direction * std::numeric_limits<double>::infinity());
        }
        return sum;
    }
};

/// The distance kernels of the tree's queries: `BoundingBox::signed_distance` of a stored box
/// to a point in the frame's coordinates (evaluated on the box's double-precision value, to
/// the same bits), multiplied by the frame's `inverse` to give a world distance; one box at a
/// time or both children of a record at once.
template <index_t D>
class BoxDistance {
public:
    /// An element distance as the queries read it: NaN counts as farther than any number.
    static double read_distance(double distance) {
        return std::isnan(distance) ? std::numeric_limits<double>::infinity() : distance;
    }

    /// Written with selections rather than branches per axis: whether a query lies inside a
    /// child's box is a coin flip, and mispredictions dominated the descent.
    static double box_distance(const FloatBox<D>& box, const Point<D>& point, double inverse) {
        double outside2 = 0.0;
        double largest_gap = -std::numeric_limits<double>::infinity();
        bool nan = false;
        for (index_t axis = 0; axis < D; ++axis) {
            const double below = static_cast<double>(box.min[axis]) - point.value(axis);
            const double above = point.value(axis) - static_cast<double>(box.max[axis]);
            const double gap = below > above ? below : above;
            nan |= std::isnan(gap);
            // Adding +0 for an axis where the point lies between the bounds leaves the sum of
            // the positive gaps' squares exactly as summing only those.
            const double positive = gap > 0.0 ? gap : 0.0;
            outside2 += positive * positive;
            largest_gap = gap > largest_gap ? gap : largest_gap;
        }
        if (nan) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return finish_distance(box, point, outside2, std::sqrt(outside2), largest_gap) * inverse;
    }

    /// Both children's box distances, each to the bits of `box_distance`. With SSE2 the two
    /// boxes are measured side by side, one per lane, by the same operations in the same order
    /// (a maximum `a > b ? a : b` is MAXPD with its operands in that order), and only the last
    /// steps are done per box.
    ///
    /// Returns left < right. In the common case that comparison is read off the signs and the
    /// largest gaps, without waiting for the square roots: a box that holds the point is at
    /// distance `largest_gap + 0 <= 0`, one that does not at a positive distance.
    static bool child_distances(const ChildBoxes<D>& boxes, const Point<D>& point, double inverse,
                                double& left, double& right) {
#if defined(__SSE2__)
        const ChildGaps measured = child_gaps(boxes, point);
        const __m128d zero = _mm_setzero_pd();
        const __m128d largest_gap = measured.largest_gap;
        const __m128d root = _mm_sqrt_pd(measured.outside2);
        const __m128d outside = _mm_cmpgt_pd(largest_gap, zero);
        if (common_case(measured, outside)) {
            const __m128d distances =
                _mm_mul_pd(common_distances(measured, outside, root), _mm_set1_pd(inverse));
            left = _mm_cvtsd_f64(distances);
            right = _mm_cvtsd_f64(_mm_unpackhi_pd(distances, distances));
            const int outside_lanes = _mm_movemask_pd(outside);
            if (outside_lanes == 0) {
                const __m128d inside_distances = _mm_add_pd(largest_gap, zero);
                return _mm_cvtsd_f64(inside_distances)
                       < _mm_cvtsd_f64(_mm_unpackhi_pd(inside_distances, inside_distances));
            }
            if (outside_lanes != 3) {
                return outside_lanes == 2;
            }
            return left < right;
        }
        std::array<double, 2> squares{};
        std::array<double, 2> roots{};
        std::array<double, 2> gaps{};
        _mm_storeu_pd(squares.data(), measured.outside2);
        _mm_storeu_pd(roots.data(), root);
        _mm_storeu_pd(gaps.data(), largest_gap);
        const int nan_lanes = _mm_movemask_pd(measured.nan);
        const auto finish = [&](index_t child) {
            if (((static_cast<unsigned>(nan_lanes) >> child) & 1U) != 0) {
                return std::numeric_limits<double>::quiet_NaN();
            }
            return finish_distance(boxes.child(child), point, squares[child], roots[child],
                                   gaps[child])
                   * inverse;
        };
        left = finish(0);
        right = finish(1);
#else
        left = box_distance(boxes.child(0), point, inverse);
        right = box_distance(boxes.child(1), point, inverse);
#endif
        return left < right;
    }

    /// `child_distances` without a branch in the common case, for the group descent, where
    /// the box tests of different queries overlap and the square roots' latency is hidden:
    /// there, the branches on each query's signs would be mispredicted half the time.
    static bool child_distances_flat(const ChildBoxes<D>& boxes, const Point<D>& point,
                                     double inverse, double& left, double& right) {
#if defined(__SSE2__)
        const ChildGaps gaps = child_gaps(boxes, point);
        const __m128d root = _mm_sqrt_pd(gaps.outside2);
        const __m128d outside = _mm_cmpgt_pd(gaps.largest_gap, _mm_setzero_pd());
        if (__builtin_expect(static_cast<long>(!common_case(gaps, outside)), 0) != 0) {
            return child_distances(boxes, point, inverse, left, right);
        }
        const __m128d distances =
            _mm_mul_pd(common_distances(gaps, outside, root), _mm_set1_pd(inverse));
        left = _mm_cvtsd_f64(distances);
        right = _mm_cvtsd_f64(_mm_unpackhi_pd(distances, distances));
        return left < right;
#else
        return child_distances(boxes, point, inverse, left, right);
#endif
    }

private:
    // Below this sum of squared gaps some squares may have lost all their digits to underflow.
    static constexpr double smallest_safe_square = 1e-290;

#if defined(__SSE2__)
    // The two children's gaps, one per lane: the sum of the squared positive gaps, the
    // largest gap, and the lanes that met a NaN.
    struct ChildGaps {
        __m128d outside2;
        __m128d largest_gap;
        __m128d nan;
    };

    static ChildGaps child_gaps(const ChildBoxes<D>& boxes, const Point<D>& point) {
        const __m128d zero = _mm_setzero_pd();
        ChildGaps gaps{zero, _mm_set1_pd(-std::numeric_limits<double>::infinity()), zero};
        for (index_t axis = 0; axis < D; ++axis) {
            const __m128d value = _mm_set1_pd(point.value(axis));
            // Both children's bounds on this axis in one load, widened exactly to doubles.
            const __m128 bounds = _mm_loadu_ps(boxes.axes[axis].data());
            const __m128d low = _mm_cvtps_pd(bounds);
            const __m128d high = _mm_cvtps_pd(_mm_movehl_ps(bounds, bounds));
            const __m128d gap = _mm_max_pd(_mm_sub_pd(low, value), _mm_sub_pd(value, high));
            gaps.nan = _mm_or_pd(gaps.nan, _mm_cmpunord_pd(gap, gap));
            const __m128d positive = _mm_max_pd(gap, zero);
            gaps.outside2 = _mm_add_pd(gaps.outside2, _mm_mul_pd(positive, positive));
            gaps.largest_gap = _mm_max_pd(gap, gaps.largest_gap);
        }
        return gaps;
    }

    // The common case in both lanes at once: no NaN, and each box either holds the point or
    // is far enough for the square root to be exact to the bits (`finish_distance`'s safe
    // range). `outside`: the lanes whose largest gap is positive.
    static bool common_case(const ChildGaps& gaps, __m128d outside) {
        const __m128d safe = _mm_and_pd(
            _mm_cmpgt_pd(gaps.outside2, _mm_set1_pd(smallest_safe_square)),
            _mm_cmplt_pd(gaps.outside2, _mm_set1_pd(std::numeric_limits<double>::max())));
        return _mm_movemask_pd(_mm_or_pd(gaps.nan, _mm_andnot_pd(safe, outside))) == 0;
    }

    // Both distances in the common case: the square root outside, the largest gap inside
    // (plus 0 to turn -0 into +0).
    static __m128d common_distances(const ChildGaps& gaps, __m128d outside, __m128d root) {
        return _mm_or_pd(_mm_and_pd(outside, root),
                         _mm_andnot_pd(outside, _mm_add_pd(gaps.largest_gap, _mm_setzero_pd())));
    }
#endif

    // The last step of `box_distance` from the sum of the squared positive gaps, its square
    // root and the largest gap.
    static double finish_distance(const FloatBox<D>& box, const Point<D>& point, double outside2,
                                  double root, double largest_gap) {
        const bool outside = largest_gap > 0.0;
        const bool safe =
            outside2 > smallest_safe_square && outside2 < std::numeric_limits<double>::max();
        if (static_cast<int>(outside) & static_cast<int>(!safe)) {
            return box.to_box().signed_distance(point);
        }
        // Inside: minus the distance to the nearest face, +0 on the boundary.
        return outside ? root : largest_gap + 0.0;
    }
};

}  // namespace orvex::detail
