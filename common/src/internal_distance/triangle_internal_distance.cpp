#include "orvex/background_common/internal_distance/triangle_internal_distance.h"

#include <array>
#include <limits>
#include <optional>

#include "polvane/geometry/distance.h"
#include "polvane/geometry/modified_element.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/segment.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex {
namespace internal {
namespace {

constexpr double kEpsilon = 1e-6;
constexpr double kNoLimit = std::numeric_limits<double>::max();

using LocalPair = std::array<unsigned char, 2>;

constexpr std::array<LocalPair, 3> kVertexPairs{{{0, 1}, {0, 2}, {1, 2}}};

struct EdgeAndVertex {
    LocalPair edge;
    unsigned char vertex;
};

constexpr std::array<EdgeAndVertex, 3> kEdgesAndVertices{{{{0, 1}, 2}, {{0, 2}, 1}, {{1, 2}, 0}}};

// Each family scan appends the configurations within `threshold` in table order and tells
// whether it appended anything. `d <= threshold` is false for a NaN on either side, which is
// what keeps NaN distances and NaN thresholds out of every result.

bool scan_vertex_pairs(const Triangle<2>& triangle, double threshold, InternalDistances& result) {
    const auto& points = triangle.vertices();
    bool found = false;
    for (const LocalPair& pair : kVertexPairs) {
        const double distance = point_point_distance<2>(points[pair[0]], points[pair[1]]);
        if (distance <= threshold) {
            result.emplace_back(InternalDistance::CONFIGURATION_TYPE::point_point, distance, pair);
            found = true;
        }
    }
    return found;
}

bool scan_vertex_to_edge(const Triangle<2>& triangle, double threshold, InternalDistances& result) {
    const auto& points = triangle.vertices();
    bool found = false;
    for (const EdgeAndVertex& entry : kEdgesAndVertices) {
        const Segment<2> edge{points[entry.edge[0]], points[entry.edge[1]]};
        const double distance = point_segment_distance<2>(points[entry.vertex], edge);
        if (distance <= threshold) {
            result.emplace_back(distance, entry.vertex, entry.edge);
            found = true;
        }
    }
    return found;
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
    for (const unsigned char vertex : {2, 0, 1}) {
        const auto& first = adjacent[vertex];
        const auto& second = adjacent[(vertex + 2) % 3];
        if (first && second && *first == *second) {
            result.emplace_back(vertex);
            found = true;
        }
    }
    return found;
}

bool is_positive(const Triangle<2>& triangle) {
    return triangle_area_sign(triangle) == SIDE::positive;
}

template <typename Element, typename Access>
std::optional<unsigned int> count_degenerated(absl::Span<const Element> elements,
                                              Access triangle_of) {
    unsigned int count = 0;
    for (const Element& element : elements) {
        const Triangle<2> triangle = triangle_of(element);
        if (has_internal_distance_below_epsilon(triangle)) {
            ++count;
        } else if (!is_positive(triangle)) {
            return std::nullopt;
        }
    }
    return count;
}

}  // namespace

InternalDistance minimal_triangle_internal_distance(const Triangle<2>& triangle) {
    InternalDistances candidates;
    scan_vertex_to_edge(triangle, kNoLimit, candidates);
    InternalDistance result;
    for (const InternalDistance& candidate : candidates) {
        if (candidate.distance < result.distance) {
            result = candidate;
        }
    }
    return result;
}

InternalDistances fast_triangle_internal_distances(const Triangle<2>& triangle,
                                                   const InternalDistance::Options& options) {
    InternalDistances result;
    if (scan_vertex_pairs(triangle, options.threshold, result)) {
        return result;
    }
    scan_vertex_to_edge(triangle, options.threshold, result);
    return result;
}

InternalDistances fast_triangle_internal_distances(const TriangulatedSurface<2>& surface,
                                                   index_t triangle_id,
                                                   const InternalDistance::Options& options) {
    const Triangle<2> triangle = surface.triangle(triangle_id);
    InternalDistances result;
    if (scan_vertex_pairs(triangle, options.threshold, result)) {
        return result;
    }
    if (options.check_adjacencies && scan_vertex_adjacencies(surface, triangle_id, result)) {
        return result;
    }
    scan_vertex_to_edge(triangle, options.threshold, result);
    return result;
}

bool has_internal_distance_below_epsilon(const Triangle<2>& triangle) {
    InternalDistances discarded;
    return scan_vertex_to_edge(triangle, kEpsilon, discarded);
}

InternalDistance::ELEMENT_STATUS triangle_status(const Triangle<2>& triangle) {
    if (has_internal_distance_below_epsilon(triangle)) {
        return InternalDistance::ELEMENT_STATUS::degenerated;
    }
    return is_positive(triangle) ? InternalDistance::ELEMENT_STATUS::valid
                                 : InternalDistance::ELEMENT_STATUS::inverted;
}

std::optional<unsigned int> compute_number_of_negative_triangles(
    absl::Span<const Triangle<2>> triangles) {
    return count_degenerated(triangles, [](const Triangle<2>& triangle) { return triangle; });
}

std::optional<unsigned int> compute_number_of_negative_triangles(
    absl::Span<const ModifiedTriangle<2>> triangles) {
    return count_degenerated(
        triangles, [](const ModifiedTriangle<2>& modified) { return modified.element(); });
}

}  // namespace internal
}  // namespace orvex
