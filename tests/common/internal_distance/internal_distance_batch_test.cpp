// The batch functions against their one oracle, the functions on one element: the same
// records, the same bits, the same statuses, on meshes and on elements chosen to reach every
// decision of the vector path and every way out of it.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "internal_distance/batch_lanes.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"
#include "orvex_testing/mesh_generators.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/mesh_traits.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex {
namespace internal {
namespace {

using Status = InternalDistance::ELEMENT_STATUS;

// What the suite needs of a mesh kind: its elements from points or from a mesh.
template <typename MeshType>
struct KindOf {
    using Mesh = MeshType;
    using Traits = MeshTraits<Mesh>;
    static constexpr index_t kDimension = Traits::dimension;
    using Element = typename Traits::Simplex;
    using Points = std::array<Point<kDimension>, Traits::nb_element_vertices>;

    static Element element(const Points& p) {
        return std::apply([](const auto&... corners) { return Element{corners...}; }, p);
    }

    static Element element(const Mesh& mesh, index_t e) { return Traits::simplex(mesh, e); }

    static index_t count(const Mesh& mesh) { return Traits::nb_elements(mesh); }

    static constexpr bool solid = kDimension == 3;

    static InternalDistance minimal(const Element& e) {
        if constexpr (solid) {
            return minimal_tetrahedron_internal_distance(e);
        } else {
            return minimal_triangle_internal_distance(e);
        }
    }

    static Status status(const Element& e) {
        if constexpr (solid) {
            return tetrahedron_status(e);
        } else {
            return triangle_status(e);
        }
    }

    template <typename... Arguments>
    static void batch(Arguments&&... arguments) {
        if constexpr (solid) {
            minimal_tetrahedron_internal_distances(std::forward<Arguments>(arguments)...);
        } else {
            minimal_triangle_internal_distances(std::forward<Arguments>(arguments)...);
        }
    }
};

using Tetrahedra = KindOf<TetrahedralSolid<3>>;
using Triangles = KindOf<TriangulatedSurface<2>>;

// Every field, the distance by its bits.
auto fields(const InternalDistance& record) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &record.distance, sizeof bits);
    return std::make_tuple(record.type, bits, record.vertex, record.vertices);
}

constexpr std::array<detail::BatchLanes, 3> kLanes{
    {detail::BatchLanes::widest, detail::BatchLanes::four, detail::BatchLanes::one}};

// Runs `check` with each lane limit of the batch functions (the widest the processor has,
// four, none), the limit restored after.
template <typename Check>
void for_each_lane_limit(const Check& check) {
    for (const detail::BatchLanes limit : kLanes) {
        SCOPED_TRACE(testing::Message() << "lane limit " << static_cast<int>(limit));
        detail::limit_batch_lanes(limit);
        check();
        detail::limit_batch_lanes(detail::BatchLanes::widest);
    }
}

// The batch on `elements` (as a span, with and without statuses) equals the oracle entry by
// entry, on every path.
template <typename Kind>
void expect_batch_matches(const std::vector<typename Kind::Element>& elements) {
    const std::size_t n = elements.size();
    std::vector<InternalDistance> expected(n);
    std::vector<Status> expected_status(n);
    for (std::size_t e = 0; e < n; ++e) {
        expected[e] = Kind::minimal(elements[e]);
        expected_status[e] = Kind::status(elements[e]);
    }
    for_each_lane_limit([&] {
        std::vector<InternalDistance> minimal(n);
        std::vector<Status> status(n);
        Kind::batch(absl::MakeConstSpan(elements), absl::MakeSpan(minimal), absl::MakeSpan(status));
        std::vector<InternalDistance> alone(n);
        Kind::batch(absl::MakeConstSpan(elements), absl::MakeSpan(alone), absl::Span<Status>{});
        for (std::size_t e = 0; e < n; ++e) {
            SCOPED_TRACE(testing::Message() << "element " << e << " of " << n);
            ASSERT_EQ(fields(minimal[e]), fields(expected[e]));
            ASSERT_EQ(fields(alone[e]), fields(expected[e]));
            ASSERT_EQ(status[e], expected_status[e]);
        }
    });
}

template <index_t D>
double squared_length(const Point<D>& vector) {
    double result = vector.value(0) * vector.value(0);
    for (index_t axis = 1; axis < D; ++axis) {
        result += vector.value(axis) * vector.value(axis);
    }
    return result;
}

