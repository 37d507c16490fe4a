// The batch functions of tetrahedron_internal_distance.h and triangle_internal_distance.h: the
// smallest internal distance and the status of many elements, eight or four at a time in the
// lanes of vector registers where the processor allows (batch_kernels.h), one by one
// otherwise.

#include <array>
#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

#include "internal_distance/batch_lanes.h"
#include "internal_distance/kernels/batch_kernels.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/mesh_traits.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex {
namespace internal {
namespace {

using Status = InternalDistance::ELEMENT_STATUS;
using detail::BatchLanes;

// The test hook of batch_lanes.h.
std::atomic<BatchLanes> lane_limit{BatchLanes::widest};

// What the loop over many elements needs of an element kind besides its kernel: the functions
// on one element that measure it (`Minimal`, `StatusOf`) and tell its orientation (`Sign`).
template <index_t D, index_t N, typename ElementType,
          InternalDistance (*Minimal)(const ElementType&), Status (*StatusOf)(const ElementType&),
          SIDE (*Sign)(const ElementType&)>
struct KindBase {
    static constexpr index_t kDimension = D;
    static constexpr index_t kVertices = N;
    using Element = ElementType;
    // The points of one element, by address.
    using Corners = std::array<const Point<D>*, N>;

    // The status from the smallest distance and the orientation: degenerated when some
    // internal distance is at most 1e-6, which is when the smallest one is (both scan the same
    // configurations with the same distances, NaN ones never counting).
    static Status status_of(double smallest, bool positive) {
        if (smallest <= GLOBAL_EPSILON) {
            return Status::degenerated;
        }
        return positive ? Status::valid : Status::inverted;
    }

    // A record's fields but its distance.
    struct Fields {
        InternalDistance::CONFIGURATION_TYPE type;
        unsigned char vertex;
        std::array<unsigned char, 2> vertices;
    };

    static void write(const Fields& fields, double distance, InternalDistance& record) {
        record.type = fields.type;
        record.distance = distance;
        record.vertex = fields.vertex;
        record.vertices = fields.vertices;
    }

    template <typename Element>
    static Corners corners_of(const Element& element) {
        Corners corners;
        for (index_t vertex = 0; vertex < N; ++vertex) {
            corners[vertex] = &element.vertices()[vertex].get();
        }
        return corners;
    }

    static Element element(const Corners& corners) {
        return element(corners, std::make_index_sequence<N>{});
    }

    template <std::size_t... Vertex>
    static Element element(const Corners& corners, std::index_sequence<Vertex...> /*vertices*/) {
        return Element{*corners[Vertex]...};
    }

    // The functions on one element, for the elements the lanes do not answer.
    static void measure_one(const Corners& corners, InternalDistance& minimal, Status* status) {
        const Element one = element(corners);
        minimal = Minimal(one);
        if (status != nullptr) {
            *status = StatusOf(one);
        }
    }

