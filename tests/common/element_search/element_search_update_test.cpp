// The element search follows a changing mesh: after every update it answers as a new snapshot
// of the mesh does (the same distance; the element may differ only among elements at that
// distance), on random sequences of the edits of a remeshing loop.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "orvex/background_common/element_search/element_search.h"
#include "orvex_testing/mesh_edits.h"
#include "orvex_testing/mesh_generators.h"
#include "orvex_testing/mesh_kinds.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/distance_to_element.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex {
namespace internal {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

template <typename Mesh>
class MovableSearch : public ElementSearch<Mesh> {
public:
    MovableSearch() = default;
    MovableSearch(MovableSearch&& other) noexcept = default;
    MovableSearch& operator=(MovableSearch&& other) noexcept = default;
};

template <typename Mesh>
class ElementSearchUpdate : public testing::Test {
public:
    using Traits = MeshTraits<Mesh>;
    static constexpr index_t D = Traits::dimension;

    // Grids of a few hundred elements: large enough for updates to stay incremental.
    static Mesh grid() { return test::jittered_grid<Mesh>(D == 1 ? 300 : D == 2 ? 12 : 4); }

    static Point<D> random_point(std::mt19937& random, double low, double high) {
        std::uniform_real_distribution<double> coordinate{low, high};
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(random));
        }
        return point;
    }

    // A point strictly inside `element` (random barycentric weights).
    static Point<D> inside(const Mesh& mesh, index_t element, std::mt19937& random) {
        std::uniform_real_distribution<double> weight{0.1, 1.0};
        std::array<double, D + 1> weights{};
        for (double& w : weights) {
            w = weight(random);
        }
        const double sum = std::accumulate(weights.begin(), weights.end(), 0.0);
        Point<D> point;
        const auto& vertices = Traits::element_vertices(mesh, element);
        for (index_t k = 0; k <= D; ++k) {
            point = point + mesh.point(vertices[k]) * (weights[k] / sum);
        }
        return point;
    }

    // Queries around the mesh: uniform ones, its vertices (shared by several elements), edge
    // midpoints, points 1e-6 off a vertex on each side of each axis, far and NaN points.
    static std::vector<Point<D>> queries(const Mesh& mesh, std::mt19937& random) {
        std::vector<Point<D>> points;
        for (int i = 0; i < 150; ++i) {
            points.push_back(random_point(random, -0.2, 1.2));
        }
        std::uniform_int_distribution<index_t> any_element{0, Traits::nb_elements(mesh) - 1};
        for (int i = 0; i < 40 && Traits::nb_elements(mesh) > 0; ++i) {
            const auto& vertices = Traits::element_vertices(mesh, any_element(random));
            const Point<D>& a = mesh.point(vertices[0]);
            points.push_back(a);
            points.push_back((a + mesh.point(vertices[D])) * 0.5);
            Point<D> off = a;
            const auto axis = static_cast<index_t>(random() % D);
            off.set_value(axis, a.value(axis) + (random() % 2 == 0 ? 1e-6 : -1e-6));
            points.push_back(off);
        }
        Point<D> far;
        far.set_value(0, 5);
        points.push_back(far);
        Point<D> not_a_number;
        not_a_number.set_value(0, nan);
        points.push_back(not_a_number);
        return points;
    }

    // The oracle: the updated search answers each query as a new snapshot of `mesh` does, and
    // its batch as its single queries.
    static void expect_as_new_snapshot(const ElementSearch<Mesh>& search, const Mesh& mesh,
                                       std::mt19937& random) {
        ElementSearch<Mesh> fresh;
        fresh.reinitialize_elements_tree(mesh);
        const typename Traits::ElementDistance distance{mesh};
        const std::vector<Point<D>> points = queries(mesh, random);
        const auto batch = search.initial_containing_elements(points);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const auto answer = search.initial_containing_element(points[i]);
            const auto expected = fresh.initial_containing_element(points[i]);
            ASSERT_EQ(batch[i], answer) << points[i].string();
            ASSERT_EQ(answer.has_value(), expected.has_value()) << points[i].string();
            if (answer && *answer != NO_ID) {
                ASSERT_LT(*answer, Traits::nb_elements(mesh));
                EXPECT_EQ(distance(points[i], *answer), distance(points[i], *expected))
                    << points[i].string() << " answered " << *answer << " for " << *expected;
            } else if (answer) {
                EXPECT_EQ(*expected, NO_ID);
            }
        }
    }
};

