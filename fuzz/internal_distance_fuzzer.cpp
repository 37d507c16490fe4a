// Feeds triangles and tetrahedra with arbitrary coordinates (NaN, infinities, -0.0,
// subnormals, the extremes, coincident and aligned points) and thresholds to the internal
// distance functions, and checks their results against the contracts, recomputed here from
// the base library's distances:
// - the threshold scans return the records of the first family that has any within the
//   threshold, all of that family's qualifying records, in table order, nothing else;
// - the minimal distance is the first smallest record of its families, or the default record;
// - `has_internal_distance_below_epsilon`, the status and the count of a span agree;
// - the caches answer what the minimal distance gives, and the same for permuted vertices;
// - the batch functions give, in four and in eight lanes, the records and statuses of the
//   functions on one element, bit for bit, on a span and on a mesh.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_common.h"
#include "internal_distance/batch_lanes.h"
#include "orvex/background_common/internal_distance/internal_distance.h"
#include "orvex/background_common/internal_distance/internal_distance_cache.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"
#include "polvane/geometry/distance.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/segment.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/mesh_traits.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace orvex {
namespace {

using fuzz::check;
using internal::InternalDistance;
using internal::InternalDistances;
using Type = InternalDistance::CONFIGURATION_TYPE;
using Status = InternalDistance::ELEMENT_STATUS;
using Family = std::vector<InternalDistance>;

constexpr double EPSILON = 1e-6;

bool same_record(const InternalDistance& a, const InternalDistance& b) {
    return a.type == b.type && a.vertex == b.vertex && a.vertices == b.vertices
           && (a.distance == b.distance || (std::isnan(a.distance) && std::isnan(b.distance)));
}

std::string describe(const InternalDistances& records) {
    std::string text;
    for (const auto& record : records) {
        text += "[" + record.string() + "] ";
    }
    return text;
}

// The records of `family` within `threshold` (a NaN distance never is).
Family within(const Family& family, double threshold) {
    Family result;
    for (const auto& record : family) {
        if (record.distance <= threshold) {
            result.push_back(record);
        }
    }
    return result;
}

// What a threshold scan over `families` (in order) must return.
Family first_family_within(const std::vector<Family>& families, double threshold) {
    for (const auto& family : families) {
        Family found = within(family, threshold);
        if (!found.empty()) {
            return found;
        }
    }
    return {};
}

// The first strictly smallest record, starting from the default one.
InternalDistance first_smallest(const std::vector<Family>& families) {
    InternalDistance result;
    for (const auto& family : families) {
        for (const auto& record : family) {
            if (record.distance < result.distance) {
                result = record;
            }
        }
    }
    return result;
}

void check_same(const InternalDistances& actual, const Family& expected, const std::string& what) {
    bool same = actual.size() == expected.size();
    for (std::size_t i = 0; same && i < actual.size(); ++i) {
        same = same_record(actual[i], expected[i]);
    }
    InternalDistances expected_list(expected.begin(), expected.end());
    check(same, what + ": got " + describe(actual) + "expected " + describe(expected_list));
}

template <index_t D>
Point<D> make_point(FuzzedDataProvider& data) {
    Point<D> point;
    for (index_t axis = 0; axis < D; ++axis) {
        point.set_value(axis, orvex::fuzz::awkward_double(data));
    }
    return point;
}

template <std::size_t N, index_t D>
bool all_finite(const std::array<Point<D>, N>& points) {
    return std::all_of(points.begin(), points.end(),
                       [](const Point<D>& point) { return orvex::is_finite(point); });
}

using Pair = std::array<unsigned char, 2>;

bool same_bits(const InternalDistance& a, const InternalDistance& b) {
    return a.type == b.type && a.vertex == b.vertex && a.vertices == b.vertices
           && std::memcmp(&a.distance, &b.distance, sizeof(double)) == 0;
}

// The batch functions, in four and in eight lanes, on a span that holds the element at two
// places among copies of a valid one (entries 2 and 4 of 5: inside a group of four and in the
// tail after it, or inside one partly filled group of eight), and on `mesh`, whose one element
// it is, against the functions on one element (`minimal` and `status` for it). Without lanes
// the batch functions call those functions themselves.
template <typename Element, typename Mesh, typename Batch>
void check_batches(const Element& element, const Element& valid, const Mesh& mesh,
                   const Batch& batch, const InternalDistance& minimal, Status status,
                   const InternalDistance& valid_minimal, const std::string& what) {
    using orvex::internal::detail::BatchLanes;
    const std::array<Element, 5> elements{valid, valid, element, valid, element};
    std::array<InternalDistance, 5> records;
    std::array<Status, 5> statuses;
    for (const BatchLanes limit : {BatchLanes::widest, BatchLanes::four}) {
        orvex::internal::detail::limit_batch_lanes(limit);
        batch(absl::MakeConstSpan(elements), absl::MakeSpan(records), absl::MakeSpan(statuses));
        for (std::size_t e = 0; e < elements.size(); ++e) {
            const bool mine = e == 2 || e == 4;
            if (!same_bits(records[e], mine ? minimal : valid_minimal)
                || statuses[e] != (mine ? status : Status::valid)) {
                check(false,
                      what + " on a span, entry " + std::to_string(e) + ": " + records[e].string());
            }
        }
        batch(mesh, 0, absl::MakeSpan(records.data(), 1), absl::MakeSpan(statuses.data(), 1));
        if (!same_bits(records[0], minimal) || statuses[0] != status) {
            check(false, what + " on a mesh: " + records[0].string());
        }
    }
    orvex::internal::detail::limit_batch_lanes(BatchLanes::widest);
}

// The element of these points alone in a mesh of its own, adjacencies computed: it has no
// neighbour, so the adjacency families never show.
template <typename Mesh, std::size_t N>
Mesh mesh_of_one(const std::array<Point<Mesh::dimension>, N>& points) {
    using Traits = orvex::MeshTraits<Mesh>;
    Mesh mesh;
    typename Traits::Builder builder{mesh};
    std::array<index_t, N> vertices{};
    for (std::size_t v = 0; v < N; ++v) {
        vertices[v] = builder.create_point(points[v]);
    }
    Traits::create_element(builder, vertices);
    Traits::compute_adjacencies(builder);
    return mesh;
}

// The status the contracts give: degenerated when some internal distance is at most 1e-6
// (`below`), otherwise valid for a positive orientation sign and inverted for any other.
Status expected_status(bool below, SIDE sign) {
    if (below) {
        return Status::degenerated;
    }
    return sign == SIDE::positive ? Status::valid : Status::inverted;
}

// The count of degenerated elements of a span holding `copies` elements of this status, the
// others valid: nothing when one is inverted.
std::optional<unsigned int> expected_count(Status status, unsigned int copies) {
    if (status == Status::inverted) {
        return std::nullopt;
    }
    return status == Status::degenerated ? copies : 0U;
}

void run_triangle(FuzzedDataProvider& data) {
    std::array<Point<2>, 3> p{make_point<2>(data), make_point<2>(data), make_point<2>(data)};
    if (data.ConsumeBool()) {
        p[2] = p[data.ConsumeIntegralInRange<int>(0, 1)];
    }
    const Triangle<2> triangle{p[0], p[1], p[2]};
    const double threshold = orvex::fuzz::awkward_double(data);

    constexpr std::array<Pair, 3> pairs{{{0, 1}, {0, 2}, {1, 2}}};
    constexpr std::array<unsigned char, 3> opposite{2, 1, 0};
    Family point_point;
    Family point_segment;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto [a, b] = pairs[i];
        point_point.emplace_back(Type::point_point, orvex::point_point_distance<2>(p[a], p[b]),
                                 pairs[i]);
        const double d = orvex::point_segment_distance<2>(p[opposite[i]], Segment<2>{p[a], p[b]});
        point_segment.emplace_back(d, opposite[i], pairs[i]);
    }