template <index_t D>
double length(const Point<D>& vector) {
    return std::sqrt(squared_length(vector));
}

// The apex's two legs have different squared lengths and the same rounded length: a choice of
// the longest edge that the squares alone would make otherwise than the lengths.
template <index_t D>
bool legs_tie(const Point<D>& a, const Point<D>& b, const Point<D>& apex) {
    const double leg_a = squared_length(apex - a);
    const double leg_b = squared_length(apex - b);
    return leg_a != leg_b && std::sqrt(leg_a) == std::sqrt(leg_b);
}

template <typename Kind>
class InternalDistanceBatch : public testing::Test {};

using Kinds = testing::Types<Triangles, Tetrahedra>;

struct KindNames {
    template <typename Kind>
    static std::string GetName(int) {
        return Kind::kDimension == 2 ? "Triangles" : "Tetrahedra";
    }
};

TYPED_TEST_SUITE(InternalDistanceBatch, Kinds, KindNames);

// Jittered grids, and exact ones, whose edges have equal or nearly equal lengths; whole meshes
// and ranges of them, of every length modulo 4.
TYPED_TEST(InternalDistanceBatch, MatchesOneByOneOnMeshes) {
    using Kind = TypeParam;
    for (const double jitter : {0.1, 0.0}) {
        const auto mesh = test::jittered_grid<typename Kind::Mesh>(5, jitter, false);
        std::vector<typename Kind::Element> elements;
        for (index_t e = 0; e < Kind::count(mesh); ++e) {
            elements.push_back(Kind::element(mesh, e));
        }
        expect_batch_matches<Kind>(elements);
        for_each_lane_limit([&] {
            for (const index_t first : {0u, 3u}) {
                for (const index_t size : {0u, 1u, 6u, 7u, 9u, Kind::count(mesh) - first}) {
                    std::vector<InternalDistance> minimal(size);
                    std::vector<Status> status(size);
                    Kind::batch(mesh, first, absl::MakeSpan(minimal), absl::MakeSpan(status));
                    for (index_t e = 0; e < size; ++e) {
                        const auto element = Kind::element(mesh, first + e);
                        ASSERT_EQ(fields(minimal[e]), fields(Kind::minimal(element)));
                        ASSERT_EQ(status[e], Kind::status(element));
                    }
                }
            }
        });
    }
}

