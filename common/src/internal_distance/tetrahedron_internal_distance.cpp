#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <tuple>

#include "fma_dispatch.h"
#include "polvane/geometry/distance.h"
#include "polvane/geometry/modified_element.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/segment.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/tetrahedral_solid.h"

// The fast measure below must round exactly as the base library does: no fusing of products
// into multiply-adds behind the formulas' back (see fma_dispatch.h).
#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace orvex {
namespace internal {
namespace {

constexpr double kEpsilon = 1e-6;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

using LocalPair = std::array<unsigned char, 2>;

// Vertex pairs, which are also the edges; the fast measure numbers its edge vectors the same.
constexpr std::array<LocalPair, 6> kVertexPairs{{{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}};

// The two vertices off each edge of kVertexPairs, in increasing order: entry 2 k + i of the
// edge-and-vertex table is edge k with the i-th of them.
constexpr std::array<LocalPair, 6> kVerticesOffEdge{
    {{2, 3}, {1, 3}, {1, 2}, {0, 3}, {0, 2}, {0, 1}}};

// The facet opposite each vertex, in the order its points are handed to the triangle distance.
constexpr std::array<std::array<unsigned char, 3>, 4> kFacetOfVertex{
    {{1, 2, 3}, {2, 3, 0}, {3, 0, 1}, {0, 1, 2}}};

// Opposite edges, as indices into kVertexPairs: (0, 1) with (2, 3), (0, 2) with (1, 3), (0, 3)
// with (1, 2).
constexpr std::array<std::array<std::size_t, 2>, 3> kOppositeEdges{{{0, 5}, {1, 4}, {2, 3}}};

// The index in kVertexPairs of edge (a, b), a < b.
constexpr std::array<std::array<std::size_t, 4>, 4> kEdgeIndex{
    {{6, 0, 1, 2}, {0, 6, 3, 4}, {1, 3, 6, 5}, {2, 4, 5, 6}}};

enum struct Family { vertex_pairs, vertex_to_edge, vertex_to_facet, opposite_edges };

// ---------------------------------------------------------------------------------------------
// Reference measure: the base library's functions, called literally. It serves the
// tetrahedra that the fast measure cannot take (non-finite coordinates, extreme scales).

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
        if (segment0.length() <= kEpsilon) {
            return std::nullopt;
        }
        const Segment<3> segment1{point(second[0]), point(second[1])};
        if (segment1.length() <= kEpsilon) {
            return std::nullopt;
        }
        return std::get<0>(segment_segment_distance<3>(segment0, segment1));
    }

private:
    const Point<3>& point(unsigned char vertex) const { return tetrahedron_.vertices()[vertex]; }

    const Tetrahedron& tetrahedron_;
};

// ---------------------------------------------------------------------------------------------
// Fast measure: the same formulas as the base library, with the same operations in the same
// order, so that every distance is the same double. What it saves:
// - the six edge vectors are computed once; every difference of two vertices is one of them or
//   its exact negation;
// - the twelve vertex-to-edge projections are computed once and serve the vertex-to-edge
//   family, the facets whose vertex projects outside them and the four endpoint candidates of
//   each pair of opposite edges (the base library recomputes them for each);
// - no rescaling: it takes only tetrahedra whose edge-vector components are 0 or between 2^-200
//   and 2^100, where products of up to four components neither overflow nor underflow, so the
//   base library's exact power-of-two scaling would not change any rounding;
// - no nearest points are formed, only distances.

using Vec3 = std::array<double, 3>;

ORVEX_ALWAYS_INLINE double dot(const Vec3& a, const Vec3& b) {
    double result = 0;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        result += a[axis] * b[axis];
    }
    return result;
}

ORVEX_ALWAYS_INLINE Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

ORVEX_ALWAYS_INLINE Vec3 negated(const Vec3& a) {
    return {-a[0], -a[1], -a[2]};
}

