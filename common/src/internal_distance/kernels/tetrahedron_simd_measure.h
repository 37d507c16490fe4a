#pragma once

#include "internal_distance/kernels/simd_kernels.h"

#if ORVEX_SIMD_KERNELS

#include <array>
#include <cstddef>
#include <limits>
#include <optional>

#include "internal_distance/tetrahedron_tables.h"
#include "orvex/background_common/internal_distance/internal_distance.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/segment.h"
#include "polvane/geometry/tetrahedron.h"

namespace orvex::internal::detail {

/// The distances of one tetrahedron's configurations, by the base library's formulas, four
/// configurations at a time (see simd_kernels.h). Each family is computed as a whole on first
/// use. The stages are out-of-line AVX2 functions and the accessors plain code, so that generic
/// scans can use the accessors; construct it only when `detail::cpu_has_avx2_fma()`, and use it
/// only when `in_range()`.
///
/// Lane v of `points_` is vertex v, and lane v of `rotated_[k - 1]` is vertex v + k (indices mod
/// 4), k = 1, 2, 3: the facet opposite vertex v is (v + 1, v + 2, v + 3) in this order, so the
/// facets are measured lane by lane without further shuffles. `next_` and `across_` hold, in
/// lane v, P(v + 1) - P(v) and P(v + 2) - P(v).
class SimdTetrahedronMeasure {
public:
    explicit SimdTetrahedronMeasure(const Tetrahedron& tetrahedron) : tetrahedron_(tetrahedron) {
        load();
    }

    /// Writes the first smallest of the vertex-to-facet and opposite-edge records, as
    /// `minimal_tetrahedron_internal_distance` reports it, into `result`, which must hold the
    /// default record, and tells whether the tetrahedron was in range (otherwise `result` is
    /// left alone): the whole computation in one function, its intermediate values kept in
    /// registers.
    ORVEX_AVX2 static bool minimal_of(const Tetrahedron& tetrahedron, InternalDistance& result) {
        SimdTetrahedronMeasure measure{tetrahedron, Unloaded{}};
        measure.load_body();
        if (!measure.in_range_) {
            return false;
        }
        measure.facets_and_opposite_edges_body();
        measure.minimal_body(result);
        return true;
    }

    /// False for tetrahedra outside the range where the kernels round as the base library.
    [[nodiscard]] bool in_range() const { return in_range_; }

    /// Entry `pair` of the vertex-pair table: `point_point_distance`.
    double vertex_pair(std::size_t pair) {
        if (!lengths_ready_) {
            compute_lengths();
        }
        return lengths_[kPairSlot[pair]];
    }

    /// Entry `entry` of the edge-and-vertex table: `point_segment_distance`.
    double vertex_to_edge(std::size_t entry) {
        if (!projection_roots_ready_) {
            compute_projection_roots();
        }
        return projections_[kProjectionSlot[entry]];
    }

    /// The distance from `vertex` to its opposite facet: `point_triangle_distance`.
    double vertex_to_facet(unsigned char vertex) {
        if (!facets_ready_) {
            compute_facets_and_opposite_edges();
        }
        return facets_[vertex];
    }

    /// Entry `pair` of the opposite-edges table: `segment_segment_distance`, or nothing when one
    /// of the two edges is at most 1e-6 long.
    std::optional<double> opposite_edges(std::size_t pair) {
        if (!facets_ready_) {
            compute_facets_and_opposite_edges();
        }
        if (short_pair_[pair]) {
            return std::nullopt;
        }
        return opposite_[pair];
    }

private:
    struct Unloaded {};

    SimdTetrahedronMeasure(const Tetrahedron& tetrahedron, Unloaded) : tetrahedron_(tetrahedron) {}

