// Mesh costs on jittered grids of about 1e4, 1e5 and 1e6 elements: adjacency computation,
// clone, tree construction, and clone + tree together (what a point-location rebuild pays).

#include <benchmark/benchmark.h>

#include "orvex_testing/grid_cache.h"
#include "polvane/mesh/mesh_aabb_tree.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace {

using orvex::index_t;

// Grids are costly to generate: each size is made once per process.
const orvex::TriangulatedSurface<2>& surface(index_t n) {
    return orvex::test::cached_grid<orvex::TriangulatedSurface<2>>(n);
}

const orvex::TetrahedralSolid<3>& solid(index_t n) {
    return orvex::test::cached_grid<orvex::TetrahedralSolid<3>>(n);
}

// 2 n² triangles: n = 71, 224, 707 give about 1e4, 1e5, 1e6.
void surface_sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(71)->Arg(224)->Arg(707)->Unit(benchmark::kMillisecond);
}

// 6 n³ tetrahedra: n = 12, 26, 55 give about 1e4, 1e5, 1e6.
void solid_sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(12)->Arg(26)->Arg(55)->Unit(benchmark::kMillisecond);
}

void BM_SurfaceAdjacencies(benchmark::State& state) {
    const auto copy = surface(static_cast<index_t>(state.range(0))).clone();
    orvex::TriangulatedSurfaceBuilder<2> builder{*copy};
    for (auto _ : state) {
        builder.compute_polygon_adjacencies();
    }
    state.counters["elements"] = copy->nb_polygons();
}

BENCHMARK(BM_SurfaceAdjacencies)->Apply(surface_sizes);

void BM_SolidAdjacencies(benchmark::State& state) {
    const auto copy = solid(static_cast<index_t>(state.range(0))).clone();
    orvex::TetrahedralSolidBuilder<3> builder{*copy};
    for (auto _ : state) {
        builder.compute_polyhedron_adjacencies();
    }
    state.counters["elements"] = copy->nb_polyhedra();
}

BENCHMARK(BM_SolidAdjacencies)->Apply(solid_sizes);

void BM_SurfaceClone(benchmark::State& state) {
    const auto& mesh = surface(static_cast<index_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(mesh.clone());
    }
    state.counters["elements"] = mesh.nb_polygons();
}

BENCHMARK(BM_SurfaceClone)->Apply(surface_sizes);

void BM_SolidClone(benchmark::State& state) {
    const auto& mesh = solid(static_cast<index_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(mesh.clone());
    }
    state.counters["elements"] = mesh.nb_polyhedra();
}

BENCHMARK(BM_SolidClone)->Apply(solid_sizes);

void BM_SurfaceTree(benchmark::State& state) {
    const auto& mesh = surface(static_cast<index_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvex::create_aabb_tree(mesh));
    }
    state.counters["elements"] = mesh.nb_polygons();
}

BENCHMARK(BM_SurfaceTree)->Apply(surface_sizes);

void BM_SolidTree(benchmark::State& state) {
    const auto& mesh = solid(static_cast<index_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvex::create_aabb_tree(mesh));
    }
    state.counters["elements"] = mesh.nb_polyhedra();
}

BENCHMARK(BM_SolidTree)->Apply(solid_sizes);

// The reference to compare with: "copy 1e6 tetrahedra and build a tree" in 0.50 s.
void BM_SolidCloneAndTree(benchmark::State& state) {
    const auto& mesh = solid(static_cast<index_t>(state.range(0)));
    for (auto _ : state) {
        const auto copy = mesh.clone();
        benchmark::DoNotOptimize(orvex::create_aabb_tree(*copy));
    }
    state.counters["elements"] = mesh.nb_polyhedra();
}

BENCHMARK(BM_SolidCloneAndTree)->Apply(solid_sizes);

void BM_SurfaceCloneAndTree(benchmark::State& state) {
    const auto& mesh = surface(static_cast<index_t>(state.range(0)));
    for (auto _ : state) {
        const auto copy = mesh.clone();
        benchmark::DoNotOptimize(orvex::create_aabb_tree(*copy));
    }
    state.counters["elements"] = mesh.nb_polygons();
}

BENCHMARK(BM_SurfaceCloneAndTree)->Apply(surface_sizes);

}  // namespace
