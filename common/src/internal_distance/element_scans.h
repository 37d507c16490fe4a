#pragma once

// The pieces of the internal-distance operations that triangles and tetrahedra share: which
// measure serves an element, the vertex-pair scan, and the count of degenerated elements.

#include <absl/types/span.h>

#include <array>
#include <cstddef>
#include <optional>

#include "internal_distance/kernels/simd_kernels.h"
#include "orvex/background_common/internal_distance/internal_distance.h"

namespace orvex::internal::detail {

// The vectorised measures (internal_distance/kernels/), defined only where the kernels are
// built; with_measure names them either way.
class SimdTriangleMeasure;
class SimdTetrahedronMeasure;

/// Calls `operation` with the vectorised measure `Simd` of `element` where the processor and
/// the element allow (`in_range()`), with the reference measure `Reference` otherwise; both
/// give the same distances. Without the kernels `Simd` is only named, never built.
template <typename Simd, typename Reference, typename Element, typename Operation>
decltype(auto) with_measure(const Element& element, Operation operation) {
#if ORVEX_SIMD_KERNELS
    if (cpu_has_avx2_fma()) {
        Simd measure{element};
        if (measure.in_range()) {
            return operation(measure);
        }
    }
#endif
    Reference measure{element};
    return operation(measure);
}

/// Appends the vertex pairs within `threshold`, in the order of `pairs` (`measure.vertex_pair(k)`
/// is the distance of pair k), and tells whether it appended anything. `d <= threshold` is
/// false for a NaN on either side, which keeps NaN distances and thresholds out of the result.
template <typename Measure, std::size_t N>
bool scan_vertex_pairs(Measure& measure, const std::array<std::array<unsigned char, 2>, N>& pairs,
                       double threshold, InternalDistances& result) {
    bool found = false;
    for (std::size_t pair = 0; pair < N; ++pair) {
        const double distance = measure.vertex_pair(pair);
        if (distance <= threshold) {
            result.emplace_back(InternalDistance::CONFIGURATION_TYPE::point_point, distance,
                                pairs[pair]);
            found = true;
        }
    }
    return found;
}

/// The number of degenerated elements by `status_of`, or nothing as soon as one is inverted.
template <typename Element, typename Status>
std::optional<unsigned int> count_degenerated(absl::Span<const Element> elements,
                                              Status status_of) {
    unsigned int count = 0;
    for (const Element& element : elements) {
        const InternalDistance::ELEMENT_STATUS status = status_of(element);
        if (status == InternalDistance::ELEMENT_STATUS::degenerated) {
            ++count;
        } else if (status == InternalDistance::ELEMENT_STATUS::inverted) {
            return std::nullopt;
        }
    }
    return count;
}

}  // namespace orvex::internal::detail
