#include "polvane/geometry/bounding_box.h"

#include <array>
#include <cmath>
#include <limits>
#include <tuple>

namespace orvex {

template <index_t D>
bool BoundingBox<D>::is_empty() const {
    for (index_t axis = 0; axis < D; ++axis) {
        if (min_.value(axis) > max_.value(axis)) {
            return true;
        }
    }
    return false;
}

template <index_t D>
bool BoundingBox<D>::contains(const Point<D>& point) const {
    for (index_t axis = 0; axis < D; ++axis) {
        // Written so that a NaN coordinate fails the test.
        if (!(min_.value(axis) <= point.value(axis) && point.value(axis) <= max_.value(axis))) {
            return false;
        }
    }
    return true;
}

template <index_t D>
Point<D> BoundingBox<D>::center() const {
    Point<D> result;
    for (index_t axis = 0; axis < D; ++axis) {
        // Halving first keeps (max + min) from overflowing for bounds near the largest double.
        result.set_value(axis, 0.5 * min_.value(axis) + 0.5 * max_.value(axis));
    }
    return result;
}

template <index_t D>
std::tuple<index_t, double> BoundingBox<D>::largest_length() const {
    index_t best_axis = 0;
    double best_length = max_.value(0) - min_.value(0);
    for (index_t axis = 1; axis < D; ++axis) {
        const double length = max_.value(axis) - min_.value(axis);
        if (length > best_length) {
            best_axis = axis;
            best_length = length;
        }
    }
    return {best_axis, best_length};
}

template <index_t D>
double BoundingBox<D>::rescaled_outside_distance(const Point<D>& point) const {
    std::array<double, D> gaps{};
    double largest = 0.0;
    for (index_t axis = 0; axis < D; ++axis) {
        const double below = min_.value(axis) - point.value(axis);
        const double above = point.value(axis) - max_.value(axis);
        double gap = below > above ? below : above;
        gap = gap > 0.0 ? gap : 0.0;
        gaps[axis] = gap;
        largest = gap > largest ? gap : largest;
    }
    if (largest == std::numeric_limits<double>::infinity()) {
        return largest;
    }
    // Dividing by the largest gap brings every term into [0, 1], where squares neither overflow
    // nor lose the dominant digits; the caller guarantees largest > 0.
    double sum = 0.0;
    for (const double gap : gaps) {
        const double ratio = gap / largest;
        sum += ratio * ratio;
    }
    return largest * std::sqrt(sum);
}

template class BoundingBox<1>;
template class BoundingBox<2>;
template class BoundingBox<3>;

}  // namespace orvex
