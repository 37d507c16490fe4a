// The demo's default meshes, generated here so that the demo needs nothing but the installed
// library: a jittered square of triangles and a jittered cube of tetrahedra, each with a few
// elements made flat or turned over on purpose.

#include <array>
#include <cstddef>
#include <random>
#include <vector>

#include "demo.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"

namespace orvex::demo {
namespace {

// Grid coordinate i of n cells over [0, 1], moved by up to `jitter` cells unless on the border.
double grid_coordinate(index_t i, index_t n, double jitter, std::mt19937_64& random) {
    const double h = 1.0 / n;
    if (i == 0 || i == n || jitter == 0) {
        return i * h;
    }
    std::uniform_real_distribution<double> offset{-jitter * h, jitter * h};
    return i * h + offset(random);
}

// The unit square in n x n cells of two counter-clockwise triangles each; vertex (i, j) has
// index j (n + 1) + i; interior vertices jittered by up to a tenth of a cell.
TriangulatedSurface<2> jittered_square(index_t n) {
    std::mt19937_64 random{1000 + n};
    TriangulatedSurface<2> surface;
    TriangulatedSurfaceBuilder<2> builder{surface};
    const index_t side = n + 1;
    builder.create_points(side * side);
    for (index_t j = 0; j <= n; ++j) {
        for (index_t i = 0; i <= n; ++i) {
            const double jitter = i == 0 || i == n || j == 0 || j == n ? 0 : 0.1;
            const double x = grid_coordinate(i, n, jitter, random);
            const double y = grid_coordinate(j, n, jitter, random);
            builder.set_point(j * side + i, Point<2>{{x, y}});
        }
    }
    std::vector<std::array<index_t, 3>> triangles;
    for (index_t j = 0; j < n; ++j) {
        for (index_t i = 0; i < n; ++i) {
            const index_t a = j * side + i;
            triangles.push_back({a, a + 1, a + 1 + side});
            triangles.push_back({a, a + 1 + side, a + side});
        }
    }
    builder.create_triangles(triangles);
    builder.compute_polygon_adjacencies();
    return surface;
}

// The unit cube in n^3 cells of six positively oriented tetrahedra each (one per path from the
// cell's lowest corner to its highest along the three axes); vertex (i, j, k) has index
// (k (n + 1) + j) (n + 1) + i; interior vertices jittered as in `jittered_square`.
TetrahedralSolid<3> jittered_cube(index_t n) {
    std::mt19937_64 random{1000 + n};
    TetrahedralSolid<3> solid;
    TetrahedralSolidBuilder<3> builder{solid};
    const index_t side = n + 1;
    builder.create_points(side * side * side);
    for (index_t k = 0; k <= n; ++k) {
        for (index_t j = 0; j <= n; ++j) {
            for (index_t i = 0; i <= n; ++i) {
                const bool border = i == 0 || i == n || j == 0 || j == n || k == 0 || k == n;
                const double jitter = border ? 0 : 0.1;
                const double x = grid_coordinate(i, n, jitter, random);
                const double y = grid_coordinate(j, n, jitter, random);
                const double z = grid_coordinate(k, n, jitter, random);
                builder.set_point((k * side + j) * side + i, Point<3>{{x, y, z}});
            }
        }
    }
    // The odd axis orders list their last two vertices swapped to keep the orientation.
    constexpr std::array<std::array<index_t, 3>, 6> paths{
        {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {0, 2, 1}, {2, 1, 0}, {1, 0, 2}}};
    const std::array<index_t, 3> step{1, side, side * side};
    std::vector<std::array<index_t, 4>> tetrahedra;
    for (index_t k = 0; k < n; ++k) {
        for (index_t j = 0; j < n; ++j) {
            for (index_t i = 0; i < n; ++i) {
                const index_t origin = (k * side + j) * side + i;
                for (std::size_t p = 0; p < paths.size(); ++p) {
                    const index_t v1 = origin + step[paths[p][0]];
                    const index_t v2 = v1 + step[paths[p][1]];
                    const index_t v3 = v2 + step[paths[p][2]];
                    tetrahedra.push_back(p < 3 ? std::array<index_t, 4>{origin, v1, v2, v3}
                                               : std::array<index_t, 4>{origin, v1, v3, v2});
                }
            }
        }
    }
    builder.create_tetrahedra(tetrahedra);
    builder.compute_polyhedron_adjacencies();
    return solid;
}

}  // namespace

TriangulatedSurface<2> default_surface() {
    const index_t n = 60;
    auto surface = jittered_square(n);
    TriangulatedSurfaceBuilder<2> builder{surface};
    const index_t side = n + 1;
    // Moves vertex (i, j) onto the middle of the opposite edge of its cell's first triangle,
    // pushed `push` cells further across it.
    const auto move = [&](index_t i, index_t j, double push) {
        const Point<2>& b = surface.point(j * side + i + 1);
        const Point<2>& c = surface.point((j + 1) * side + i + 1);
        const Point<2> middle{
            {(b.value(0) + c.value(0)) / 2 + push / n, (b.value(1) + c.value(1)) / 2}};
        builder.set_point(j * side + i, middle);
    };
    move(10, 10, 0);
    move(40, 20, 0);
    move(25, 45, 0.3);
    return surface;
}

TetrahedralSolid<3> default_solid() {
    const index_t n = 14;
    auto solid = jittered_cube(n);
    TetrahedralSolidBuilder<3> builder{solid};
    // Moves the first vertex of a cell's first tetrahedron towards its opposite facet: onto it
    // (`keep` 0) or short of it by the fraction `keep` of the way.
    const auto flatten = [&](index_t i, index_t j, index_t k, double keep) {
        const index_t tetrahedron = 6 * ((k * n + j) * n + i);
        const auto& vertices = solid.polyhedron_vertices(tetrahedron);
        const Point<3> origin = solid.point(vertices[0]);
        const Point<3> facet =
            (solid.point(vertices[1]) + solid.point(vertices[2]) + solid.point(vertices[3]))
            * (1.0 / 3);
        builder.set_point(vertices[0], facet * (1 - keep) + origin * keep);
    };
    flatten(3, 3, 3, 0);
    flatten(7, 5, 9, 0.01);
    flatten(10, 10, 4, 0.03);
    return solid;
}

}  // namespace orvex::demo
