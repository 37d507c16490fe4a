// Following a changing mesh: points are inserted into a mesh file one at a time, each located
// in the current mesh and its element split (a tetrahedron into four, a triangle into three),
// and the search is brought up to date after each split by telling it what changed, instead
// of being rebuilt. At the end its answers are checked against a search built afresh.
//
// Usage: orvex_example_point_insertion MESH_FILE COUNT
// The points are COUNT random points of the mesh's bounding box (a fixed seed); those that no
// element holds are skipped.
// Exit status: 0; 1 on an unusable file, or when the updated search answers a point otherwise
// than a new one would (at another distance, or found by one and not the other); 2 on bad
// arguments.

#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "example_support.h"
#include "orvex/background_common/element_search/element_search.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_changes.h"
#include "polvane/mesh/mesh_traits.h"

namespace {

using orvex::index_t;
using orvex::Point;

template <typename Mesh>
int insert_points(Mesh mesh, std::size_t count) {
    using Traits = orvex::MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    std::array<double, D> low{};
    std::array<double, D> high{};
    low.fill(INFINITY);
    high.fill(-INFINITY);
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        for (index_t axis = 0; axis < D; ++axis) {
            low[axis] = std::fmin(low[axis], mesh.point(v).value(axis));
            high[axis] = std::fmax(high[axis], mesh.point(v).value(axis));
        }
    }
    std::mt19937_64 random{42};
    const auto random_point = [&] {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis,
                            std::uniform_real_distribution<double>{low[axis], high[axis]}(random));
        }
        return point;
    };
    orvex::internal::ElementSearch<Mesh> search;
    search.reinitialize_elements_tree(mesh);
    std::size_t inserted = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const Point<D> point = random_point();
        const auto element = search.initial_containing_element(point);
        if (!element || *element == orvex::NO_ID) {
            continue;
        }
        // The split: the element keeps its index with the point in place of its first vertex;
        // one new element per other vertex replaced by the point is appended. The changes say
        // just that.
        typename Traits::Builder builder{mesh};
        const index_t vertex = builder.create_point(point);
        const std::array<index_t, D + 1> vertices = Traits::element_vertices(mesh, *element);
        orvex::MeshChanges changes;
        for (index_t replaced = 1; replaced <= D; ++replaced) {
            std::array<index_t, D + 1> part = vertices;
            part[replaced] = vertex;
            changes.created_elements.push_back(Traits::create_element(builder, part));
        }
        std::array<index_t, D + 1> kept = vertices;
        kept[0] = vertex;
        Traits::set_element_vertices(builder, *element, kept);
        changes.modified_elements.push_back(*element);
        search.update_elements_tree(mesh, changes);
        ++inserted;
    }
    // The check: every vertex (shared by several elements) and random points, against a
    // search built afresh on the final mesh: the same distance, and found by both or neither.
    orvex::internal::ElementSearch<Mesh> fresh;
    fresh.reinitialize_elements_tree(mesh);
    std::vector<Point<D>> checks;
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        checks.push_back(mesh.point(v));
    }
    for (std::size_t k = 0; k < 10 * count + 100; ++k) {
        checks.push_back(random_point());
    }
    const auto ours = search.initial_containing_elements(checks);
    const auto theirs = fresh.initial_containing_elements(checks);
    const typename Traits::ElementDistance distance{mesh};
    std::size_t disagreements = 0;
    for (std::size_t k = 0; k < checks.size(); ++k) {
        const bool differ =
            ours[k].has_value() != theirs[k].has_value()
            || (ours[k] && *ours[k] != orvex::NO_ID
                && distance(checks[k], *ours[k]) != distance(checks[k], *theirs[k]));
        disagreements += differ ? 1 : 0;
    }
    std::printf("%zu points inserted, %u %s now\n", inserted, Traits::nb_elements(mesh),
                Traits::element_name);
    std::printf("%zu of %zu checked points answered as by a new search\n",
                checks.size() - disagreements, checks.size());
    if (disagreements > 0) {
        std::fprintf(stderr, "error: %zu answers differ from a new search's\n", disagreements);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return orvex::examples::run_example(
        argc, argv, "MESH_FILE COUNT", [](const std::vector<std::string>& arguments) {
            const double count = orvex::examples::number_argument(arguments[1], "COUNT");
            if (count < 0 || count > 1e7 || count != std::floor(count)) {
                throw orvex::examples::UsageError{"COUNT is '" + arguments[1]
                                                  + "', not a whole number up to 1e7"};
            }
            const auto file = orvex::examples::read_mesh_with_notes(arguments[0]);
            const auto points = static_cast<std::size_t>(count);
            if (file.dimension == 3 && !file.tetrahedra.empty()) {
                return insert_points(orvex::examples::to_tetrahedral_solid(file), points);
            }
            return insert_points(orvex::examples::to_triangulated_surface(file), points);
        });
}
