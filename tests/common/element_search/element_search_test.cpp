#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "orvex_testing/mesh_generators.h"
#include "orvex/background_common/element_search/element_search.h"
#include "polvane/mesh/distance_to_element.h"

namespace orvex {
namespace internal {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Exposes the protected moves.
template <typename Mesh>
class MovableSearch : public ElementSearch<Mesh> {
public:
    MovableSearch() = default;
    MovableSearch(MovableSearch&& other) noexcept = default;
    MovableSearch& operator=(MovableSearch&& other) noexcept = default;
};

// What a search must answer, by looking at every element: the smallest distance, and every
// element that realises it.
template <typename Mesh, typename Distance, index_t D>
struct BruteForce {
    double best{std::numeric_limits<double>::infinity()};
    std::vector<index_t> nearest;

    BruteForce(const Mesh& mesh, index_t nb_elements, const Point<D>& point) {
        const Distance distance{mesh};
        for (index_t e = 0; e < nb_elements; ++e) {
            const double d = distance(point, e);
            if (d < best) {
                best = d;
                nearest.assign(1, e);
            } else if (d == best) {
                nearest.push_back(e);
            }
        }
    }
};

template <typename Mesh, typename Distance, index_t D>
void expect_matches_brute_force(const ElementSearch<Mesh>& search, const Mesh& mesh,
                                index_t nb_elements, const Point<D>& point) {
    const BruteForce<Mesh, Distance, D> expected{mesh, nb_elements, point};
    const auto answer = search.initial_containing_element(point);
    if (expected.best > 1e-6) {
        EXPECT_FALSE(answer) << point.string() << " best " << expected.best;
        return;
    }
    ASSERT_TRUE(answer) << point.string() << " best " << expected.best;
    EXPECT_NE(std::find(expected.nearest.begin(), expected.nearest.end(), *answer),
              expected.nearest.end())
        << point.string() << " answered " << *answer << " at distance "
        << Distance{mesh}(point, *answer) << ", nearest is " << expected.best;
}

// The first `count` elements of a generated mesh, over all its points.
TriangulatedSurface<2> first_triangles(const TriangulatedSurface<2>& source, index_t count) {
    TriangulatedSurface<2> result;
    TriangulatedSurfaceBuilder<2> builder{result};
    for (index_t v = 0; v < source.nb_vertices(); ++v) {
        builder.create_point(source.point(v));
    }
    for (index_t t = 0; t < count; ++t) {
        builder.create_triangle(source.polygon_vertices(t));
    }
    return result;
}

TetrahedralSolid<3> first_tetrahedra(const TetrahedralSolid<3>& source, index_t count) {
    TetrahedralSolid<3> result;
    TetrahedralSolidBuilder<3> builder{result};
    for (index_t v = 0; v < source.nb_vertices(); ++v) {
        builder.create_point(source.point(v));
    }
    for (index_t t = 0; t < count; ++t) {
        builder.create_tetrahedron(source.polyhedron_vertices(t));
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

TEST(ElementSearch, CurvesOfEverySizeMatchBruteForce) {
    std::mt19937 random{1};
    std::vector<index_t> sizes;
    for (index_t n = 1; n <= 70; ++n) {
        sizes.push_back(n);
    }
    sizes.push_back(1031);
    for (const index_t n : sizes) {
        const auto curve = test::jittered_segment_curve(n);
        ElementSearch<EdgedCurve<1>> search;
        search.reinitialize_elements_tree(curve);
        for (const auto& point : query_points<1>(random, n, n > 70 ? 60 : 10)) {
            expect_matches_brute_force<EdgedCurve<1>, DistanceToEdge<1>, 1>(search, curve, n,
                                                                            point);
        }
    }
}

TEST(ElementSearch, SurfacesOfEverySizeMatchBruteForce) {
    std::mt19937 random{2};
    const auto grid = test::jittered_square_surface(6);
    for (index_t n = 1; n <= 70; ++n) {
        const auto surface = first_triangles(grid, n);
        ElementSearch<TriangulatedSurface<2>> search;
        search.reinitialize_elements_tree(surface);
        for (const auto& point : query_points<2>(random, 6, 8)) {
            expect_matches_brute_force<TriangulatedSurface<2>, DistanceToTriangle<2>, 2>(
                search, surface, n, point);
        }
    }
    const auto large = test::jittered_square_surface(23);
    ElementSearch<TriangulatedSurface<2>> search;
    search.reinitialize_elements_tree(large);
    for (const auto& point : query_points<2>(random, 23)) {
        expect_matches_brute_force<TriangulatedSurface<2>, DistanceToTriangle<2>, 2>(
            search, large, large.nb_polygons(), point);
    }
}

TEST(ElementSearch, SolidsOfEverySizeMatchBruteForce) {
    std::mt19937 random{3};
    const auto grid = test::jittered_cube_solid(3);
    for (index_t n = 1; n <= 70; ++n) {
        const auto solid = first_tetrahedra(grid, n);
        ElementSearch<TetrahedralSolid<3>> search;
        search.reinitialize_elements_tree(solid);
        for (const auto& point : query_points<3>(random, 3, 8)) {
            expect_matches_brute_force<TetrahedralSolid<3>, DistanceToTetrahedron<3>, 3>(
                search, solid, n, point);
        }
    }
    const auto large = test::jittered_cube_solid(6);
    ElementSearch<TetrahedralSolid<3>> search;
    search.reinitialize_elements_tree(large);
    for (const auto& point : query_points<3>(random, 6, 15)) {
        expect_matches_brute_force<TetrahedralSolid<3>, DistanceToTetrahedron<3>, 3>(
            search, large, large.nb_polyhedra(), point);
    }
}

TEST(ElementSearch, EmptyNeverBuiltAndMovedFromSearches) {
    const MovableSearch<TriangulatedSurface<2>> never_built;
    EXPECT_FALSE(never_built.initial_containing_element(Point2D{{0.5, 0.5}}));

    const TriangulatedSurface<2> empty;
    MovableSearch<TriangulatedSurface<2>> search;
    search.reinitialize_elements_tree(empty);
    EXPECT_EQ(search.initial_containing_element(Point2D{{0.5, 0.5}}), NO_ID);

    const auto surface = test::jittered_square_surface(2);
    search.reinitialize_elements_tree(surface);
    const auto inside = search.initial_containing_element(Point2D{{0.1, 0.9}});
    ASSERT_TRUE(inside);
    auto& self = search;
    search = std::move(self);
    EXPECT_EQ(search.initial_containing_element(Point2D{{0.1, 0.9}}), inside);

    MovableSearch<TriangulatedSurface<2>> moved{std::move(search)};
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

TEST(ElementSearch, ConcurrentQueriesAgreeWithOneThread) {
    const auto solid = test::jittered_cube_solid(5);
    ElementSearch<TetrahedralSolid<3>> search;
    search.reinitialize_elements_tree(solid);
    std::mt19937 random{4};
    const auto points = query_points<3>(random, 5, 20);
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
}

}  // namespace
}  // namespace internal
}  // namespace orvex