    const InternalDistance::Options options{threshold, data.ConsumeBool()};
    check_same(orvex::internal::fast_triangle_internal_distances(triangle, options),
               first_family_within({point_point, point_segment}, threshold),
               "fast_triangle_internal_distances");
    const InternalDistance minimal = orvex::internal::minimal_triangle_internal_distance(triangle);
    check(same_record(minimal, first_smallest({point_segment})),
          "minimal_triangle_internal_distance: " + minimal.string());

    const bool below = orvex::internal::has_internal_distance_below_epsilon(triangle);
    check(below == !within(point_segment, EPSILON).empty(), "has_internal_distance_below_epsilon");
    const Status status = orvex::internal::triangle_status(triangle);
    check(status == expected_status(below, orvex::triangle_area_sign(triangle)), "triangle_status");

    // A span of this triangle between two valid ones.
    const std::array<Point<2>, 3> unit{Point<2>{{0, 0}}, Point<2>{{1, 0}}, Point<2>{{0, 1}}};
    const Triangle<2> valid{unit[0], unit[1], unit[2]};
    const std::array<Triangle<2>, 3> span{valid, triangle, valid};
    const auto count = orvex::internal::compute_number_of_negative_triangles(span);
    check(count == expected_count(status, 1), "compute_number_of_negative_triangles");

