#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"

#include <array>
#include <cstddef>
#include <optional>
#include <tuple>

#include "internal_distance/element_scans.h"
#include "internal_distance/kernels/tetrahedron_simd_measure.h"
#include "internal_distance/tetrahedron_tables.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/distance.h"
#include "polvane/geometry/modified_element.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/segment.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/tetrahedral_solid.h"

namespace orvex {
namespace internal {
namespace {
using detail::kFacetOfVertex;
using detail::kOppositeEdges;
using detail::kVertexPairs;
using detail::kVerticesOffEdge;
using detail::LocalPair;

enum struct Family { vertex_pairs, vertex_to_edge, vertex_to_facet, opposite_edges };

// ---------------------------------------------------------------------------------------------
// Reference measure: the base library's functions, called literally. It serves the
// tetrahedra that the vectorised measure cannot take (non-finite coordinates, extreme scales)
// and processors without AVX2.

class ReferenceMeasure {
public:
    explicit ReferenceMeasure(const Tetrahedron& tetrahedron) : tetrahedron_(tetrahedron) {}

    double vertex_pair(std::size_t pair) const {
        return point_point_distance<3>(point(kVertexPairs[pair][0]), point(kVertexPairs[pair][1]));
    }

    double vertex_to_edge(std::size_t entry) const {
        const LocalPair& edge = kVertexPairs[entry / 2];
        const Segment<3> segment{point(edge[0]), point(edge[1])};
        return point_segment_distance<3>(point(kVerticesOffEdge[entry / 2][entry % 2]), segment);
    }

    double vertex_to_facet(unsigned char vertex) const {
        const auto& facet = kFacetOfVertex[vertex];
        const Triangle<3> triangle{point(facet[0]), point(facet[1]), point(facet[2])};
        return std::get<0>(point_triangle_distance<3>(point(vertex), triangle));
    }

    std::optional<double> opposite_edges(std::size_t pair) const {
        const LocalPair& first = kVertexPairs[kOppositeEdges[pair][0]];
        const LocalPair& second = kVertexPairs[kOppositeEdges[pair][1]];
        const Segment<3> segment0{point(first[0]), point(first[1])};
        if (segment0.length() <= GLOBAL_EPSILON) {
            return std::nullopt;
        }
        const Segment<3> segment1{point(second[0]), point(second[1])};
        if (segment1.length() <= GLOBAL_EPSILON) {
            return std::nullopt;
        }
        return std::get<0>(segment_segment_distance<3>(segment0, segment1));
    }

    // The vertex-to-facet records, then the opposite-edge records, the first strictly smallest
    // kept: keeping the first strictly smaller value while computing is the same walk as over a
    // list. A distance that is not a number never beats the default's largest finite double.
    InternalDistance minimal() const {
        InternalDistance result;
        for (unsigned char vertex = 0; vertex < 4; ++vertex) {
            const double distance = vertex_to_facet(vertex);
            if (distance < result.distance) {
                result = InternalDistance{distance, vertex};
            }
        }
        for (std::size_t pair = 0; pair < kOppositeEdges.size(); ++pair) {
            const std::optional<double> distance = opposite_edges(pair);
            if (distance && *distance < result.distance) {
                result = InternalDistance{InternalDistance::CONFIGURATION_TYPE::segment_segment,
                                          *distance, kVertexPairs[kOppositeEdges[pair][0]]};
            }
        }
        return result;
    }

    // The vertex-to-facet scan, then the opposite-edges scan when the first found nothing.
    bool facets_or_opposite_edges_within(double threshold) const {
        for (unsigned char vertex = 0; vertex < 4; ++vertex) {
            if (vertex_to_facet(vertex) <= threshold) {
                return true;
            }
        }
        for (std::size_t pair = 0; pair < kOppositeEdges.size(); ++pair) {
            const std::optional<double> distance = opposite_edges(pair);
            if (distance && *distance <= threshold) {
                return true;
            }
        }
        return false;
    }

private:
    const Point<3>& point(unsigned char vertex) const { return tetrahedron_.vertices()[vertex]; }

