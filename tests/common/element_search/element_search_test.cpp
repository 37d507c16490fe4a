#include "orvex/background_common/element_search/element_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "orvex_testing/mesh_generators.h"
#include "orvex_testing/mesh_kinds.h"
#include "orvex_testing/movable_search.h"
#include "orvex_testing/nearest_elements.h"
#include "polvane/mesh/distance_to_element.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex {
namespace internal {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Reads a tetrahedral mesh of the test data (Medit ASCII: the "Vertices" and "Tetrahedra"
// sections, 1-based indices, one reference number after each entry).
TetrahedralSolid<3> read_medit_solid(const std::string& name) {
    std::ifstream file{std::string{ORVEX_TEST_DATA_DIR} + "/meshes/" + name};
    EXPECT_TRUE(file) << name;
    TetrahedralSolid<3> solid;
    TetrahedralSolidBuilder<3> builder{solid};
    std::string word;
    while (file >> word) {
        std::size_t count = 0;
        if (word == "Vertices") {
            file >> count;
            for (std::size_t i = 0; i < count; ++i) {
                double x = 0;
                double y = 0;
                double z = 0;
                int reference = 0;
                file >> x >> y >> z >> reference;
                builder.create_point(Point3D{{x, y, z}});
            }
        } else if (word == "Tetrahedra") {
            file >> count;
            for (std::size_t i = 0; i < count; ++i) {
                std::array<index_t, 4> vertices{};
                int reference = 0;
                file >> vertices[0] >> vertices[1] >> vertices[2] >> vertices[3] >> reference;
                for (index_t& vertex : vertices) {
                    --vertex;
                }
                builder.create_tetrahedron(vertices);
            }
        }
    }
    builder.compute_polyhedron_adjacencies();
    return solid;
}

// The search's answer must be one of the nearest elements when one lies within the tolerance,
// and nothing otherwise.
template <typename Mesh, index_t D>
void expect_matches_brute_force(const ElementSearch<Mesh>& search, const Mesh& mesh,
                                const Point<D>& point) {
    const test::NearestElements expected = test::nearest_elements(mesh, point);
    const auto answer = search.initial_containing_element(point);
    if (!(expected.distance <= GLOBAL_EPSILON)) {
        EXPECT_FALSE(answer) << point.string() << " best " << expected.distance;
        return;
    }
    ASSERT_TRUE(answer) << point.string() << " best " << expected.distance;
    EXPECT_TRUE(expected.holds(*answer))
        << point.string() << " answered " << *answer << ", nearest at " << expected.distance;
}

// The first `count` elements of a generated mesh, over all its points.
// The mesh of `source`'s points and its first `count` elements.
template <typename Mesh>
Mesh first_elements(const Mesh& source, index_t count) {
    using Traits = MeshTraits<Mesh>;
    Mesh result;
    typename Traits::Builder builder{result};
    for (index_t v = 0; v < source.nb_vertices(); ++v) {
        builder.create_point(source.point(v));
    }
    for (index_t e = 0; e < count; ++e) {
        Traits::create_element(builder, Traits::element_vertices(source, e));
    }
    return result;
}

// Query points around the unit box: uniform inside, on grid vertices and faces, just inside
// and just outside the box by less and more than the tolerance, and far away.
template <index_t D>
std::vector<Point<D>> query_points(std::mt19937& random, index_t grid, int rounds = 60) {
    std::vector<Point<D>> points;
    std::uniform_real_distribution<double> unit{0, 1};
    std::uniform_int_distribution<index_t> node{0, grid};
    for (int i = 0; i < rounds; ++i) {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, unit(random));
        }
        points.push_back(point);
        Point<D> on_grid;
        for (index_t axis = 0; axis < D; ++axis) {
            on_grid.set_value(axis, static_cast<double>(node(random)) / grid);
        }
        points.push_back(on_grid);
        for (const double offset : {-0.5e-6, 0.5e-6, 2e-6, 0.5}) {
            Point<D> outside = point;
            outside.set_value(random() % D, random() % 2 == 0 ? -offset : 1 + offset);
            points.push_back(outside);
        }
    }
    return points;
}

// What varies between the three mesh kinds in the tests below: a small mesh of n elements
// (a curve of n edges; the first n elements of a grid of a few cells) with query points on its
// grid of `grid(n)` cells, and a large grid, each with its rounds of query points.
template <typename Mesh>
struct Kind {
    static constexpr index_t D = MeshTraits<Mesh>::dimension;
    using Builder = typename MeshTraits<Mesh>::Builder;
    static constexpr unsigned seed = D;
    static constexpr int small_rounds = D == 1 ? 10 : 8;
    static constexpr index_t large_grid = D == 1 ? 1031 : D == 2 ? 23 : 6;
    static constexpr int large_rounds = D == 3 ? 15 : 60;