    // The record of the first smallest distance, written field by field into `result`, which
    // holds the default record.
    ORVEX_AVX2_INLINE void minimal_body(InternalDistance& result) const {
        const detail::Lanes smallest2 = detail::minimum(facet_lanes_, opposite_lanes_);
        const detail::Lanes smallest1 =
            detail::minimum(smallest2, _mm256_permute2f128_pd(smallest2, smallest2, 0x01));
        const detail::Lanes smallest =
            detail::minimum(smallest1, _mm256_permute_pd(smallest1, 0b0101));
        // The walk over the list keeps the first strictly smaller distance: the first lane,
        // facets before opposite edges, that holds the smallest value.
        const int facets = _mm256_movemask_pd(_mm256_cmp_pd(facet_lanes_, smallest, _CMP_EQ_OQ));
        if (facets != 0) {
            result.type = InternalDistance::CONFIGURATION_TYPE::point_triangle;
            result.distance = _mm256_cvtsd_f64(smallest);
            result.vertex = static_cast<unsigned char>(__builtin_ctz(facets));
            return;
        }
        const int pairs =
            _mm256_movemask_pd(_mm256_cmp_pd(opposite_lanes_, smallest, _CMP_EQ_OQ)) & 0x7;
        if (pairs != 0) {
            const auto pair = static_cast<std::size_t>(__builtin_ctz(pairs));
            result.type = InternalDistance::CONFIGURATION_TYPE::segment_segment;
            result.distance = _mm256_cvtsd_f64(smallest);
            result.vertices = detail::kVertexPairs[detail::kOppositeEdges[pair][0]];
        }
    }

public:
    /// True when some vertex-to-facet distance, or some distance of opposite edges that are
    /// not left out, is at most the finite `threshold`: what the vertex-to-facet scan and then
    /// the opposite-edges scan would find.
    ORVEX_AVX2 bool facets_or_opposite_edges_within(double threshold) {
        if (!facets_ready_) {
            compute_facets_and_opposite_edges();
        }
        const detail::Lanes limit = detail::constant(threshold);
        return _mm256_movemask_pd(_mm256_or_pd(detail::less_equal(facet_lanes_, limit),
                                               detail::less_equal(opposite_lanes_, limit)))
               != 0;
    }

private:
    using Lanes = detail::Lanes;
    using Vectors = detail::LaneVectors<3>;

    static constexpr double kInfinity = std::numeric_limits<double>::infinity();

    // The slots of the six vertex pairs in `lengths_`: slots 0 to 3 hold the pairs (v, v + 1),
    // slots 4 to 7 the pairs (v, v + 2).
    static constexpr std::array<std::size_t, 6> kPairSlot{0, 4, 3, 1, 5, 2};

    // The slot in `projections_` (the three facet batches, then the reversed batch, see
    // compute_projection_roots) of each entry of the edge-and-vertex table.
    static constexpr std::array<std::size_t, 12> kProjectionSlot{6, 3, 9,  15, 13, 14,
                                                                 0, 7, 12, 10, 4,  1};

    ORVEX_AVX2 void load() { load_body(); }

    ORVEX_AVX2_INLINE void load_body() {
        const auto& points = tetrahedron_.vertices();
        for (index_t axis = 0; axis < 3; ++axis) {
            points_.axis[axis] =
                _mm256_set_pd(points[3].get().value(axis), points[2].get().value(axis),
                              points[1].get().value(axis), points[0].get().value(axis));
        }
        rotated_[0] = detail::permute<1, 2, 3, 0>(points_);
        rotated_[1] = detail::permute<2, 3, 0, 1>(points_);
        rotated_[2] = detail::permute<3, 0, 1, 2>(points_);
        next_ = rotated_[0] - points_;
        across_ = rotated_[1] - points_;
        in_range_ = detail::in_kernel_range(next_) && detail::in_kernel_range(across_);
        next2_ = detail::dot(next_, next_);
        across2_ = detail::dot(across_, across_);
    }

    // Vertex `vertex` in every lane.
    ORVEX_AVX2_INLINE Vectors broadcast(std::size_t vertex) const {
        const Point<3>& point = tetrahedron_.vertices()[vertex];
        return {{detail::constant(point.value(0)), detail::constant(point.value(1)),
                 detail::constant(point.value(2))}};
    }

    // The base library's point-to-point distance: the square root of the squared length.
    ORVEX_AVX2 void compute_lengths() {
        _mm256_storeu_pd(&lengths_[0], _mm256_sqrt_pd(next2_));
        _mm256_storeu_pd(&lengths_[4], _mm256_sqrt_pd(across2_));
        lengths_ready_ = true;
    }