    const Tetrahedron& tetrahedron_;
};

// ---------------------------------------------------------------------------------------------
// The operations, written once over either measure. Each family scan appends the
// configurations within `threshold` in table order and tells whether it appended anything;
// `d <= threshold` is false for a NaN on either side.

template <typename Measure>
bool scan_family(Measure& measure, Family family, double threshold, InternalDistances& result) {
    bool found = false;
    switch (family) {
        case Family::vertex_pairs:
            found = detail::scan_vertex_pairs(measure, kVertexPairs, threshold, result);
            break;
        case Family::vertex_to_edge:
            for (std::size_t entry = 0; entry < 2 * kVertexPairs.size(); ++entry) {
                const double distance = measure.vertex_to_edge(entry);
                if (distance <= threshold) {
                    result.emplace_back(distance, kVerticesOffEdge[entry / 2][entry % 2],
                                        kVertexPairs[entry / 2]);
                    found = true;
                }
            }
            break;
        case Family::vertex_to_facet:
            for (unsigned char vertex = 0; vertex < 4; ++vertex) {
                const double distance = measure.vertex_to_facet(vertex);
                if (distance <= threshold) {
                    result.emplace_back(distance, vertex);
                    found = true;
                }
            }
            break;
        case Family::opposite_edges:
            for (std::size_t pair = 0; pair < kOppositeEdges.size(); ++pair) {
                const std::optional<double> distance = measure.opposite_edges(pair);
                if (distance && *distance <= threshold) {
                    result.emplace_back(InternalDistance::CONFIGURATION_TYPE::segment_segment,
                                        *distance, kVertexPairs[kOppositeEdges[pair][0]]);
                    found = true;
                }
            }
            break;
    }
    return found;
}

// Runs the families from `first` to `last` in order and stops at the first that appends.
template <typename Measure>
bool scan_families(Measure& measure, Family first, Family last, double threshold,
                   InternalDistances& result) {
    for (auto family = static_cast<int>(first); family <= static_cast<int>(last); ++family) {
        if (scan_family(measure, static_cast<Family>(family), threshold, result)) {
            return true;
        }
    }
    return false;
}

template <typename Operation>
decltype(auto) with_measure(const Tetrahedron& tetrahedron, Operation operation) {
    return detail::with_measure<detail::SimdTetrahedronMeasure, ReferenceMeasure>(tetrahedron,
                                                                                  operation);
}

// ---------------------------------------------------------------------------------------------
// Adjacency scans: they read the neighbours of the tetrahedron in its solid, never its points.

using Neighbours = std::array<std::optional<index_t>, 4>;

Neighbours neighbours_of(const TetrahedralSolid<3>& solid, index_t tetrahedron_id) {
    Neighbours neighbours;
    for (local_index_t facet = 0; facet < 4; ++facet) {
        neighbours[facet] = solid.polyhedron_adjacent(PolyhedronFacet{tetrahedron_id, facet});
    }
    return neighbours;
}

// True when every facet of the list has a neighbour and all are the same one.
template <std::size_t N>
bool same_neighbour(const Neighbours& neighbours, const std::array<unsigned char, N>& facets) {
    for (const unsigned char facet : facets) {
        if (!neighbours[facet] || *neighbours[facet] != *neighbours[facets[0]]) {
            return false;
        }
    }
    return true;
}

// Vertex v lies on the three facets other than facet v.
bool scan_vertex_adjacencies(const Neighbours& neighbours, InternalDistances& result) {
    bool found = false;
    for (unsigned char vertex = 0; vertex < 4; ++vertex) {
        std::array<unsigned char, 3> facets{};
        std::size_t slot = 0;
        for (unsigned char facet = 0; facet < 4; ++facet) {
            if (facet != vertex) {
                facets[slot++] = facet;
            }
        }
        if (same_neighbour(neighbours, facets)) {
            result.emplace_back(vertex);
            found = true;
        }
    }
    return found;
}

// Edge (a, b) lies on the facets opposite the two other vertices.
bool scan_edge_adjacencies(const Neighbours& neighbours, InternalDistances& result) {
    bool found = false;
    for (std::size_t edge = 0; edge < kVertexPairs.size(); ++edge) {
        if (same_neighbour(neighbours, kVerticesOffEdge[edge])) {
            result.emplace_back(kVertexPairs[edge]);
            found = true;
        }
    }
    return found;
}

}  // namespace

InternalDistance minimal_tetrahedron_internal_distance(const Tetrahedron& tetrahedron) {
    // One named result for every path, so that it is built in the caller's return slot.
    InternalDistance result;
#if ORVEX_SIMD_KERNELS
    if (detail::cpu_has_avx2_fma()
        && detail::SimdTetrahedronMeasure::minimal_of(tetrahedron, result)) {
        return result;
    }
#endif
    result = ReferenceMeasure{tetrahedron}.minimal();
    return result;
}

InternalDistances fast_tetrahedron_internal_distances(const Tetrahedron& tetrahedron,
                                                      const InternalDistance::Options& options) {
    return with_measure(tetrahedron, [&options](auto& measure) {
        InternalDistances result;
        scan_families(measure, Family::vertex_pairs, Family::opposite_edges, options.threshold,
                      result);
        return result;
    });
}

InternalDistances fast_tetrahedron_internal_distances(const TetrahedralSolid<3>& solid,
                                                      index_t tetrahedron_id,
                                                      const InternalDistance::Options& options) {
    const Tetrahedron tetrahedron = solid.tetrahedron(tetrahedron_id);
    return with_measure(tetrahedron, [&](auto& measure) {
        InternalDistances result;
        if (scan_family(measure, Family::vertex_pairs, options.threshold, result)) {
            return result;
        }
        if (options.check_adjacencies) {
            const Neighbours neighbours = neighbours_of(solid, tetrahedron_id);
            if (scan_vertex_adjacencies(neighbours, result)
                || scan_edge_adjacencies(neighbours, result)) {
                return result;
            }
        }
        scan_families(measure, Family::vertex_to_edge, Family::opposite_edges, options.threshold,
                      result);
        return result;
    });
}

bool has_internal_distance_below_epsilon(const Tetrahedron& tetrahedron) {
    return with_measure(tetrahedron, [](auto& measure) {
        return measure.facets_or_opposite_edges_within(GLOBAL_EPSILON);
    });
}

InternalDistance::ELEMENT_STATUS tetrahedron_status(const Tetrahedron& tetrahedron) {
    if (has_internal_distance_below_epsilon(tetrahedron)) {
        return InternalDistance::ELEMENT_STATUS::degenerated;
    }
    return tetrahedron_volume_sign(tetrahedron) == SIDE::positive
               ? InternalDistance::ELEMENT_STATUS::valid
               : InternalDistance::ELEMENT_STATUS::inverted;
}

std::optional<unsigned int> compute_number_of_negative_tetrahedra(
    absl::Span<const Tetrahedron> tetrahedra) {
    return detail::count_degenerated(
        tetrahedra, [](const Tetrahedron& tetrahedron) { return tetrahedron_status(tetrahedron); });
}

std::optional<unsigned int> compute_number_of_negative_tetrahedra(
    absl::Span<const ModifiedTetrahedron> tetrahedra) {
    return detail::count_degenerated(tetrahedra, [](const ModifiedTetrahedron& modified) {
        return tetrahedron_status(modified.element());
    });
}

}  // namespace internal
}  // namespace orvex
