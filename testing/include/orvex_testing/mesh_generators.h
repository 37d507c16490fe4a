#pragma once

// Mesh generators shared by tests and benchmarks: structured grids of the unit segment,
// square and cube whose interior vertices are jittered, so that no two elements are alike and
// no coordinate is special, while every element keeps its orientation. The grids come as
// meshes, as a cache of meshes kept per process, or as plain point and element lists for code
// that needs no mesh.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <tuple>
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

/// The (n + 1)^D vertices of the grid of n cells per side of the unit interval, square or cube
/// (D = 1, 2, 3), vertex (i, j, k) at index (k (n + 1) + j) (n + 1) + i. A vertex off the border
/// is moved by a uniform offset in [-jitter h, jitter h] per axis (h = 1/n; std::mt19937_64
/// seeded with `grid_seed(n)`, drawn axis by axis, vertex by vertex); border vertices stay put.
template <index_t D>
std::vector<Point<D>> jittered_grid_points(index_t n, double jitter = 0.1) {
    std::mt19937_64 random{grid_seed(n)};
    const index_t side = n + 1;
    index_t count = 1;
    for (index_t axis = 0; axis < D; ++axis) {
        count *= side;
    }
    std::vector<Point<D>> points(count);
    for (index_t vertex = 0; vertex < count; ++vertex) {
        std::array<index_t, D> cell{};
        bool border = false;
        for (index_t axis = 0, rest = vertex; axis < D; ++axis, rest /= side) {
            cell[axis] = rest % side;
            border = border || cell[axis] == 0 || cell[axis] == n;
        }
        for (index_t axis = 0; axis < D; ++axis) {
            points[vertex].set_value(axis,
                                     grid_coordinate(cell[axis], n, border ? 0 : jitter, random));
        }
    }
    return points;
}

/// The n edges of the unit segment's grid: edge i joins vertices i and i + 1.
inline std::vector<std::array<index_t, 2>> segment_grid_edges(index_t n) {
    std::vector<std::array<index_t, 2>> edges;
    edges.reserve(n);
    for (index_t i = 0; i < n; ++i) {
        edges.push_back({i, i + 1});
    }
    return edges;
}

/// The 2 n² counter-clockwise triangles of the unit square's grid: cell (i, j) gives (a, b, c)
/// and (a, c, d) with a, b, c, d its corners (i, j), (i+1, j), (i+1, j+1), (i, j+1).
inline std::vector<std::array<index_t, 3>> square_grid_triangles(index_t n) {
    const index_t side = n + 1;
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
    return triangles;
}

/// The 6 n³ positively oriented tetrahedra of the unit cube's grid (Kuhn split: one tetrahedron
/// per path from corner (0,0,0) to corner (1,1,1) of a cell along the three axes).
inline std::vector<std::array<index_t, 4>> cube_grid_tetrahedra(index_t n) {
    const index_t side = n + 1;
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
    return tetrahedra;
}

/// Creates `points` in the builder's mesh, in order, from index 0 (the mesh must be empty).
template <typename Builder, index_t D>
void create_grid_points(Builder& builder, const std::vector<Point<D>>& points) {
    builder.create_points(static_cast<index_t>(points.size()));
    for (index_t vertex = 0; vertex < points.size(); ++vertex) {
        builder.set_point(vertex, points[vertex]);
    }
}

/// The unit segment cut into n edges (`segment_grid_edges`), interior vertices jittered
/// (`jittered_grid_points`).
inline EdgedCurve<1> jittered_segment_curve(index_t n, double jitter = 0.1) {
    EdgedCurve<1> curve;
    EdgedCurveBuilder<1> builder{curve};
    create_grid_points(builder, jittered_grid_points<1>(n, jitter));
    builder.create_edges(segment_grid_edges(n));
    return curve;
}

/// The unit square cut into n × n cells of two counter-clockwise triangles each
/// (`square_grid_triangles`), interior vertices jittered (`jittered_grid_points`). Adjacencies
/// are computed when `adjacencies` is set.
inline TriangulatedSurface<2> jittered_square_surface(index_t n, double jitter = 0.1,
                                                      bool adjacencies = true) {
    TriangulatedSurface<2> surface;
    TriangulatedSurfaceBuilder<2> builder{surface};
    create_grid_points(builder, jittered_grid_points<2>(n, jitter));
    builder.create_triangles(square_grid_triangles(n));
    if (adjacencies) {
        builder.compute_polygon_adjacencies();
    }
    return surface;
}

/// The unit cube cut into n³ cubes of six positively oriented tetrahedra each
/// (`cube_grid_tetrahedra`), interior vertices jittered (`jittered_grid_points`). Adjacencies
/// are computed when `adjacencies` is set.
inline TetrahedralSolid<3> jittered_cube_solid(index_t n, double jitter = 0.1,
                                               bool adjacencies = true) {
    TetrahedralSolid<3> solid;
    TetrahedralSolidBuilder<3> builder{solid};
    create_grid_points(builder, jittered_grid_points<3>(n, jitter));
    builder.create_tetrahedra(cube_grid_tetrahedra(n));
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

/// `jittered_grid<Mesh>(n, jitter, adjacencies)`, made on the first call with these arguments
/// and kept until the process ends: for benchmarks, whose large grids are costly to make and
/// are read by several runs. Not thread-safe.
template <typename Mesh>
const Mesh& shared_jittered_grid(index_t n, double jitter = 0.1, bool adjacencies = true) {
    static std::map<std::tuple<index_t, double, bool>, std::unique_ptr<Mesh>> grids;
    auto& grid = grids[{n, jitter, adjacencies}];
    if (!grid) {
        grid = std::make_unique<Mesh>(jittered_grid<Mesh>(n, jitter, adjacencies));
    }
    return *grid;
}

}  // namespace orvex::test