    // The edge-and-vertex table: its twelve projections are twelve of the sixteen lanes of the
    // facet batches and the reversed batch (see kProjectionSlot).
    ORVEX_AVX2 void compute_projection_roots() {
        if (!projections_ready_) {
            projections_body();
        }
        for (std::size_t batch = 0; batch < 3; ++batch) {
            _mm256_storeu_pd(&projections_[4 * batch],
                             _mm256_sqrt_pd(projections2_.distance2[batch]));
        }
        _mm256_storeu_pd(&projections_[12], _mm256_sqrt_pd(projections2_.reversed2));
        projection_roots_ready_ = true;
    }

    // The squared distances of the vertices to the edges of their facets, and their squared
    // lengths: lane v of batch j is vertex v onto edge j of its facet, from facet point j to facet
    // point j + 1 (mod 3), as the triangle distance measures its edges. Then the four
    // projections that no facet measures in the direction the edge-and-vertex table and the
    // opposite edges use (from the lower vertex to the higher): lane 0, vertex 0 onto 1 -> 3;
    // lanes 1 and 2, vertices 1 and 2 onto 0 -> 3; lane 3, vertex 3 onto 0 -> 2.
    struct Projections {
        Lanes length2[3];
        Lanes distance2[3];
        Lanes reversed2;
    };

    ORVEX_AVX2_INLINE void projections_body() {
        const Vectors& f0 = rotated_[0];
        const Vectors& f1 = rotated_[1];
        const Vectors& f2 = rotated_[2];
        const Vectors to_f0 = points_ - f0;
        const Vectors to_f1 = points_ - f1;
        const Vectors to_f2 = points_ - f2;
        const Vectors edge0 = f1 - f0;
        const Vectors edge1 = f2 - f1;
        const Vectors edge2 = f0 - f2;
        Projections& batches = projections2_;
        batches.length2[0] = detail::dot(edge0, edge0);
        batches.length2[1] = detail::dot(edge1, edge1);
        batches.length2[2] = detail::dot(edge2, edge2);
        batches.distance2[0] =
            detail::projection_distance2(edge0, to_f0, to_f1, batches.length2[0]);
        batches.distance2[1] =
            detail::projection_distance2(edge1, to_f1, to_f2, batches.length2[1]);
        batches.distance2[2] =
            detail::projection_distance2(edge2, to_f2, to_f0, batches.length2[2]);
        const Vectors from = detail::blend<0b0001>(broadcast(0), f0);
        const Vectors to = detail::blend<0b1000>(broadcast(3), f2);
        batches.reversed2 = detail::projection_distance2(to - from, points_ - from, points_ - to);
        projections_ready_ = true;
    }

    // Both families at once: the minimum and the status need both, and the long chain of the
    // opposite edges (three dependent divisions) then overlaps the facets' work.
    ORVEX_AVX2 void compute_facets_and_opposite_edges() { facets_and_opposite_edges_body(); }

    ORVEX_AVX2_INLINE void facets_and_opposite_edges_body() {
        const Vectors b0 = broadcast(0);
        const Vectors b1 = broadcast(1);
        const Vectors b2 = broadcast(2);
        const Vectors b3 = broadcast(3);
        const PairLengths lengths = pair_lengths();
        const Lanes interior2 = opposite_interior2(b0, b1, b2, b3, lengths);

        if (!projections_ready_) {
            projections_body();
        }
        const Projections& edges = projections2_;

        facet_lanes_ = facets_body(edges);
        _mm256_storeu_pd(facets_.data(), facet_lanes_);
        const Lanes opposite = opposite_body(interior2, edges.distance2, edges.reversed2);
        _mm256_storeu_pd(opposite_.data(), opposite);
        const int left_out = short_pairs(lengths);
        for (std::size_t pair = 0; pair < 3; ++pair) {
            short_pair_[pair] = (left_out & (1 << pair)) != 0;
        }
        // Lane 3 is not a pair, and left-out pairs take no part in the minimum.
        const Lanes excluded = _mm256_castsi256_pd(_mm256_set_epi64x(
            -1, short_pair_[2] ? -1 : 0, short_pair_[1] ? -1 : 0, short_pair_[0] ? -1 : 0));
        opposite_lanes_ = detail::select(excluded, detail::constant(kInfinity), opposite);
        facets_ready_ = true;
    }

