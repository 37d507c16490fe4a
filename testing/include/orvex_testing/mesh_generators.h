#pragma once

// Mesh generators shared by tests and benchmarks: structured grids of the unit segment,
// square and cube whose interior vertices are jittered, so that no two elements are alike and
// no coordinate is special, while every element keeps its orientation.

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/edged_curve_builder.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace orvex::test {

/// The seed of a grid of n cells per side: 1000 + n.
inline std::uint64_t grid_seed(index_t n) {
    return 1000 + n;
}

/// Grid coordinate i of n cells (i in [0, n]), jittered by up to `jitter` cell sizes unless it
/// lies on the border of the unit interval.
inline double grid_coordinate(index_t i, index_t n, double jitter, std::mt19937_64& random) {
    const double h = 1.0 / n;
    if (i == 0 || i == n || jitter == 0) {
        return i * h;
    }
    std::uniform_real_distribution<double> offset{-jitter * h, jitter * h};
    return i * h + offset(random);
}

/// The unit segment cut into n edges, edge i joining vertices i and i + 1.
inline EdgedCurve<1> jittered_segment_curve(index_t n, double jitter = 0.1) {
    std::mt19937_64 random{grid_seed(n)};
    EdgedCurve<1> curve;
    EdgedCurveBuilder<1> builder{curve};
    builder.create_points(n + 1);
    std::vector<std::array<index_t, 2>> edges;
    edges.reserve(n);
    for (index_t i = 0; i <= n; ++i) {
        builder.set_point(i, Point<1>{{grid_coordinate(i, n, jitter, random)}});
        if (i < n) {
            edges.push_back({i, i + 1});
        }
    }
    builder.create_edges(edges);
    return curve;
}

/// The unit square cut into n × n cells of two counter-clockwise triangles each (2 n² in all):
/// cell (i, j) gives (a, b, c) and (a, c, d) with a, b, c, d its corners (i, j), (i+1, j),
/// (i+1, j+1), (i, j+1). Vertex (i, j) has index j (n + 1) + i. Interior vertices are moved
/// by uniform offsets in [-jitter h, jitter h] per axis (h = 1/n, std::mt19937_64 seeded
/// with 1000 + n). Adjacencies are computed when `adjacencies` is set.
inline TriangulatedSurface<2> jittered_square_surface(index_t n, double jitter = 0.1,
                                                      bool adjacencies = true) {
    std::mt19937_64 random{grid_seed(n)};
    TriangulatedSurface<2> surface;
    TriangulatedSurfaceBuilder<2> builder{surface};
    const index_t side = n + 1;
    builder.create_points(side * side);
    for (index_t j = 0; j <= n; ++j) {
        for (index_t i = 0; i <= n; ++i) {
            const bool border = i == 0 || i == n || j == 0 || j == n;
            const double x = grid_coordinate(i, n, border ? 0 : jitter, random);
            const double y = grid_coordinate(j, n, border ? 0 : jitter, random);
            builder.set_point(j * side + i, Point<2>{{x, y}});
        }
    }
    std::vector<std::array<index_t, 3>> triangles;
    triangles.reserve(2 * static_cast<std::size_t>(n) * n);
    for (index_t j = 0; j < n; ++j) {
        for (index_t i = 0; i < n; ++i) {
            const index_t a = j * side + i;
            const index_t b = a + 1;
            const index_t c = b + side;
            const index_t d = a + side;
            triangles.push_back({a, b, c});
            triangles.push_back({a, c, d});
        }
    }
    builder.create_triangles(triangles);
    if (adjacencies) {
        builder.compute_polygon_adjacencies();
    }
    return surface;
}

/// The unit cube cut into n³ cubes of six positively oriented tetrahedra each (Kuhn split:
/// one tetrahedron per path from corner (0,0,0) to corner (1,1,1) along the three axes, 6 n³
/// in all). Vertex (i, j, k) has index (k (n + 1) + j) (n + 1) + i. Interior vertices are
/// jittered as in `jittered_square_surface`.
inline TetrahedralSolid<3> jittered_cube_solid(index_t n, double jitter = 0.1,
                                               bool adjacencies = true) {
    std::mt19937_64 random{grid_seed(n)};
    TetrahedralSolid<3> solid;
    TetrahedralSolidBuilder<3> builder{solid};
    const index_t side = n + 1;
    builder.create_points(side * side * side);
    for (index_t k = 0; k <= n; ++k) {
        for (index_t j = 0; j <= n; ++j) {
            for (index_t i = 0; i <= n; ++i) {
                const bool border = i == 0 || i == n || j == 0 || j == n || k == 0 || k == n;
                const double used_jitter = border ? 0 : jitter;
                const double x = grid_coordinate(i, n, used_jitter, random);
                const double y = grid_coordinate(j, n, used_jitter, random);
                const double z = grid_coordinate(k, n, used_jitter, random);
                builder.set_point((k * side + j) * side + i, Point<3>{{x, y, z}});
            }
        }
    }
    // The axis orders of the six paths; the odd permutations list their last two vertices
    // swapped so that every tetrahedron is positively oriented.
    constexpr std::array<std::array<index_t, 3>, 6> paths{
        {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {0, 2, 1}, {2, 1, 0}, {1, 0, 2}}};
    const std::array<index_t, 3> step{1, side, side * side};
    std::vector<std::array<index_t, 4>> tetrahedra;
    tetrahedra.reserve(6 * static_cast<std::size_t>(n) * n * n);
    for (index_t k = 0; k < n; ++k) {
        for (index_t j = 0; j < n; ++j) {
            for (index_t i = 0; i < n; ++i) {
                const index_t origin = (k * side + j) * side + i;
                for (std::size_t p = 0; p < paths.size(); ++p) {
                    const index_t v1 = origin + step[paths[p][0]];
                    const index_t v2 = v1 + step[paths[p][1]];
                    const index_t v3 = v2 + step[paths[p][2]];
                    if (p < 3) {
                        tetrahedra.push_back({origin, v1, v2, v3});
                    } else {
                        tetrahedra.push_back({origin, v1, v3, v2});
                    }
                }
            }
        }
    }
    builder.create_tetrahedra(tetrahedra);
    if (adjacencies) {
        builder.compute_polyhedron_adjacencies();
    }
    return solid;
}

/// The jittered grid of n cells per side of a mesh kind: `jittered_segment_curve` (which has no
/// adjacencies), `jittered_square_surface` or `jittered_cube_solid`.
template <typename Mesh>
Mesh jittered_grid(index_t n, double jitter = 0.1, bool adjacencies = true);

template <>
inline EdgedCurve<1> jittered_grid<EdgedCurve<1>>(index_t n, double jitter, bool /*adjacencies*/) {
    return jittered_segment_curve(n, jitter);
}

template <>
inline TriangulatedSurface<2> jittered_grid<TriangulatedSurface<2>>(index_t n, double jitter,
                                                                    bool adjacencies) {
    return jittered_square_surface(n, jitter, adjacencies);
}

template <>
inline TetrahedralSolid<3> jittered_grid<TetrahedralSolid<3>>(index_t n, double jitter,
                                                              bool adjacencies) {
    return jittered_cube_solid(n, jitter, adjacencies);
}

}  // namespace orvex::test