// The distance from p to the segment [a, b] from ab = b - a, ap = p - a, bp = p - b: the
// residual from the nearest point, formed from the nearer end with one rounding per component
// (the base library's projection).
ORVEX_ALWAYS_INLINE double projection_distance(const Vec3& ab, const Vec3& ap, const Vec3& bp) {
    const double length2 = dot(ab, ab);
    double t = 0;
    if (length2 > 0) {
        t = std::clamp(dot(ap, ab) / length2, 0.0, 1.0);
    }
    Vec3 residual{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        residual[axis] =
            t <= 0.5 ? std::fma(-t, ab[axis], ap[axis]) : std::fma(1 - t, ab[axis], bp[axis]);
    }
    return std::sqrt(dot(residual, residual));
}

// The distance between the lines' critical pair of points, clamped into both segments and
// refined by one projection each way (the base library's interior candidate of the
// segment-to-segment distance); infinity for parallel segments.
ORVEX_ALWAYS_INLINE double interior_distance(const Vec3& d0, const Vec3& d1, const Vec3& r) {
    const Vec3 normal = cross(d0, d1);
    const double normal2 = dot(normal, normal);
    const double length0 = dot(d0, d0);
    const double length1 = dot(d1, d1);
    if (!(normal2 > 0 && length0 > 0 && length1 > 0)) {
        return kInfinity;
    }
    double s = std::clamp(dot(cross(r, d1), normal) / normal2, 0.0, 1.0);
    Vec3 from_q0{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        from_q0[axis] = std::fma(s, d0[axis], -r[axis]);
    }
    const double t = std::clamp(dot(from_q0, d1) / length1, 0.0, 1.0);
    Vec3 from_p0{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        from_p0[axis] = std::fma(t, d1[axis], r[axis]);
    }
    s = std::clamp(dot(from_p0, d0) / length0, 0.0, 1.0);
    Vec3 residual{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        residual[axis] = std::fma(s, d0[axis], -std::fma(t, d1[axis], r[axis]));
    }
    return std::sqrt(dot(residual, residual));
}

class FastMeasure {
public:
    ORVEX_ALWAYS_INLINE explicit FastMeasure(const Tetrahedron& tetrahedron)
        : tetrahedron_(tetrahedron) {
        const auto& points = tetrahedron.vertices();
        for (std::size_t edge = 0; edge < 6; ++edge) {
            const Point<3>& from = points[kVertexPairs[edge][0]];
            const Point<3>& to = points[kVertexPairs[edge][1]];
            for (index_t axis = 0; axis < 3; ++axis) {
                edges_[edge][axis] = to.value(axis) - from.value(axis);
            }
        }
    }

    // False for non-finite coordinates (NaN fails every comparison) and extreme scales.
    ORVEX_ALWAYS_INLINE bool in_range() const {
        bool result = true;
        for (const Vec3& edge : edges_) {
            for (const double component : edge) {
                const double magnitude = std::fabs(component);
                result &= magnitude == 0 || (magnitude >= 0x1p-200 && magnitude <= 0x1p100);
            }
        }
        return result;
    }

    ORVEX_ALWAYS_INLINE double vertex_pair(std::size_t pair) {
        compute_lengths();
        return lengths_[pair];
    }

    ORVEX_ALWAYS_INLINE double vertex_to_edge(std::size_t entry) {
        compute_projections();
        return projections_[entry];
    }