TYPED_TEST_SUITE(ElementSearchUpdate, test::MeshKinds, test::MeshKindNames);

// Random sequences of splits, vertex moves (small, large, to NaN), deletions with compaction,
// permutations, in-place replacements and far new elements, each step followed by an update.
TYPED_TEST(ElementSearchUpdate, FollowsRandomEditsAsANewSnapshotWould) {
    using Mesh = TypeParam;
    using Traits = typename TestFixture::Traits;
    constexpr index_t D = TestFixture::D;
    for (const unsigned seed : {1U, 2U, 3U}) {
        std::mt19937 random{seed};
        Mesh mesh = TestFixture::grid();
        ElementSearch<Mesh> search;
        search.reinitialize_elements_tree(mesh);
        for (int step = 0; step < 40; ++step) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", step " << step);
            MeshChanges changes;
            typename Traits::Builder builder{mesh};
            const index_t n = Traits::nb_elements(mesh);
            std::uniform_int_distribution<index_t> any_element{0, n - 1};
            std::uniform_int_distribution<index_t> any_vertex{0, mesh.nb_vertices() - 1};
            switch (random() % 7) {
                case 0:
                case 1: {
                    const index_t element = any_element(random);
                    test::split_element(mesh, element, TestFixture::inside(mesh, element, random),
                                        changes);
                    break;
                }
                case 2: {
                    // Small moves, and now and then one across the mesh or to NaN.
                    for (int k = 0; k < 3; ++k) {
                        const index_t vertex = any_vertex(random);
                        Point<D> point =
                            mesh.point(vertex) + TestFixture::random_point(random, -0.01, 0.01);
                        if (k == 0 && random() % 4 == 0) {
                            point = TestFixture::random_point(random, 0, 1);
                        }
                        if (k == 1 && random() % 8 == 0) {
                            point.set_value(0, nan);
                        }
                        test::move_vertex(mesh, vertex, point, changes);
                    }
                    break;
                }
                case 3: {
                    std::vector<bool> flags(n, false);
                    for (index_t e = 0; e < n; ++e) {
                        flags[e] = random() % 40 == 0;
                    }
                    test::delete_elements(mesh, flags, changes);
                    // New elements after the compaction: a far one, outside everything.
                    std::array<index_t, D + 1> far{};
                    for (index_t k = 0; k <= D; ++k) {
                        Point<D> corner;
                        for (index_t axis = 0; axis < D; ++axis) {
                            corner.set_value(axis, 3 + (k == axis + 1 ? 0.5 : 0.0));
                        }
                        far[k] = builder.create_point(corner);
                    }
                    changes.created_elements.push_back(Traits::create_element(builder, far));
                    break;
                }
                case 4: {
                    std::vector<index_t> permutation(n);
                    std::iota(permutation.begin(), permutation.end(), 0);
                    std::shuffle(permutation.begin(), permutation.end(), random);
                    Traits::permute_elements(builder, permutation);
                    changes.element_renumbering.assign(n, NO_ID);
                    for (index_t k = 0; k < n; ++k) {
                        changes.element_renumbering[permutation[k]] = k;
                    }
                    break;
                }
                case 5: {
                    // An element replaced in place by a copy of another one, far from it.
                    const index_t element = any_element(random);
                    Traits::set_element_vertices(
                        builder, element, Traits::element_vertices(mesh, any_element(random)));
                    changes.modified_elements.push_back(element);
                    break;
                }
                default:
                    // Nothing changed: an empty update.
                    break;
            }
            search.update_elements_tree(mesh, changes);
            TestFixture::expect_as_new_snapshot(search, mesh, random);
        }
    }
}

