#pragma once

#include "internal_distance/kernels/simd_kernels.h"

#if ORVEX_SIMD_KERNELS

#include <array>
#include <cstddef>
#include <optional>

#include "orvex/background_common/internal_distance/internal_distance.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/triangle.h"

namespace orvex::internal::detail {

/// The distances of one triangle's configurations, by the base library's formulas, side by
/// side in the lanes of AVX registers (see simd_kernels.h): lane k holds entry k of the
/// vertex-pair table, (0, 1), (0, 2), (1, 2), and entry k of the edge-and-vertex table,
/// (0, 1) with 2, (0, 2) with 1, (1, 2) with 0; lane 3 repeats lane 0. Each family is computed
/// on first use. Construct it only when `detail::cpu_has_avx2_fma()`, and use it only when
/// `in_range()`.
class SimdTriangleMeasure {
public:
    explicit SimdTriangleMeasure(const Triangle<2>& triangle) { load(triangle); }

    /// Writes the first smallest vertex-to-edge record, as `minimal_triangle_internal_distance`
    /// reports it, into `result`, which must hold the default record, and tells whether the
    /// triangle was in range (otherwise `result` is left alone): the whole computation in one
    /// function. The record is written field by field where the caller wants it, with no copy
    /// of a record just built.
    ORVEX_AVX2 static bool minimal_of(const Triangle<2>& triangle, InternalDistance& result) {
        const Lanes3 lanes = lanes_of(triangle);
        const Vectors& from = lanes.from;
        const Vectors& to = lanes.to;
        const Vectors& opposite = lanes.opposite;
        const Vectors edge = to - from;
        if (!detail::in_kernel_range(edge)) {
            return false;
        }
        const Lanes distances =
            _mm256_sqrt_pd(detail::projection_distance2(edge, opposite - from, opposite - to));
        // Lane 3 repeats lane 0: the minimum of lanes (0, 2) and (1, 3), then of both.
        const Lanes pairs =
            detail::minimum(distances, _mm256_permute2f128_pd(distances, distances, 0x01));
        const Lanes smallest = detail::minimum(pairs, _mm256_permute_pd(pairs, 0b0101));
        const int hits = _mm256_movemask_pd(_mm256_cmp_pd(distances, smallest, _CMP_EQ_OQ)) & 0x7;
        if (hits != 0) {
            const auto entry = static_cast<std::size_t>(__builtin_ctz(hits));
            result.type = InternalDistance::CONFIGURATION_TYPE::point_segment;
            result.distance = _mm256_cvtsd_f64(smallest);
            result.vertex = kOppositeVertex[entry];
            result.vertices = kEdges[entry];
        }
        return true;
    }

    /// False for triangles outside the range where the kernels round as the base library.
    [[nodiscard]] bool in_range() const { return in_range_; }

    /// Entry `pair` of the vertex-pair table: `point_point_distance`.
    double vertex_pair(std::size_t pair) {
        if (!pairs_ready_) {
            compute_pairs();
        }
        return pairs_[pair];
    }

    /// Entry `entry` of the edge-and-vertex table: `point_segment_distance`.
    double vertex_to_edge(std::size_t entry) {
        if (!edges_ready_) {
            compute_edges();
        }
        return edges_[entry];
    }

private:
    using Lanes = detail::Lanes;
    using Vectors = detail::LaneVectors<2>;

    static constexpr std::array<std::array<unsigned char, 2>, 3> kEdges{{{0, 1}, {0, 2}, {1, 2}}};
    static constexpr std::array<unsigned char, 3> kOppositeVertex{2, 1, 0};

    // Lane k: the edge of entry k, from its lower to its higher vertex, and the vertex off it;
    // lane 3 repeats lane 0. Built straight from the points, with no shuffle.
    struct Lanes3 {
        Vectors from;
        Vectors to;
        Vectors opposite;
    };

    ORVEX_AVX2_INLINE static Lanes3 lanes_of(const Triangle<2>& triangle) {
        const auto& points = triangle.vertices();
        const Point<2>& p0 = points[0].get();
        const Point<2>& p1 = points[1].get();
        const Point<2>& p2 = points[2].get();
        Lanes3 lanes;
        for (index_t axis = 0; axis < 2; ++axis) {
            // _mm256_set_pd takes lanes 3 to 0.
            lanes.from.axis[axis] =
                _mm256_set_pd(p0.value(axis), p1.value(axis), p0.value(axis), p0.value(axis));
            lanes.to.axis[axis] =
                _mm256_set_pd(p1.value(axis), p2.value(axis), p2.value(axis), p1.value(axis));
            lanes.opposite.axis[axis] =
                _mm256_set_pd(p2.value(axis), p0.value(axis), p1.value(axis), p2.value(axis));
        }
        return lanes;
    }

    ORVEX_AVX2 void load(const Triangle<2>& triangle) {
        const Lanes3 lanes = lanes_of(triangle);
        from_ = lanes.from;
        to_ = lanes.to;
        opposite_ = lanes.opposite;
        edge_ = to_ - from_;
        in_range_ = detail::in_kernel_range(edge_);
    }

    // The base library's point-to-point distance: the square root of the squared length.
    ORVEX_AVX2 void compute_pairs() {
        _mm256_storeu_pd(pairs_.data(), _mm256_sqrt_pd(detail::dot(edge_, edge_)));
        pairs_ready_ = true;
    }

    // The base library's point-to-segment distance, the vertex off each edge onto it.
    ORVEX_AVX2 void compute_edges() {
        _mm256_storeu_pd(edges_.data(), _mm256_sqrt_pd(detail::projection_distance2(
                                            edge_, opposite_ - from_, opposite_ - to_)));
        edges_ready_ = true;
    }

    Vectors from_;
    Vectors to_;
    Vectors opposite_;
    Vectors edge_;
    std::array<double, 4> pairs_;
    std::array<double, 4> edges_;
    bool in_range_{false};
    bool pairs_ready_{false};
    bool edges_ready_{false};
};

}  // namespace orvex::internal::detail

#endif