    static bool positive(const Corners& corners) {
        return Sign(element(corners)) == SIDE::positive;
    }
};

struct TetrahedronKind : KindBase<3, 4, Tetrahedron, minimal_tetrahedron_internal_distance,
                                  tetrahedron_status, tetrahedron_volume_sign> {
    // Writes the record of configuration `code` (see TetrahedronLanesAnswer) field by field,
    // from a table rather than by branches on a code that varies from element to element (a
    // record built aside and copied in would also be stored in parts and read back whole).
    static void write_record(int code, double distance, InternalDistance& record) {
        using Type = InternalDistance::CONFIGURATION_TYPE;
        static constexpr std::array<Fields, 7> kFields{{{Type::point_triangle, 0, {255, 255}},
                                                        {Type::point_triangle, 1, {255, 255}},
                                                        {Type::point_triangle, 2, {255, 255}},
                                                        {Type::point_triangle, 3, {255, 255}},
                                                        {Type::segment_segment, 255, {0, 1}},
                                                        {Type::segment_segment, 255, {0, 2}},
                                                        {Type::segment_segment, 255, {0, 3}}}};
        write(kFields[static_cast<std::size_t>(code)], distance, record);
    }
};

struct TriangleKind : KindBase<2, 3, Triangle<2>, minimal_triangle_internal_distance,
                               triangle_status, triangle_area_sign> {
    // Writes the record of entry `code` of the edge-and-vertex table (edge (0, 1) with vertex
    // 2, (0, 2) with 1, (1, 2) with 0), as for tetrahedra.
    static void write_record(int code, double distance, InternalDistance& record) {
        using Type = InternalDistance::CONFIGURATION_TYPE;
        static constexpr std::array<Fields, 3> kFields{{{Type::point_segment, 2, {0, 1}},
                                                        {Type::point_segment, 1, {0, 2}},
                                                        {Type::point_segment, 0, {1, 2}}}};
        write(kFields[static_cast<std::size_t>(code)], distance, record);
    }
};

#if ORVEX_SIMD_KERNELS
template <typename Kind>
struct Kernels;

template <>
struct Kernels<TetrahedronKind> {
    using Avx512 = detail::batch_avx512::SimdTetrahedronBatch;
    using Avx2 = detail::batch_avx2::SimdTetrahedronBatch;
};

template <>
struct Kernels<TriangleKind> {
    using Avx512 = detail::batch_avx512::SimdTriangleBatch;
    using Avx2 = detail::batch_avx2::SimdTriangleBatch;
};
#endif

template <typename Kind, typename CornersAt>
void measure_all(std::size_t count, const CornersAt& corners_at,
                 absl::Span<InternalDistance> minimal, absl::Span<Status> status) {
    Status* const statuses = status.empty() ? nullptr : status.data();
#if ORVEX_SIMD_KERNELS
    const BatchLanes limit = lane_limit.load(std::memory_order_relaxed);
    if (limit == BatchLanes::widest && detail::cpu_has_avx512()) {
        detail::batch_avx512::measure_in_lanes<Kind, typename Kernels<Kind>::Avx512>(
            count, corners_at, minimal.data(), statuses);
        return;
    }
    if (limit != BatchLanes::one && detail::cpu_has_avx2_fma()) {
        detail::batch_avx2::measure_in_lanes<Kind, typename Kernels<Kind>::Avx2>(
            count, corners_at, minimal.data(), statuses);
        return;
    }
#endif
    for (std::size_t e = 0; e < count; ++e) {
        Kind::measure_one(corners_at(e), minimal[e], statuses == nullptr ? nullptr : statuses + e);
    }
}

void check_sizes(const char* function, std::size_t count, std::size_t minimal, std::size_t status) {
    if (minimal != count || (status != 0 && status != count)) {
        throw std::invalid_argument(std::string{function} + ": " + std::to_string(count)
                                    + " elements, " + std::to_string(minimal)
                                    + " minimal records and " + std::to_string(status)
                                    + " statuses (expected as many, or no statuses)");
    }
}

void check_range(const char* function, index_t first, std::size_t count, index_t elements) {
    if (first > elements || count > elements - first) {
        throw std::out_of_range(std::string{function} + ": elements " + std::to_string(first)
                                + " to " + std::to_string(first + count)
                                + " (excluded) of a mesh of " + std::to_string(elements));
    }
}

// The batch over a span of elements of `Kind`; `function` names the caller in refusals.
template <typename Kind>
void measure_span(const char* function, absl::Span<const typename Kind::Element> elements,
                  absl::Span<InternalDistance> minimal, absl::Span<Status> status) {
    check_sizes(function, elements.size(), minimal.size(), status.size());
    measure_all<Kind>(
        elements.size(), [&elements](std::size_t e) { return Kind::corners_of(elements[e]); },
        minimal, status);
}

// The batch over the `minimal.size()` elements of `mesh` from `first` on.
template <typename Kind, typename Mesh>
void measure_mesh(const char* function, const Mesh& mesh, index_t first,
                  absl::Span<InternalDistance> minimal, absl::Span<Status> status) {
    using Traits = MeshTraits<Mesh>;
    check_range(function, first, minimal.size(), Traits::nb_elements(mesh));
    check_sizes(function, minimal.size(), minimal.size(), status.size());
    measure_all<Kind>(
        minimal.size(),
        [&mesh, first](std::size_t e) {
            return Kind::corners_of(Traits::simplex(mesh, first + static_cast<index_t>(e)));
        },
        minimal, status);
}

}  // namespace

void detail::limit_batch_lanes(BatchLanes limit) {
    lane_limit.store(limit, std::memory_order_relaxed);
}

void minimal_tetrahedron_internal_distances(absl::Span<const Tetrahedron> tetrahedra,
                                            absl::Span<InternalDistance> minimal,
                                            absl::Span<Status> status) {
    measure_span<TetrahedronKind>("minimal_tetrahedron_internal_distances", tetrahedra, minimal,
                                  status);
}

void minimal_tetrahedron_internal_distances(const TetrahedralSolid<3>& solid,
                                            index_t first_tetrahedron,
                                            absl::Span<InternalDistance> minimal,
                                            absl::Span<Status> status) {
    measure_mesh<TetrahedronKind>("minimal_tetrahedron_internal_distances", solid,
                                  first_tetrahedron, minimal, status);
}

void minimal_triangle_internal_distances(absl::Span<const Triangle<2>> triangles,
                                         absl::Span<InternalDistance> minimal,
                                         absl::Span<Status> status) {
    measure_span<TriangleKind>("minimal_triangle_internal_distances", triangles, minimal, status);
}

void minimal_triangle_internal_distances(const TriangulatedSurface<2>& surface,
                                         index_t first_triangle,
                                         absl::Span<InternalDistance> minimal,
                                         absl::Span<Status> status) {
    measure_mesh<TriangleKind>("minimal_triangle_internal_distances", surface, first_triangle,
                               minimal, status);
}

}  // namespace internal
}  // namespace orvex