// An update that empties the mesh answers "no index" everywhere, as a snapshot without
// elements does; one that fills it again answers as a new snapshot; an update on a search
// never built, or moved from, takes a new snapshot.
TYPED_TEST(ElementSearchUpdate, EmptiesFillsAndStartsFromNothing) {
    using Mesh = TypeParam;
    using Traits = typename TestFixture::Traits;
    std::mt19937 random{7};
    Mesh mesh = TestFixture::grid();
    const Mesh original = TestFixture::grid();
    MovableSearch<Mesh> search;
    search.update_elements_tree(mesh, MeshChanges{});
    TestFixture::expect_as_new_snapshot(search, mesh, random);

    MeshChanges emptied;
    test::delete_elements(mesh, std::vector<bool>(Traits::nb_elements(mesh), true), emptied);
    search.update_elements_tree(mesh, emptied);
    EXPECT_EQ(search.initial_containing_element(TestFixture::random_point(random, 0, 1)), NO_ID);
    TestFixture::expect_as_new_snapshot(search, mesh, random);

    MeshChanges filled;
    {
        typename Traits::Builder builder{mesh};
        for (index_t v = 0; v < original.nb_vertices(); ++v) {
            builder.create_point(original.point(v));
        }
        for (index_t e = 0; e < Traits::nb_elements(original); ++e) {
            filled.created_elements.push_back(
                Traits::create_element(builder, Traits::element_vertices(original, e)));
        }
    }
    search.update_elements_tree(mesh, filled);
    TestFixture::expect_as_new_snapshot(search, mesh, random);

    MovableSearch<Mesh> moved{std::move(search)};
    search.update_elements_tree(mesh, emptied);  // NOLINT(bugprone-use-after-move)
    TestFixture::expect_as_new_snapshot(search, mesh, random);
    TestFixture::expect_as_new_snapshot(moved, mesh, random);
}

// Changes that cannot describe the mesh are refused with the operation's name, and the search
// answers from its snapshot as before.
TYPED_TEST(ElementSearchUpdate, RefusesChangesThatDoNotDescribeTheMesh) {
    using Mesh = TypeParam;
    using Traits = typename TestFixture::Traits;
    std::mt19937 random{11};
    const Mesh before = TestFixture::grid();
    Mesh mesh = TestFixture::grid();
    ElementSearch<Mesh> search;
    search.reinitialize_elements_tree(mesh);
    MeshChanges split;
    test::split_element(mesh, 5, TestFixture::inside(mesh, 5, random), split);
    const index_t n = Traits::nb_elements(mesh);
    const auto expect_refused = [&](const MeshChanges& changes, const std::string& what) {
        try {
            search.update_elements_tree(mesh, changes);
            ADD_FAILURE() << what << ": accepted";
        } catch (const PolvaneException& error) {
            EXPECT_EQ(std::string{error.what()}.rfind("[ElementSearch::update_elements_tree] ", 0),
                      0U)
                << error.what();
        }
        TestFixture::expect_as_new_snapshot(search, before, random);
    };
    MeshChanges wrong = split;
    wrong.created_elements.pop_back();
    expect_refused(wrong, "a created element left out");
    wrong = split;
    wrong.created_elements.back() = 3;
    expect_refused(wrong, "a created element that is not new");
    wrong = split;
    wrong.created_elements.push_back(wrong.created_elements.back());
    expect_refused(wrong, "a created element twice");
    wrong = split;
    wrong.modified_elements.push_back(n);
    expect_refused(wrong, "a modified element out of range");
    wrong = split;
    wrong.moved_vertices.push_back(mesh.nb_vertices());
    expect_refused(wrong, "a moved vertex out of range");
    wrong = split;
    wrong.element_renumbering.assign(Traits::nb_elements(before) + 1, 0);
    expect_refused(wrong, "a renumbering of the wrong size");
    wrong = split;
    wrong.element_renumbering.resize(Traits::nb_elements(before));
    std::iota(wrong.element_renumbering.begin(), wrong.element_renumbering.end(), 0);
    wrong.element_renumbering[1] = 0;
    expect_refused(wrong, "a renumbering that maps two elements to one");
    wrong = split;
    wrong.vertex_renumbering.assign(before.nb_vertices(), NO_ID);
    wrong.vertex_renumbering[0] = before.nb_vertices() + 5;
    expect_refused(wrong, "a vertex renumbering past the kept vertices");
    search.update_elements_tree(mesh, split);
    TestFixture::expect_as_new_snapshot(search, mesh, random);
}

}  // namespace
}  // namespace internal
}  // namespace orvex