// Random elements of either orientation, then nearly flat ones (large ones among them, whose
// sign takes the exact stage), collapsed, needle, isosceles (two legs whose squared lengths
// tell what their lengths do not), a short edge passed close by a long one (shorter than 1e-6,
// longer, and too close to 1e-6 to tell on its square), exact small multiples of 0.1, far and
// small, extreme scales (1e-250, 1e200, 1e308), NaN and infinite coordinates, in mixed order.
TYPED_TEST(InternalDistanceBatch, MatchesOneByOneOnSpecialElements) {
    using Kind = TypeParam;
    constexpr index_t D = Kind::kDimension;
    constexpr std::size_t N = D + 1;
    std::mt19937_64 random{20250101};
    std::uniform_real_distribution<double> unit{-1, 1};
    const auto random_point = [&](double scale) {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, scale * unit(random));
        }
        return point;
    };
    std::vector<typename Kind::Points> owners(3001);
    for (std::size_t i = 0; i < owners.size(); ++i) {
        auto& p = owners[i];
        for (auto& point : p) {
            point = random_point(1);
        }
        switch (i % 11) {
            case 1:  // nearly flat; at 1e12, 1e-4 off flat, beyond what the sign's filter sees
                p[N - 1] = p[0] + (p[1] - p[0]) * 0.4 + (p[N - 2] - p[0]) * 0.3
                           + random_point(i % 3 == 0 ? 1e-7 : 1e-15);
                if (i % 3 == 2) {
                    for (auto& point : p) {
                        point = point * 1e12;
                    }
                }
                break;
            case 2:  // collapsed
                p[i % N] = p[(i + 1) % N];
                break;
            case 3:  // needle
                p[1] = p[0] + random_point(1e-7);
                break;
            case 4: {  // isosceles, its legs longest, their squares apart and roots alike
                const Point<D> edge = p[1] - p[0];
                Point<D> normal;
                if constexpr (D == 2) {
                    normal = Point<2>{{-edge.value(1), edge.value(0)}};
                } else {
                    const Point<3> r = random_point(1);
                    normal = Point<3>{{edge.value(1) * r.value(2) - edge.value(2) * r.value(1),
                                       edge.value(2) * r.value(0) - edge.value(0) * r.value(2),
                                       edge.value(0) * r.value(1) - edge.value(1) * r.value(0)}};
                }
                normal = normal * (2 * length(edge) / length(normal));
                p[N - 1] = (p[0] + p[1]) * 0.5 + normal;
                for (int nudge = 0; nudge < 200 && !legs_tie(p[0], p[1], p[N - 1]); ++nudge) {
                    p[N - 1].set_value(0, std::nextafter(p[N - 1].value(0), 2.0));
                }
                break;
            }
            case 5: {  // an edge of about 1e-6 that a long opposite edge passes at 1e-8
                const double half = 0.5
                                    * (i % 3 == 0   ? 1e-6 * (1 + 1e-10 * unit(random))
                                       : i % 3 == 1 ? 5e-7
                                                    : 2e-6);
                for (std::size_t v = 0; v < N; ++v) {
                    p[v] = Point<D>{};
                }
                p[0].set_value(0, -1 - unit(random));
                p[N - 1].set_value(0, 1 + unit(random));
                p[1].set_value(D - 1, half);
                p[2].set_value(D - 1, -half);
                if constexpr (D == 3) {
                    const double gap = 1e-8 * (1 + unit(random));
                    p[1].set_value(1, gap);
                    p[2].set_value(1, gap);
                }
                break;
            }
            case 6:  // exact multiples of 0.1
                for (auto& point : p) {
                    for (index_t axis = 0; axis < D; ++axis) {
                        point.set_value(axis, 0.1 * static_cast<int>(4 * unit(random)));
                    }
                }
                break;
            case 7: {  // far and small
                Point<D> far;
                far.set_value(0, 1e6);
                far.set_value(D - 1, -3e5);
                for (auto& point : p) {
                    point = point * 1e-3 + far;
                }
                break;
            }
            case 8:  // extreme scales
                for (auto& point : p) {
                    point = point * (i % 3 == 0 ? 1e-250 : i % 3 == 1 ? 1e200 : 1e308);
                }
                break;
            case 9:  // non-finite
                p[i % N].set_value(0, i % 2 == 0 ? std::numeric_limits<double>::quiet_NaN()
                                                 : std::numeric_limits<double>::infinity());
                break;
            default:
                break;
        }
    }
    std::vector<typename Kind::Element> elements;
    for (const auto& p : owners) {
        elements.push_back(Kind::element(p));
    }
    expect_batch_matches<Kind>(elements);
}

TYPED_TEST(InternalDistanceBatch, RefusesOutputsOfTheWrongSize) {
    using Kind = TypeParam;
    const auto mesh = test::jittered_grid<typename Kind::Mesh>(2, 0.1, false);
    const index_t n = Kind::count(mesh);
    std::vector<typename Kind::Element> elements;
    for (index_t e = 0; e < n; ++e) {
        elements.push_back(Kind::element(mesh, e));
    }
    std::vector<InternalDistance> minimal(n + 1);
    std::vector<Status> status(n + 1, Status::valid);
    EXPECT_THROW(
        Kind::batch(absl::MakeConstSpan(elements), absl::MakeSpan(minimal), absl::Span<Status>{}),
        std::invalid_argument);
    EXPECT_THROW(Kind::batch(absl::MakeConstSpan(elements), absl::MakeSpan(minimal.data(), n),
                             absl::MakeSpan(status)),
                 std::invalid_argument);
    EXPECT_THROW(Kind::batch(mesh, 0, absl::MakeSpan(minimal), absl::Span<Status>{}),
                 std::out_of_range);
    EXPECT_THROW(Kind::batch(mesh, n + 1, absl::Span<InternalDistance>{}, absl::Span<Status>{}),
                 std::out_of_range);
    EXPECT_THROW(
        Kind::batch(mesh, 1, absl::MakeSpan(minimal.data(), n - 1), absl::MakeSpan(status)),
        std::invalid_argument);
    EXPECT_EQ(status[0], Status::valid);  // nothing written
}

}  // namespace
}  // namespace internal
}  // namespace orvex