    // The base library's point-to-triangle distance: the height when the vertex projects
    // inside the facet, whose normal is taken at the vertex opposite the facet's longest edge,
    // otherwise the nearest of the facet's edges.
    ORVEX_ALWAYS_INLINE double vertex_to_facet(unsigned char vertex) {
        compute_lengths();
        const auto& facet = kFacetOfVertex[vertex];
        std::array<double, 3> opposite_length{};
        for (std::size_t corner = 0; corner < 3; ++corner) {
            opposite_length[corner] = length(facet[(corner + 1) % 3], facet[(corner + 2) % 3]);
        }
        const auto origin = static_cast<std::size_t>(
            std::max_element(opposite_length.begin(), opposite_length.end())
            - opposite_length.begin());
        const unsigned char a = facet[origin];
        const unsigned char b = facet[(origin + 1) % 3];
        const unsigned char c = facet[(origin + 2) % 3];
        const Vec3 ab = vector(a, b);
        const Vec3 ac = vector(a, c);
        const Vec3 ap = vector(a, vertex);
        const Vec3 bc = vector(b, c);
        const Vec3 bp = vector(b, vertex);
        const Vec3 normal = cross(ab, ac);
        const double normal2 = dot(normal, normal);
        if (normal2 > 0 && dot(cross(ab, ap), normal) >= 0 && dot(cross(ap, ac), normal) >= 0
            && dot(cross(bc, bp), normal) >= 0) {
            return std::fabs(dot(ap, normal)) / std::sqrt(normal2);
        }
        double distance = kInfinity;
        for (std::size_t corner = 0; corner < 3; ++corner) {
            const double candidate = point_to_edge(vertex, facet[corner], facet[(corner + 1) % 3]);
            if (candidate < distance) {
                distance = candidate;
            }
        }
        return distance;
    }

    // The base library's segment-to-segment distance: the nearest of the four endpoint
    // projections and the interior candidate.
    ORVEX_ALWAYS_INLINE std::optional<double> opposite_edges(std::size_t pair) {
        const std::size_t first = kOppositeEdges[pair][0];
        const std::size_t second = kOppositeEdges[pair][1];
        if (is_short(first) || is_short(second)) {
            return std::nullopt;
        }
        const unsigned char a = kVertexPairs[first][0];
        const unsigned char b = kVertexPairs[first][1];
        const unsigned char c = kVertexPairs[second][0];
        const unsigned char e = kVertexPairs[second][1];
        double best = kInfinity;
        for (const double candidate :
             {point_to_edge(a, c, e), point_to_edge(b, c, e), point_to_edge(c, a, b),
              point_to_edge(e, a, b),
              interior_distance(edges_[first], edges_[second], vector(a, c))}) {
            if (candidate < best) {
                best = candidate;
            }
        }
        return best;
    }

private:
    // The vector from vertex `from` to vertex `to`; p - q is exactly -(q - p).
    ORVEX_ALWAYS_INLINE Vec3 vector(unsigned char from, unsigned char to) const {
        if (from < to) {
            return edges_[kEdgeIndex[from][to]];
        }
        return negated(edges_[kEdgeIndex[to][from]]);
    }

    ORVEX_ALWAYS_INLINE double length(unsigned char a, unsigned char b) const {
        return lengths_[a < b ? kEdgeIndex[a][b] : kEdgeIndex[b][a]];
    }

    // The base library's point-to-point distance, without its rescaling.
    ORVEX_ALWAYS_INLINE void compute_lengths() {
        if (lengths_ready_) {
            return;
        }
        for (std::size_t edge = 0; edge < 6; ++edge) {
            lengths_[edge] = std::sqrt(dot(edges_[edge], edges_[edge]));
        }
        lengths_ready_ = true;
    }

    ORVEX_ALWAYS_INLINE void compute_projections() {
        if (projections_ready_) {
            return;
        }
        for (std::size_t edge = 0; edge < 6; ++edge) {
            for (std::size_t side = 0; side < 2; ++side) {
                const unsigned char vertex = kVerticesOffEdge[edge][side];
                projections_[2 * edge + side] =
                    projection_distance(edges_[edge], vector(kVertexPairs[edge][0], vertex),
                                        vector(kVertexPairs[edge][1], vertex));
            }
        }
        projections_ready_ = true;
    }

    // The distance from `vertex` to the segment from `from` to `to`, measured in that
    // direction as the base library would: from the table when from < to, otherwise afresh
    // (the reversed projection may round differently).
    ORVEX_ALWAYS_INLINE double point_to_edge(unsigned char vertex, unsigned char from,
                                             unsigned char to) {
        if (from < to) {
            compute_projections();
            const std::size_t edge = kEdgeIndex[from][to];
            return projections_[2 * edge + (vertex == kVerticesOffEdge[edge][0] ? 0 : 1)];
        }
        return projection_distance(vector(from, to), vector(from, vertex), vector(to, vertex));
    }