    // The same triangle in a surface of its own: no neighbour, so the adjacency family never
    // shows, and the answer is that of the bare triangle.
    const auto surface = mesh_of_one<orvex::TriangulatedSurface<2>>(p);
    check_same(orvex::internal::fast_triangle_internal_distances(surface, 0, options),
               first_family_within({point_point, point_segment}, threshold),
               "fast_triangle_internal_distances on a surface");

    check_batches(
        triangle, valid, surface,
        [](auto&&... arguments) {
            orvex::internal::minimal_triangle_internal_distances(arguments...);
        },
        minimal, status, orvex::internal::minimal_triangle_internal_distance(valid),
        "minimal_triangle_internal_distances");

    orvex::internal::ThreePointsInternalDistance cache;
    const double cached = cache.smallest_internal_distance(triangle);
    check(std::memcmp(&cached, &minimal.distance, sizeof(double)) == 0,
          "ThreePointsInternalDistance differs from the minimal distance");
    const Triangle<2> rotated{p[1], p[2], p[0]};
    const double again = cache.smallest_internal_distance(rotated);
    const double expected_again =
        all_finite(p) ? cached
                      : orvex::internal::minimal_triangle_internal_distance(rotated).distance;
    check(std::memcmp(&again, &expected_again, sizeof(double)) == 0,
          "ThreePointsInternalDistance: rotated triangle");
}