    static index_t grid(index_t n) { return D == 1 ? n : D == 2 ? 6 : 3; }

    static Mesh small(index_t n) {
        return D == 1 ? test::jittered_grid<Mesh>(n)
                      : first_elements(test::jittered_grid<Mesh>(grid(n)), n);
    }

    static Mesh large() { return test::jittered_grid<Mesh>(large_grid); }
};

template <typename Mesh>
class ElementSearchKinds : public testing::Test {
public:
    using Traits = MeshTraits<Mesh>;
    static constexpr index_t D = Traits::dimension;

    static void expect_matches_brute_force(const ElementSearch<Mesh>& search, const Mesh& mesh,
                                           const Point<D>& point) {
        internal::expect_matches_brute_force<Mesh, D>(search, mesh, point);
    }

    // Points on the elements' shared features: vertices, edge midpoints and (in 3D) facet
    // centroids, where several elements are at distance 0.
    static std::vector<Point<D>> feature_points(const Mesh& mesh) {
        std::vector<Point<D>> points;
        // About 150 elements, spread over the mesh, keep the brute-force checks fast.
        const index_t step = std::max<index_t>(1, Traits::nb_elements(mesh) / 150);
        for (index_t e = 0; e < Traits::nb_elements(mesh); e += step) {
            const auto& vertices = Traits::element_vertices(mesh, e);
            for (std::size_t a = 0; a < vertices.size(); ++a) {
                points.push_back(mesh.point(vertices[a]));
                for (std::size_t b = a + 1; b < vertices.size(); ++b) {
                    points.push_back((mesh.point(vertices[a]) + mesh.point(vertices[b])) * 0.5);
                }
            }
            if constexpr (D == 3) {
                points.push_back(
                    (mesh.point(vertices[0]) + mesh.point(vertices[1]) + mesh.point(vertices[2]))
                    * (1. / 3));
            }
        }
        return points;
    }

    // Points that no element contains whatever the mesh: NaN, infinite and overflowing ones.
    static std::vector<Point<D>> odd_points() {
        std::vector<Point<D>> points;
        for (const double odd : {nan, inf, -inf, 1e308, -1e308}) {
            for (index_t axis = 0; axis < D; ++axis) {
                Point<D> point;
                for (index_t other = 0; other < D; ++other) {
                    point.set_value(other, 0.5);
                }
                point.set_value(axis, odd);
                points.push_back(point);
            }
        }
        return points;
    }

    // The batch query answers exactly what the single query answers, point by point.
    static void expect_batch_equals_single(const ElementSearch<Mesh>& search,
                                           const std::vector<Point<D>>& points) {
        const auto batch = search.initial_containing_elements(points);
        ASSERT_EQ(batch.size(), points.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            ASSERT_EQ(batch[i], search.initial_containing_element(points[i]))
                << "point " << i << " " << points[i].string();
        }
    }
};

TYPED_TEST_SUITE(ElementSearchKinds, test::MeshKinds, test::MeshKindNames);

TYPED_TEST(ElementSearchKinds, EverySizeMatchesBruteForce) {
    using Mesh = TypeParam;
    using K = Kind<Mesh>;
    constexpr index_t D = TestFixture::D;
    std::mt19937 random{K::seed};
    for (index_t n = 1; n <= 70; ++n) {
        const Mesh mesh = K::small(n);
        ElementSearch<Mesh> search;
        search.reinitialize_elements_tree(mesh);
        for (const auto& point : query_points<D>(random, K::grid(n), K::small_rounds)) {
            TestFixture::expect_matches_brute_force(search, mesh, point);
        }
    }
    const Mesh large = K::large();
    ElementSearch<Mesh> search;
    search.reinitialize_elements_tree(large);
    for (const auto& point : query_points<D>(random, K::large_grid, K::large_rounds)) {
        TestFixture::expect_matches_brute_force(search, large, point);
    }
}

