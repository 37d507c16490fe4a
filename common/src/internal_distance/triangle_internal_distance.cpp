#include "orvex/background_common/internal_distance/triangle_internal_distance.h"

#include <array>
#include <cstddef>
#include <functional>
#include <optional>

#include "internal_distance/element_scans.h"
#include "internal_distance/kernels/triangle_simd_measure.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/distance.h"
#include "polvane/geometry/modified_element.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/segment.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex {
namespace internal {
namespace {

using LocalPair = std::array<unsigned char, 2>;

constexpr std::array<LocalPair, 3> kVertexPairs{{{0, 1}, {0, 2}, {1, 2}}};

struct EdgeAndVertex {
    LocalPair edge;
    unsigned char vertex;
};

constexpr std::array<EdgeAndVertex, 3> kEdgesAndVertices{{{{0, 1}, 2}, {{0, 2}, 1}, {{1, 2}, 0}}};

// Reference measure: the base library's functions, called literally. It serves the triangles
// that the vectorised measure cannot take (non-finite coordinates, extreme scales) and
// processors without AVX2; both give the same distances.
class ReferenceMeasure {
public:
    explicit ReferenceMeasure(const Triangle<2>& triangle) : points_(triangle.vertices()) {}

    double vertex_pair(std::size_t pair) const {
        return point_point_distance<2>(points_[kVertexPairs[pair][0]],
                                       points_[kVertexPairs[pair][1]]);
    }

    double vertex_to_edge(std::size_t entry) const {
        const EdgeAndVertex& configuration = kEdgesAndVertices[entry];
        const Segment<2> edge{points_[configuration.edge[0]], points_[configuration.edge[1]]};
        return point_segment_distance<2>(points_[configuration.vertex], edge);
    }

    // The first strictly smaller distance of the walk wins; a distance that is not a number
    // never beats the default's largest finite double.
    InternalDistance minimal() const {
        InternalDistance result;
        for (std::size_t entry = 0; entry < kEdgesAndVertices.size(); ++entry) {
            const double distance = vertex_to_edge(entry);
            if (distance < result.distance) {
                result = InternalDistance{distance, kEdgesAndVertices[entry].vertex,
                                          kEdgesAndVertices[entry].edge};
            }
        }
        return result;
    }

private:
    const std::array<std::reference_wrapper<const Point<2>>, 3>& points_;
};

// Each family scan appends the configurations within `threshold` in table order and tells
// whether it appended anything (the vertex pairs: detail::scan_vertex_pairs). `d <= threshold`
// is false for a NaN on either side, which is what keeps NaN distances and NaN thresholds out
// of every result.

template <typename Measure>
bool scan_vertex_to_edge(Measure& measure, double threshold, InternalDistances& result) {
    bool found = false;
    for (std::size_t entry = 0; entry < kEdgesAndVertices.size(); ++entry) {
        const double distance = measure.vertex_to_edge(entry);
        if (distance <= threshold) {
            result.emplace_back(distance, kEdgesAndVertices[entry].vertex,
                                kEdgesAndVertices[entry].edge);
            found = true;
        }
    }
    return found;
}

template <typename Operation>
decltype(auto) with_measure(const Triangle<2>& triangle, Operation operation) {
    return detail::with_measure<detail::SimdTriangleMeasure, ReferenceMeasure>(triangle, operation);
}

// Vertex v is where local edges v and (v + 2) mod 3 meet; both glued to the same neighbour
// means the triangle folds onto it around v. The order 2, 0, 1 is part of the contract.
bool scan_vertex_adjacencies(const TriangulatedSurface<2>& surface, index_t triangle_id,
                             InternalDistances& result) {
    std::array<std::optional<index_t>, 3> adjacent;
    for (local_index_t edge = 0; edge < 3; ++edge) {
        adjacent[edge] = surface.polygon_adjacent(PolygonEdge{triangle_id, edge});
    }
    bool found = false;
    constexpr std::array<unsigned char, 3> kFoldOrder{2, 0, 1};
    for (const unsigned char vertex : kFoldOrder) {
        const auto& first = adjacent[vertex];
        const auto& second = adjacent[(vertex + 2) % 3];
        if (first && second && *first == *second) {
            result.emplace_back(vertex);
            found = true;
        }
    }
    return found;
}

}  // namespace

InternalDistance minimal_triangle_internal_distance(const Triangle<2>& triangle) {
    // One named result for every path, so that it is built in the caller's return slot.
    InternalDistance result;
#if ORVEX_SIMD_KERNELS
    if (detail::cpu_has_avx2_fma() && detail::SimdTriangleMeasure::minimal_of(triangle, result)) {
        return result;
    }
#endif
    result = ReferenceMeasure{triangle}.minimal();
    return result;
}

InternalDistances fast_triangle_internal_distances(const Triangle<2>& triangle,
                                                   const InternalDistance::Options& options) {
    return with_measure(triangle, [&options](auto& measure) {
        InternalDistances result;
        if (!detail::scan_vertex_pairs(measure, kVertexPairs, options.threshold, result)) {
            scan_vertex_to_edge(measure, options.threshold, result);
        }
        return result;
    });
}

InternalDistances fast_triangle_internal_distances(const TriangulatedSurface<2>& surface,
                                                   index_t triangle_id,
                                                   const InternalDistance::Options& options) {
    const Triangle<2> triangle = surface.triangle(triangle_id);
    return with_measure(triangle, [&](auto& measure) {
        InternalDistances result;
        if (detail::scan_vertex_pairs(measure, kVertexPairs, options.threshold, result)) {
            return result;
        }
        if (options.check_adjacencies && scan_vertex_adjacencies(surface, triangle_id, result)) {
            return result;
        }
        scan_vertex_to_edge(measure, options.threshold, result);
        return result;
    });
}

bool has_internal_distance_below_epsilon(const Triangle<2>& triangle) {
    return with_measure(triangle, [](auto& measure) {
        InternalDistances discarded;
        return scan_vertex_to_edge(measure, GLOBAL_EPSILON, discarded);
    });
}

InternalDistance::ELEMENT_STATUS triangle_status(const Triangle<2>& triangle) {
    if (has_internal_distance_below_epsilon(triangle)) {
        return InternalDistance::ELEMENT_STATUS::degenerated;
    }
    return triangle_area_sign(triangle) == SIDE::positive
               ? InternalDistance::ELEMENT_STATUS::valid
               : InternalDistance::ELEMENT_STATUS::inverted;
}

std::optional<unsigned int> compute_number_of_negative_triangles(
    absl::Span<const Triangle<2>> triangles) {
    return detail::count_degenerated(
        triangles, [](const Triangle<2>& triangle) { return triangle_status(triangle); });
}

std::optional<unsigned int> compute_number_of_negative_triangles(
    absl::Span<const ModifiedTriangle<2>> triangles) {
    return detail::count_degenerated(triangles, [](const ModifiedTriangle<2>& modified) {
        return triangle_status(modified.element());
    });
}

}  // namespace internal
}  // namespace orvex