    // "At most 1e-6 long" as the base library's `Segment::length` decides it. The squared
    // length is within a few units of roundoff, so only lengths within a relative 1e-9 of the
    // bound need the segment's own length.
    ORVEX_ALWAYS_INLINE bool is_short(std::size_t edge) const {
        const double length2 = dot(edges_[edge], edges_[edge]);
        if (length2 > kEpsilon * kEpsilon * (1 + 1e-9)) {
            return false;
        }
        if (length2 < kEpsilon * kEpsilon * (1 - 1e-9)) {
            return true;
        }
        const auto& points = tetrahedron_.vertices();
        return Segment<3>{points[kVertexPairs[edge][0]], points[kVertexPairs[edge][1]]}.length()
               <= kEpsilon;
    }

    const Tetrahedron& tetrahedron_;
    std::array<Vec3, 6> edges_{};
    std::array<double, 6> lengths_{};
    std::array<double, 12> projections_{};
    bool lengths_ready_{false};
    bool projections_ready_{false};
};

// ---------------------------------------------------------------------------------------------
// The operations, written once over either measure. Each family scan appends the
// configurations within `threshold` in table order and tells whether it appended anything;
// `d <= threshold` is false for a NaN on either side.

template <typename Measure>
ORVEX_ALWAYS_INLINE bool scan_family(Measure& measure, Family family, double threshold,
                                     InternalDistances& result) {
    bool found = false;
    switch (family) {
        case Family::vertex_pairs:
            for (std::size_t pair = 0; pair < kVertexPairs.size(); ++pair) {
                const double distance = measure.vertex_pair(pair);
                if (distance <= threshold) {
                    result.emplace_back(InternalDistance::CONFIGURATION_TYPE::point_point, distance,
                                        kVertexPairs[pair]);
                    found = true;
                }
            }
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
ORVEX_ALWAYS_INLINE bool scan_families(Measure& measure, Family first, Family last,
                                       double threshold, InternalDistances& result) {
    for (auto family = static_cast<int>(first); family <= static_cast<int>(last); ++family) {
        if (scan_family(measure, static_cast<Family>(family), threshold, result)) {
            return true;
        }
    }
    return false;
}

// The vertex-to-facet records, then the opposite-edge records, the first strictly smallest
// kept. No list is needed: keeping the first strictly smaller value while computing is the
// same walk. A distance that is not finite and comparable never beats the default's largest
// finite double.
template <typename Measure>
ORVEX_ALWAYS_INLINE InternalDistance minimal_of(Measure& measure) {
    InternalDistance result;
    for (unsigned char vertex = 0; vertex < 4; ++vertex) {
        const double distance = measure.vertex_to_facet(vertex);
        if (distance < result.distance) {
            result = InternalDistance{distance, vertex};
        }
    }
    for (std::size_t pair = 0; pair < kOppositeEdges.size(); ++pair) {
        const std::optional<double> distance = measure.opposite_edges(pair);
        if (distance && *distance < result.distance) {
            result = InternalDistance{InternalDistance::CONFIGURATION_TYPE::segment_segment,
                                      *distance, kVertexPairs[kOppositeEdges[pair][0]]};
        }
    }
    return result;
}

#if ORVEX_FMA_CLONES
// The FMA copies of the two operations (see fma_dispatch.h).
ORVEX_TARGET_FMA InternalDistance minimal_with_fma(FastMeasure& measure) {
    return minimal_of(measure);
}

ORVEX_TARGET_FMA bool scan_with_fma(FastMeasure& measure, Family first, Family last,
                                    double threshold, InternalDistances& result) {
    return scan_families(measure, first, last, threshold, result);
}
#endif

InternalDistance minimal(const Tetrahedron& tetrahedron) {
    FastMeasure fast{tetrahedron};
    if (!fast.in_range()) {
        ReferenceMeasure reference{tetrahedron};
        return minimal_of(reference);
    }
#if ORVEX_FMA_CLONES
    if (detail::cpu_has_fma()) {
        return minimal_with_fma(fast);
    }
#endif
    return minimal_of(fast);
}

bool scan(const Tetrahedron& tetrahedron, Family first, Family last, double threshold,
          InternalDistances& result) {
    FastMeasure fast{tetrahedron};
    if (!fast.in_range()) {
        ReferenceMeasure reference{tetrahedron};
        return scan_families(reference, first, last, threshold, result);
    }
#if ORVEX_FMA_CLONES
    if (detail::cpu_has_fma()) {
        return scan_with_fma(fast, first, last, threshold, result);
    }
#endif
    return scan_families(fast, first, last, threshold, result);
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

bool is_positive(const Tetrahedron& tetrahedron) {
    return tetrahedron_volume_sign(tetrahedron) == SIDE::positive;
}

template <typename Element, typename Access>
std::optional<unsigned int> count_degenerated(absl::Span<const Element> elements,
                                              Access tetrahedron_of) {
    unsigned int count = 0;
    for (const Element& element : elements) {
        const Tetrahedron tetrahedron = tetrahedron_of(element);
        if (has_internal_distance_below_epsilon(tetrahedron)) {
            ++count;
        } else if (!is_positive(tetrahedron)) {
            return std::nullopt;
        }
    }
    return count;
}

}  // namespace

InternalDistance minimal_tetrahedron_internal_distance(const Tetrahedron& tetrahedron) {
    return minimal(tetrahedron);
}

InternalDistances fast_tetrahedron_internal_distances(const Tetrahedron& tetrahedron,
                                                      const InternalDistance::Options& options) {
    InternalDistances result;
    scan(tetrahedron, Family::vertex_pairs, Family::opposite_edges, options.threshold, result);
    return result;
}

InternalDistances fast_tetrahedron_internal_distances(const TetrahedralSolid<3>& solid,
                                                      index_t tetrahedron_id,
                                                      const InternalDistance::Options& options) {
    const Tetrahedron tetrahedron = solid.tetrahedron(tetrahedron_id);
    InternalDistances result;
    if (scan(tetrahedron, Family::vertex_pairs, Family::vertex_pairs, options.threshold, result)) {
        return result;
    }
    if (options.check_adjacencies) {
        const Neighbours neighbours = neighbours_of(solid, tetrahedron_id);
        if (scan_vertex_adjacencies(neighbours, result)
            || scan_edge_adjacencies(neighbours, result)) {
            return result;
        }
    }
    scan(tetrahedron, Family::vertex_to_edge, Family::opposite_edges, options.threshold, result);
    return result;
}

bool has_internal_distance_below_epsilon(const Tetrahedron& tetrahedron) {
    InternalDistances discarded;
    return scan(tetrahedron, Family::vertex_to_facet, Family::opposite_edges, kEpsilon, discarded);
}

InternalDistance::ELEMENT_STATUS tetrahedron_status(const Tetrahedron& tetrahedron) {
    if (has_internal_distance_below_epsilon(tetrahedron)) {
        return InternalDistance::ELEMENT_STATUS::degenerated;
    }
    return is_positive(tetrahedron) ? InternalDistance::ELEMENT_STATUS::valid
                                    : InternalDistance::ELEMENT_STATUS::inverted;
}

std::optional<unsigned int> compute_number_of_negative_tetrahedra(
    absl::Span<const Tetrahedron> tetrahedra) {
    return count_degenerated(tetrahedra,
                             [](const Tetrahedron& tetrahedron) { return tetrahedron; });
}

std::optional<unsigned int> compute_number_of_negative_tetrahedra(
    absl::Span<const ModifiedTetrahedron> tetrahedra) {
    return count_degenerated(
        tetrahedra, [](const ModifiedTetrahedron& modified) { return modified.element(); });
}

}  // namespace internal
}  // namespace orvex