// One search rebuilt on meshes of changing sizes (one element included), with queries on the
// shared vertices, edges and facets and odd points: batch answers equal single answers, and
// both match the brute force.
TYPED_TEST(ElementSearchKinds, BatchEqualsSingleAcrossRebuildsOfEverySize) {
    using Mesh = TypeParam;
    using K = Kind<Mesh>;
    constexpr index_t D = TestFixture::D;
    std::mt19937 random{K::seed + 10};
    ElementSearch<Mesh> search;
    EXPECT_TRUE(search.initial_containing_elements({}).empty());
    const std::vector<Point<D>> never_built(3);
    EXPECT_EQ(search.initial_containing_elements(never_built),
              std::vector<std::optional<index_t>>(3));
    for (const index_t n : {index_t{40}, index_t{1}, index_t{2}, index_t{0}, index_t{17}}) {
        const Mesh mesh = n == 0 ? K::large() : K::small(n);
        search.reinitialize_elements_tree(mesh);
        std::vector<Point<D>> points =
            query_points<D>(random, n == 0 ? K::large_grid : K::grid(n), 10);
        for (const auto& point : TestFixture::feature_points(mesh)) {
            points.push_back(point);
        }
        for (const auto& point : TestFixture::odd_points()) {
            points.push_back(point);
            EXPECT_FALSE(search.initial_containing_element(point)) << point.string();
        }
        std::shuffle(points.begin(), points.end(), random);
        TestFixture::expect_batch_equals_single(search, points);
        for (const auto& point : points) {
            TestFixture::expect_matches_brute_force(search, mesh, point);
        }
        EXPECT_TRUE(search.initial_containing_elements({}).empty());
    }
}

// A vertex with a NaN and one with an infinite coordinate: the search builds, answers batch
// and single queries alike, and never answers an element whose distance is not a number.
TYPED_TEST(ElementSearchKinds, NonFiniteVerticesBuildAndAnswerConsistently) {
    using Mesh = TypeParam;
    using K = Kind<Mesh>;
    using Traits = typename TestFixture::Traits;
    constexpr index_t D = TestFixture::D;
    std::mt19937 random{K::seed + 20};
    Mesh mesh = K::small(30);
    {
        typename K::Builder builder{mesh};
        Point<D> nan_point = mesh.point(1);
        nan_point.set_value(0, nan);
        builder.set_point(1, nan_point);
        Point<D> inf_point = mesh.point(mesh.nb_vertices() - 1);
        inf_point.set_value(D - 1, inf);
        builder.set_point(mesh.nb_vertices() - 1, inf_point);
    }
    ElementSearch<Mesh> search;
    search.reinitialize_elements_tree(mesh);
    std::vector<Point<D>> points = query_points<D>(random, K::grid(30), 20);
    for (const auto& point : TestFixture::odd_points()) {
        points.push_back(point);
    }
    TestFixture::expect_batch_equals_single(search, points);
    const typename Traits::ElementDistance distance{mesh};
    for (const auto& point : points) {
        if (const auto answer = search.initial_containing_element(point)) {
            EXPECT_LE(distance(point, *answer), GLOBAL_EPSILON) << point.string();
        }
    }
}