    // Lane k: the squared lengths of the edges (0, k + 1) and of the other edge of pair k of
    // opposite edges, |P(k + 1) - P(0)|^2 and (2, 3), (1, 3), (1, 2); lane 3 repeats pair 0.
    struct PairLengths {
        Lanes first2;
        Lanes second2;
    };

    ORVEX_AVX2_INLINE PairLengths pair_lengths() const {
        return {
            detail::blend<0b0010>(detail::permute<0, 0, 3, 0>(next2_), _mm256_movedup_pd(across2_)),
            detail::blend<0b0010>(detail::permute<2, 2, 1, 2>(next2_), across2_)};
    }

    // The base library's point-to-triangle distance, facet v in lane v. Its normal is taken at
    // the corner opposite its longest edge; the height counts when the vertex projects inside
    // the facet, otherwise the nearest of its edges.
    ORVEX_AVX2_INLINE Lanes facets_body(const Projections& edges) {
        const Lanes nearest_edge = _mm256_sqrt_pd(detail::minimum(
            edges.distance2[2], detail::minimum(edges.distance2[1], edges.distance2[0])));

        // Opposite each facet corner: |f1 f2|, |f2 f0|, |f0 f1|; the first longest wins. The
        // squares decide unless two of them are so close that their roots may round to the
        // same length (then "longer" must be decided on the roots, as the base library does).
        Lanes length0 = edges.length2[1];
        Lanes length1 = edges.length2[2];
        Lanes length2 = edges.length2[0];
        Lanes origin1 = detail::less(length0, length1);
        Lanes origin2 = detail::less(detail::select(origin1, length1, length0), length2);
        const Lanes band = detail::constant(1 + 0x1p-50);
        const Lanes close = _mm256_or_pd(
            detail::both(origin1, detail::less(length1, length0 * band)),
            detail::both(origin2,
                         detail::less(length2, detail::select(origin1, length1, length0) * band)));
        if (_mm256_movemask_pd(close) != 0) {
            length0 = _mm256_sqrt_pd(length0);
            length1 = _mm256_sqrt_pd(length1);
            length2 = _mm256_sqrt_pd(length2);
            origin1 = detail::less(length0, length1);
            origin2 = detail::less(detail::select(origin1, length1, length0), length2);
        }
        const Vectors& f0 = rotated_[0];
        const Vectors& f1 = rotated_[1];
        const Vectors& f2 = rotated_[2];
        const Vectors a = detail::select(origin2, f2, detail::select(origin1, f1, f0));
        const Vectors b = detail::select(origin2, f0, detail::select(origin1, f2, f1));
        const Vectors c = detail::select(origin2, f1, detail::select(origin1, f0, f2));
        const Vectors ab = b - a;
        const Vectors ac = c - a;
        const Vectors ap = points_ - a;
        const Vectors bc = c - b;
        const Vectors bp = points_ - b;
        const Vectors normal = detail::cross(ab, ac);
        const Lanes normal2 = detail::dot(normal, normal);
        const Lanes zero = _mm256_setzero_pd();
        const Lanes inside = detail::both(
            detail::both(detail::less(zero, normal2),
                         detail::less_equal(zero, detail::dot(detail::cross(ab, ap), normal))),
            detail::both(detail::less_equal(zero, detail::dot(detail::cross(ap, ac), normal)),
                         detail::less_equal(zero, detail::dot(detail::cross(bc, bp), normal))));
        // As the base library: a projection outside the facet's bounding box, widened by a few
        // roundings of the largest coordinate, is a sliver's false "inside" (its signs rounded
        // to zero for a vertex on the line of its long edge, beyond its end).
        const Lanes along = detail::dot(ap, normal) / normal2;
        Lanes largest = zero;
        for (index_t axis = 0; axis < 3; ++axis) {
            largest = _mm256_max_pd(largest, detail::absolute(points_.axis[axis]));
            largest = _mm256_max_pd(largest, detail::absolute(f0.axis[axis]));
            largest = _mm256_max_pd(largest, detail::absolute(f1.axis[axis]));
            largest = _mm256_max_pd(largest, detail::absolute(f2.axis[axis]));
        }
        const Lanes slack = detail::constant(8 * std::numeric_limits<double>::epsilon()) * largest;
        Lanes within = detail::less_equal(zero, normal2);
        for (index_t axis = 0; axis < 3; ++axis) {
            const Lanes foot = points_.axis[axis] - along * normal.axis[axis];
            const Lanes low =
                detail::minimum(f0.axis[axis], detail::minimum(f1.axis[axis], f2.axis[axis]));
            const Lanes high =
                _mm256_max_pd(f0.axis[axis], _mm256_max_pd(f1.axis[axis], f2.axis[axis]));
            within = detail::both(within, detail::both(detail::less_equal(low - slack, foot),
                                                       detail::less_equal(foot, high + slack)));
        }
        const Lanes height = detail::absolute(detail::dot(ap, normal)) / _mm256_sqrt_pd(normal2);
        return detail::select(detail::both(inside, within), height, nearest_edge);
    }

