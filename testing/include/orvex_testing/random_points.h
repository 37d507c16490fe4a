#pragma once

// Random points of a box, for tests and benchmarks.

#include <random>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"

namespace orvex::test {

/// A point whose coordinates are drawn uniformly in [low, high), axis by axis.
template <index_t D, typename Random>
Point<D> random_point(Random& random, double low, double high) {
    std::uniform_real_distribution<double> coordinate{low, high};
    Point<D> point;
    for (index_t axis = 0; axis < D; ++axis) {
        point.set_value(axis, coordinate(random));
    }
    return point;
}

}  // namespace orvex::test
