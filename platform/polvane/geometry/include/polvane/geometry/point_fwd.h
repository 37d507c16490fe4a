#pragma once

// The declaration of `Point`, for headers that only name it (by reference or in a span);
// "polvane/geometry/point.h" defines it.

#include "polvane/basic/index.h"

namespace orvex {

template <index_t D>
class Point;

}  // namespace orvex
