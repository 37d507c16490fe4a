// Exact orientation signs against a plain double determinant, per element of jittered grid
// meshes: unit square split into 2 triangles per cell, unit cube split into 6 tetrahedra per
// cell (Kuhn split), interior vertices moved by up to 10% of the cell size. Every element is
// well shaped and positively oriented, so the exact sign is decided by its floating-point
// filter; the figure to watch is the time per element of both.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "orvex_testing/mesh_generators.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"

namespace {

using orvex::Point2D;
using orvex::Point3D;

// The grid's points and elements as plain lists (orvex_testing's generators, 10 % jitter):
// what is timed is the sign per element, not a mesh's accessors.
template <orvex::index_t D>
struct Mesh {
    std::vector<orvex::Point<D>> points;
    std::vector<std::array<orvex::index_t, D + 1>> elements;
};

Mesh<2> triangle_grid(std::size_t cells) {
    const auto n = static_cast<orvex::index_t>(cells);
    return {orvex::test::jittered_grid_points<2>(n), orvex::test::square_grid_triangles(n)};
}

Mesh<3> tetrahedron_grid(std::size_t cells) {
    const auto n = static_cast<orvex::index_t>(cells);
    return {orvex::test::jittered_grid_points<3>(n), orvex::test::cube_grid_tetrahedra(n)};
}

std::size_t triangle_cells(std::int64_t elements) {
    return static_cast<std::size_t>(std::sqrt(static_cast<double>(elements) / 2) + 0.5);
}

std::size_t tetrahedron_cells(std::int64_t elements) {
    return static_cast<std::size_t>(std::cbrt(static_cast<double>(elements) / 6) + 0.5);
}

void BM_TriangleExactSign(benchmark::State& state) {
    const auto mesh = triangle_grid(triangle_cells(state.range(0)));
    std::size_t positive = 0;
    for (auto _ : state) {
        for (const auto& e : mesh.elements) {
            const orvex::Triangle<2> triangle{mesh.points[e[0]], mesh.points[e[1]],
                                              mesh.points[e[2]]};
            positive += orvex::triangle_area_sign(triangle) == orvex::SIDE::positive ? 1 : 0;
        }
        benchmark::DoNotOptimize(positive);
    }
    if (positive != mesh.elements.size() * static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("a well-shaped triangle was not positive");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.elements.size()));
}

void BM_TrianglePlainDeterminant(benchmark::State& state) {
    const auto mesh = triangle_grid(triangle_cells(state.range(0)));
    std::size_t positive = 0;
    for (auto _ : state) {
        for (const auto& e : mesh.elements) {
            const Point2D& a = mesh.points[e[0]];
            const Point2D& b = mesh.points[e[1]];
            const Point2D& c = mesh.points[e[2]];
            const double det = (b.value(0) - a.value(0)) * (c.value(1) - a.value(1))
                               - (b.value(1) - a.value(1)) * (c.value(0) - a.value(0));
            positive += det > 0 ? 1 : 0;
        }
        benchmark::DoNotOptimize(positive);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.elements.size()));
}

void BM_TetrahedronExactSign(benchmark::State& state) {
    const auto mesh = tetrahedron_grid(tetrahedron_cells(state.range(0)));
    std::size_t positive = 0;
    for (auto _ : state) {
        for (const auto& e : mesh.elements) {
            const orvex::Tetrahedron tetrahedron{mesh.points[e[0]], mesh.points[e[1]],
                                                 mesh.points[e[2]], mesh.points[e[3]]};
            positive +=
                orvex::tetrahedron_volume_sign(tetrahedron) == orvex::SIDE::positive ? 1 : 0;
        }
        benchmark::DoNotOptimize(positive);
    }
    if (positive != mesh.elements.size() * static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("a well-shaped tetrahedron was not positive");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.elements.size()));
}

void BM_TetrahedronPlainDeterminant(benchmark::State& state) {
    const auto mesh = tetrahedron_grid(tetrahedron_cells(state.range(0)));
    std::size_t positive = 0;
    for (auto _ : state) {
        for (const auto& e : mesh.elements) {
            const Point3D& p0 = mesh.points[e[0]];
            std::array<std::array<double, 3>, 3> d{};
            for (std::size_t row = 0; row < 3; ++row) {
                for (orvex::index_t axis = 0; axis < 3; ++axis) {
                    d[row][axis] = mesh.points[e[row + 1]].value(axis) - p0.value(axis);
                }
            }
            const double det = d[0][0] * (d[1][1] * d[2][2] - d[1][2] * d[2][1])
                               + d[0][1] * (d[1][2] * d[2][0] - d[1][0] * d[2][2])
                               + d[0][2] * (d[1][0] * d[2][1] - d[1][1] * d[2][0]);
            positive += det > 0 ? 1 : 0;
        }
        benchmark::DoNotOptimize(positive);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.elements.size()));
}

BENCHMARK(BM_TriangleExactSign)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);
BENCHMARK(BM_TrianglePlainDeterminant)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);
BENCHMARK(BM_TetrahedronExactSign)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);
BENCHMARK(BM_TetrahedronPlainDeterminant)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);

}  // namespace