    // The squared distance between the critical pair of points of the lines of opposite edges
    // (a, b) and (c, e), clamped into both segments and refined by one projection each way;
    // infinity for parallel edges. Pair k in lane k; lane 3 holds no pair (its first edge vector
    // is zero, so its normal is zero and it is infinity). `bv` holds vertex v in every lane.
    ORVEX_AVX2_INLINE Lanes opposite_interior2(const Vectors& b0, const Vectors& b1,
                                               const Vectors& b2, const Vectors& b3,
                                               const PairLengths& lengths) const {
        const Vectors& p0 = b0;
        const Vectors& p1 = rotated_[0];                   // 1, 2, 3, (0)
        const Vectors q0 = detail::blend<0b0110>(b2, b1);  // 2, 1, 1, (2)
        const Vectors q1 = detail::blend<0b0100>(b3, b2);  // 3, 3, 2, (3)
        const Vectors d0 = p1 - p0;
        const Vectors d1 = q1 - q0;
        const Vectors r = q0 - p0;
        const Vectors normal = detail::cross(d0, d1);
        const Lanes normal2 = detail::dot(normal, normal);
        const Lanes length0 = lengths.first2;   // dot(d0, d0), up to the sign of d0
        const Lanes length1 = lengths.second2;  // dot(d1, d1), up to the sign of d1
        const Lanes zero = _mm256_setzero_pd();
        const Lanes crossing =
            detail::both(detail::less(zero, normal2),
                         detail::both(detail::less(zero, length0), detail::less(zero, length1)));
        Lanes s = detail::clamp01(detail::dot(detail::cross(r, d1), normal) / normal2);
        const Lanes t = detail::clamp01(detail::dot(detail::fused(s, d0, -r), d1) / length1);
        const Vectors from_p0 = detail::fused(t, d1, r);
        s = detail::clamp01(detail::dot(from_p0, d0) / length0);
        const Vectors residual = detail::fused(s, d0, -from_p0);
        return detail::select(crossing, detail::dot(residual, residual),
                              detail::constant(kInfinity));
    }