// Concurrent single queries on one search agree with one thread; two threads answering the
// two halves of a batch agree with the whole batch.
TYPED_TEST(ElementSearchKinds, ConcurrentQueriesAndHalfBatchesAgreeWithOneThread) {
    using Mesh = TypeParam;
    using K = Kind<Mesh>;
    constexpr index_t D = TestFixture::D;
    const Mesh mesh = K::large();
    ElementSearch<Mesh> search;
    search.reinitialize_elements_tree(mesh);
    std::mt19937 random{4};
    const auto points = query_points<D>(random, K::large_grid, 20);
    std::vector<std::optional<index_t>> expected;
    for (const auto& point : points) {
        expected.push_back(search.initial_containing_element(point));
    }
    std::vector<int> mismatches(8, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 2; ++round) {
                for (std::size_t i = 0; i < points.size(); ++i) {
                    if (search.initial_containing_element(points[i]) != expected[i]) {
                        ++mismatches[t];
                    }
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const int count : mismatches) {
        EXPECT_EQ(count, 0);
    }

    const std::size_t half = points.size() / 2;
    const absl::Span<const Point<D>> all{points};
    std::vector<std::optional<index_t>> first;
    std::vector<std::optional<index_t>> second;
    std::thread other{[&] { second = search.initial_containing_elements(all.subspan(half)); }};
    first = search.initial_containing_elements(all.subspan(0, half));
    other.join();
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(first, expected);
}

// A real mesh with slivers: batch answers equal single answers, on vertices, edges and facets
// and around the mesh, and single answers match the brute force.
TEST(ElementSearch, RealMeshBatchEqualsSingle) {
    const TetrahedralSolid<3> solid = read_medit_solid("sfepy_cylinder_in_box.mesh");
    ASSERT_EQ(solid.nb_polyhedra(), 3344U);
    ElementSearch<TetrahedralSolid<3>> search;
    search.reinitialize_elements_tree(solid);
    using Fixture = ElementSearchKinds<TetrahedralSolid<3>>;
    std::vector<Point3D> points = Fixture::feature_points(solid);
    std::mt19937 random{8};
    std::uniform_real_distribution<double> coordinate{-2.7, 2.7};
    for (int i = 0; i < 1000; ++i) {
        points.push_back(Point3D{{coordinate(random), coordinate(random), coordinate(random) / 4}});
    }
    std::shuffle(points.begin(), points.end(), random);
    Fixture::expect_batch_equals_single(search, points);
    for (std::size_t i = 0; i < points.size(); i += 5) {
        Fixture::expect_matches_brute_force(search, solid, points[i]);
    }
}

TEST(ElementSearch, EmptyNeverBuiltAndMovedFromSearches) {
    const test::MovableSearch<TriangulatedSurface<2>> never_built;
    EXPECT_FALSE(never_built.initial_containing_element(Point2D{{0.5, 0.5}}));

    const TriangulatedSurface<2> empty;
    test::MovableSearch<TriangulatedSurface<2>> search;
    search.reinitialize_elements_tree(empty);
    EXPECT_EQ(search.initial_containing_element(Point2D{{0.5, 0.5}}), NO_ID);
    EXPECT_EQ(search.initial_containing_elements(std::vector<Point2D>(2)),
              (std::vector<std::optional<index_t>>{NO_ID, NO_ID}));

    const auto surface = test::jittered_square_surface(2);
    search.reinitialize_elements_tree(surface);
    const auto inside = search.initial_containing_element(Point2D{{0.1, 0.9}});
    ASSERT_TRUE(inside);
    auto& self = search;
    search = std::move(self);
    EXPECT_EQ(search.initial_containing_element(Point2D{{0.1, 0.9}}), inside);

    test::MovableSearch<TriangulatedSurface<2>> moved{std::move(search)};
    EXPECT_EQ(moved.initial_containing_element(Point2D{{0.1, 0.9}}), inside);
    EXPECT_FALSE(search.initial_containing_element(Point2D{{0.1, 0.9}}));  // NOLINT
    // A moved-from search can be rebuilt.
    search.reinitialize_elements_tree(surface);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(search.initial_containing_element(Point2D{{0.1, 0.9}}), inside);
}

TEST(ElementSearch, ToleranceIsInclusiveAtExactlyOneMillionth) {
    EdgedCurve<1> curve;
    EdgedCurveBuilder<1> builder{curve};
    builder.create_point(Point1D{{-1}});
    builder.create_point(Point1D{{0}});
    builder.create_edge(0, 1);
    ElementSearch<EdgedCurve<1>> search;
    search.reinitialize_elements_tree(curve);
    EXPECT_EQ(search.initial_containing_element(Point1D{{-0.5}}), 0u);
    EXPECT_EQ(search.initial_containing_element(Point1D{{1e-6}}), 0u);
    EXPECT_EQ(search.initial_containing_element(Point1D{{0.5e-6}}), 0u);
    EXPECT_FALSE(search.initial_containing_element(Point1D{{2e-6}}));
    EXPECT_FALSE(search.initial_containing_element(Point1D{{std::nextafter(1e-6, 1.)}}));

    // Edge ends that floats cannot hold, so the tree's boxes are rounded outward: the
    // tolerance edge stays exactly where the element distance puts it, on both sides.
    double end = 1e-7;
    while (!(end + 1e-6 - end == 1e-6 && static_cast<double>(static_cast<float>(end)) != end)) {
        end = std::nextafter(end, 1.);
    }
    for (const double side : {1., -1.}) {
        EdgedCurve<1> odd_curve;
        EdgedCurveBuilder<1> odd_builder{odd_curve};
        odd_builder.create_point(Point1D{{-side}});
        odd_builder.create_point(Point1D{{side * end}});
        odd_builder.create_edge(0, 1);
        search.reinitialize_elements_tree(odd_curve);
        const double at_tolerance = side * (end + 1e-6);
        ASSERT_EQ(DistanceToEdge<1>{odd_curve}(Point1D{{at_tolerance}}, 0), 1e-6);
        EXPECT_EQ(search.initial_containing_element(Point1D{{at_tolerance}}), 0u);
        const Point1D beyond{{std::nextafter(at_tolerance, side * 2)}};
        EXPECT_FALSE(search.initial_containing_element(beyond));
        EXPECT_EQ(search.initial_containing_elements(
                      std::vector<Point1D>{Point1D{{at_tolerance}}, beyond}),
                  (std::vector<std::optional<index_t>>{0u, std::nullopt}));
    }

    TriangulatedSurface<2> triangle;
    TriangulatedSurfaceBuilder<2> surface_builder{triangle};
    surface_builder.create_point(Point2D{{0, 0}});
    surface_builder.create_point(Point2D{{1, 0}});
    surface_builder.create_point(Point2D{{0, 1}});
    surface_builder.create_triangle({0, 1, 2});
    ElementSearch<TriangulatedSurface<2>> surface_search;
    surface_search.reinitialize_elements_tree(triangle);
    EXPECT_EQ(surface_search.initial_containing_element(Point2D{{0.25, -1e-6}}), 0u);
    EXPECT_FALSE(surface_search.initial_containing_element(Point2D{{0.25, -2e-6}}));
}

TEST(ElementSearch, NaNPointsAndNaNVerticesAreNeverContained) {
    auto surface = test::jittered_square_surface(3);
    ElementSearch<TriangulatedSurface<2>> search;
    search.reinitialize_elements_tree(surface);
    EXPECT_FALSE(search.initial_containing_element(Point2D{{nan, 0.5}}));
    EXPECT_FALSE(search.initial_containing_element(Point2D{{nan, nan}}));

    // One vertex with a NaN coordinate: points far from the mesh stay uncontained, and points
    // inside valid elements still find them.
    TriangulatedSurfaceBuilder<2> builder{surface};
    builder.set_point(5, Point2D{{nan, 0.4}});
    search.reinitialize_elements_tree(surface);
    EXPECT_FALSE(search.initial_containing_element(Point2D{{5, 5}}));
    EXPECT_FALSE(search.initial_containing_element(Point2D{{-3, 0.4}}));
    const auto far_corner = search.initial_containing_element(Point2D{{0.95, 0.95}});
    ASSERT_TRUE(far_corner);
    EXPECT_EQ(DistanceToTriangle<2>{surface}(Point2D{{0.95, 0.95}}, *far_corner), 0.);
}

TEST(ElementSearch, SharedVerticesDuplicatesAndCollapsedElements) {
    // Every element collapsed onto one point: the search ends and names one of them.
    TetrahedralSolid<3> collapsed;
    TetrahedralSolidBuilder<3> builder{collapsed};
    builder.create_point(Point3D{{1, 2, 3}});
    for (int i = 0; i < 40; ++i) {
        builder.create_tetrahedron({0, 0, 0, 0});
    }
    ElementSearch<TetrahedralSolid<3>> search;
    search.reinitialize_elements_tree(collapsed);
    const auto on_point = search.initial_containing_element(Point3D{{1, 2, 3}});
    ASSERT_TRUE(on_point);
    EXPECT_LT(*on_point, 40u);
    EXPECT_FALSE(search.initial_containing_element(Point3D{{1, 2, 4}}));

    // A flat element among valid ones contains only the points on it.
    auto solid = test::jittered_cube_solid(2);
    TetrahedralSolidBuilder<3> solid_builder{solid};
    solid_builder.create_tetrahedron({0, 1, 2, 2});
    search.reinitialize_elements_tree(solid);
    EXPECT_FALSE(search.initial_containing_element(Point3D{{0.5, 0.5, 2}}));
    // A grid vertex shared by several tetrahedra: distance 0 to each of them.
    const auto at_vertex = search.initial_containing_element(solid.point(13));
    ASSERT_TRUE(at_vertex);
    EXPECT_EQ(DistanceToTetrahedron<3>{solid}(solid.point(13), *at_vertex), 0.);
}

TEST(ElementSearch, TheSnapshotIgnoresEditsUntilTheNextRebuild) {
    auto surface = std::make_unique<TriangulatedSurface<2>>(test::jittered_square_surface(2));
    ElementSearch<TriangulatedSurface<2>> search;
    search.reinitialize_elements_tree(*surface);
    const Point2D probe{{0.1, 0.05}};
    const auto before = search.initial_containing_element(probe);
    ASSERT_TRUE(before);
    {
        TriangulatedSurfaceBuilder<2> builder{*surface};
        for (index_t v = 0; v < surface->nb_vertices(); ++v) {
            builder.set_point(v, surface->point(v) + Point2D{{10, 10}});
        }
    }
    EXPECT_EQ(search.initial_containing_element(probe), before);
    search.reinitialize_elements_tree(*surface);
    EXPECT_FALSE(search.initial_containing_element(probe));
    EXPECT_TRUE(search.initial_containing_element(probe + Point2D{{10, 10}}));
    surface.reset();
    EXPECT_TRUE(search.initial_containing_element(probe + Point2D{{10, 10}}));
}

}  // namespace
}  // namespace internal
}  // namespace orvex