void run_tetrahedron(FuzzedDataProvider& data) {
    std::array<Point<3>, 4> p{make_point<3>(data), make_point<3>(data), make_point<3>(data),
                              make_point<3>(data)};
    if (data.ConsumeBool()) {
        p[3] = p[data.ConsumeIntegralInRange<int>(0, 2)];
    }
    if (data.ConsumeBool()) {
        // Coplanar: the fourth point in the plane z = 0 of the first three.
        for (auto& point : p) {
            point.set_value(2, 0.0);
        }
    }
    const Tetrahedron tetrahedron{p[0], p[1], p[2], p[3]};
    const double threshold = orvex::fuzz::awkward_double(data);

    constexpr std::array<Pair, 6> pairs{{{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}};
    constexpr std::array<std::pair<Pair, unsigned char>, 12> edge_vertex{{{{0, 1}, 2},
                                                                          {{0, 1}, 3},
                                                                          {{0, 2}, 1},
                                                                          {{0, 2}, 3},
                                                                          {{0, 3}, 1},
                                                                          {{0, 3}, 2},
                                                                          {{1, 2}, 0},
                                                                          {{1, 2}, 3},
                                                                          {{1, 3}, 0},
                                                                          {{1, 3}, 2},
                                                                          {{2, 3}, 0},
                                                                          {{2, 3}, 1}}};
    constexpr std::array<std::array<unsigned char, 3>, 4> facets{
        {{1, 2, 3}, {2, 3, 0}, {3, 0, 1}, {0, 1, 2}}};
    constexpr std::array<std::pair<Pair, Pair>, 3> opposite_edges{
        {{{0, 1}, {2, 3}}, {{0, 2}, {1, 3}}, {{0, 3}, {1, 2}}}};

    Family point_point;
    for (const auto& pair : pairs) {
        point_point.emplace_back(Type::point_point,
                                 orvex::point_point_distance<3>(p[pair[0]], p[pair[1]]), pair);
    }
    Family point_segment;
    for (const auto& [edge, vertex] : edge_vertex) {
        point_segment.emplace_back(
            orvex::point_segment_distance<3>(p[vertex], Segment<3>{p[edge[0]], p[edge[1]]}), vertex,
            edge);
    }
    Family point_triangle;
    for (unsigned char v = 0; v < 4; ++v) {
        const Triangle<3> facet{p[facets[v][0]], p[facets[v][1]], p[facets[v][2]]};
        point_triangle.emplace_back(std::get<0>(orvex::point_triangle_distance<3>(p[v], facet)), v);
    }
    Family segment_segment;
    for (const auto& [first, second] : opposite_edges) {
        const Segment<3> s0{p[first[0]], p[first[1]]};
        const Segment<3> s1{p[second[0]], p[second[1]]};
        if (s0.length() <= EPSILON || s1.length() <= EPSILON) {
            continue;
        }
        segment_segment.emplace_back(
            Type::segment_segment, std::get<0>(orvex::segment_segment_distance<3>(s0, s1)), first);
    }

    const InternalDistance::Options options{threshold, data.ConsumeBool()};
    const Family expected_fast = first_family_within(
        {point_point, point_segment, point_triangle, segment_segment}, threshold);
    check_same(orvex::internal::fast_tetrahedron_internal_distances(tetrahedron, options),
               expected_fast, "fast_tetrahedron_internal_distances");
    const InternalDistance minimal =
        orvex::internal::minimal_tetrahedron_internal_distance(tetrahedron);
    check(same_record(minimal, first_smallest({point_triangle, segment_segment})),
          "minimal_tetrahedron_internal_distance: " + minimal.string());

    const bool below = orvex::internal::has_internal_distance_below_epsilon(tetrahedron);
    check(below
              == (!within(point_triangle, EPSILON).empty()
                  || !within(segment_segment, EPSILON).empty()),
          "has_internal_distance_below_epsilon");
    const Status status = orvex::internal::tetrahedron_status(tetrahedron);
    check(status == expected_status(below, orvex::tetrahedron_volume_sign(tetrahedron)),
          "tetrahedron_status");
    const std::array<Tetrahedron, 2> span{tetrahedron, tetrahedron};
    const auto count = orvex::internal::compute_number_of_negative_tetrahedra(span);
    check(count == expected_count(status, 2), "compute_number_of_negative_tetrahedra");

    const auto solid = mesh_of_one<orvex::TetrahedralSolid<3>>(p);
    check_same(orvex::internal::fast_tetrahedron_internal_distances(solid, 0, options),
               expected_fast, "fast_tetrahedron_internal_distances on a solid");

    const std::array<Point<3>, 4> corner{Point<3>{{0, 0, 0}}, Point<3>{{1, 0, 0}},
                                         Point<3>{{0, 1, 0}}, Point<3>{{0, 0, 1}}};
    const Tetrahedron valid{corner[0], corner[1], corner[2], corner[3]};
    check_batches(
        tetrahedron, valid, solid,
        [](auto&&... arguments) {
            orvex::internal::minimal_tetrahedron_internal_distances(arguments...);
        },
        minimal, status, orvex::internal::minimal_tetrahedron_internal_distance(valid),
        "minimal_tetrahedron_internal_distances");

    orvex::internal::FourPointsInternalDistance cache;
    const double cached = cache.smallest_internal_distance(tetrahedron);
    check(std::memcmp(&cached, &minimal.distance, sizeof(double)) == 0,
          "FourPointsInternalDistance differs from the minimal distance");
    const Tetrahedron swapped{p[1], p[0], p[2], p[3]};
    const double again = cache.smallest_internal_distance(swapped);
    const double expected_again =
        all_finite(p) ? cached
                      : orvex::internal::minimal_tetrahedron_internal_distance(swapped).distance;
    check(std::memcmp(&again, &expected_again, sizeof(double)) == 0,
          "FourPointsInternalDistance: swapped vertices");
}

// One input of the fuzzer.
int fuzz_one_input(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    if (data.ConsumeBool()) {
        run_triangle(data);
    } else {
        run_tetrahedron(data);
    }
    return 0;
}

}  // namespace
}  // namespace orvex

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    return orvex::fuzz_one_input(bytes, size);
}