    // The base library's segment-to-segment distance: the nearest of the four endpoint
    // projections and the interior candidate. For the pair (a, b), (c, e) the endpoint
    // projections are a and b onto c -> e and c and e onto a -> b; all but four of them are
    // facet-edge projections (facet batch j, lane v), the others are in `reversed2`:
    // - pair 0, (0, 1) and (2, 3): batch 1 lanes 0 and 2, batch 0 lanes 1 and 3;
    // - pair 1, (0, 2) and (1, 3): batch 2 lanes 1 and 2, reversed lanes 0 and 3;
    // - pair 2, (0, 3) and (1, 2): batch 0 lane 0, batch 1 lane 3, reversed lanes 1 and 2.
    // Pair k in lane k; lane 3 repeats pair 0.
    ORVEX_AVX2_INLINE static Lanes opposite_body(Lanes interior2, const Lanes (&facet2)[3],
                                                 Lanes reversed2) {
        const Lanes pair0 = detail::blend<0b1010>(facet2[1], facet2[0]);
        const Lanes pair1 = detail::blend<0b0110>(reversed2, facet2[2]);
        const Lanes pair2 =
            detail::blend<0b0110>(detail::blend<0b1010>(facet2[0], facet2[1]), reversed2);
        // Lanes 0 and 1: the minima of pair0 and pair1; every lane: the minimum of pair2.
        const Lanes halves =
            detail::minimum(_mm256_unpacklo_pd(pair0, pair1), _mm256_unpackhi_pd(pair0, pair1));
        const Lanes first = detail::minimum(halves, _mm256_permute2f128_pd(halves, halves, 0x01));
        const Lanes neighbours = detail::minimum(pair2, _mm256_permute_pd(pair2, 0b0101));
        const Lanes third =
            detail::minimum(neighbours, _mm256_permute2f128_pd(neighbours, neighbours, 0x01));
        const Lanes ends = detail::blend<0b0100>(first, third);
        return _mm256_sqrt_pd(detail::minimum(interior2, ends));
    }

    // Bit k set when pair k of opposite edges is left out: one of its edges is at most 1e-6
    // long, as the base library's `Segment::length` decides it. The squared lengths are within
    // a few units of roundoff, so only lengths within a relative 1e-9 of the bound need the
    // segment's own length.
    ORVEX_AVX2_INLINE int short_pairs(const PairLengths& lengths) const {
        const Lanes first = lengths.first2;
        const Lanes second = lengths.second2;
        const Lanes low = detail::constant(GLOBAL_EPSILON * GLOBAL_EPSILON * (1 - 1e-9));
        const Lanes high = detail::constant(GLOBAL_EPSILON * GLOBAL_EPSILON * (1 + 1e-9));
        const int certainly_short =
            _mm256_movemask_pd(_mm256_or_pd(detail::less(first, low), detail::less(second, low)));
        const int certainly_long =
            _mm256_movemask_pd(detail::both(detail::less(high, first), detail::less(high, second)));
        if (((certainly_short | certainly_long) & 0x7) == 0x7) {
            return certainly_short & 0x7;
        }
        int result = 0;
        for (std::size_t pair = 0; pair < 3; ++pair) {
            if (is_short(detail::kOppositeEdges[pair][0])
                || is_short(detail::kOppositeEdges[pair][1])) {
                result |= 1 << pair;
            }
        }
        return result;
    }

    // Edge `edge` of kVertexPairs is at most 1e-6 long (see short_pairs).
    ORVEX_AVX2_INLINE bool is_short(std::size_t edge) const {
        std::array<double, 8> lengths2;
        _mm256_storeu_pd(&lengths2[0], next2_);
        _mm256_storeu_pd(&lengths2[4], across2_);
        const double length2 = lengths2[kPairSlot[edge]];
        if (length2 > GLOBAL_EPSILON * GLOBAL_EPSILON * (1 + 1e-9)) {
            return false;
        }
        if (length2 < GLOBAL_EPSILON * GLOBAL_EPSILON * (1 - 1e-9)) {
            return true;
        }
        const auto& points = tetrahedron_.vertices();
        const auto& pair = detail::kVertexPairs[edge];
        return Segment<3>{points[pair[0]], points[pair[1]]}.length() <= GLOBAL_EPSILON;
    }

    const Tetrahedron& tetrahedron_;
    Vectors points_;
    Vectors rotated_[3];
    Vectors next_;
    Vectors across_;
    Lanes next2_;
    Lanes across2_;
    Lanes facet_lanes_;
    Lanes opposite_lanes_;
    std::array<double, 8> lengths_;
    Projections projections2_;
    std::array<double, 16> projections_;
    std::array<double, 4> facets_;
    std::array<double, 4> opposite_;
    std::array<bool, 3> short_pair_;
    bool in_range_{false};
    bool lengths_ready_{false};
    bool projections_ready_{false};
    bool projection_roots_ready_{false};
    bool facets_ready_{false};
};

}  // namespace orvex::internal::detail

#endif
