// Mesh costs on the jittered grids of testing/ (about 1e4, 1e5 and 1e6 triangles and tetrahedra;
// the argument is the exponent): adjacency computation, clone, tree construction, and clone +
// tree together (what a point-location rebuild of a whole mesh copy would pay).

#include <benchmark/benchmark.h>

#include "orvex_testing/grid_cache.h"
#include "polvane/mesh/mesh_aabb_tree.h"
#include "polvane/mesh/mesh_traits.h"

namespace {

using orvex::TetrahedralSolid;
using orvex::TriangulatedSurface;

// The grid of the benchmark's size (its first argument: the exponent), made once per process.
template <typename Mesh>
const Mesh& grid(const benchmark::State& state) {
    return orvex::test::cached_grid_of_size<Mesh>(static_cast<int>(state.range(0)));
}

template <typename Mesh>
void count_elements(benchmark::State& state, const Mesh& mesh) {
    state.counters["elements"] = orvex::MeshTraits<Mesh>::nb_elements(mesh);
}

template <typename Mesh>
void BM_Adjacencies(benchmark::State& state) {
    const auto copy = grid<Mesh>(state).clone();
    typename orvex::MeshTraits<Mesh>::Builder builder{*copy};
    for (auto _ : state) {
        orvex::MeshTraits<Mesh>::compute_adjacencies(builder);
    }
    count_elements(state, *copy);
}

template <typename Mesh>
void BM_Clone(benchmark::State& state) {
    const Mesh& mesh = grid<Mesh>(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(mesh.clone());
    }
    count_elements(state, mesh);
}

template <typename Mesh>
void BM_Tree(benchmark::State& state) {
    const Mesh& mesh = grid<Mesh>(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvex::create_aabb_tree(mesh));
    }
    count_elements(state, mesh);
}

template <typename Mesh>
void BM_CloneAndTree(benchmark::State& state) {
    const Mesh& mesh = grid<Mesh>(state);
    for (auto _ : state) {
        const auto copy = mesh.clone();
        benchmark::DoNotOptimize(orvex::create_aabb_tree(*copy));
    }
    count_elements(state, mesh);
}

void sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->DenseRange(4, 6)->Unit(benchmark::kMillisecond);
}

// Each benchmark on surfaces, then solids.
#define ORVEX_ON_SURFACES_AND_SOLIDS(benchmark_name)                          \
    BENCHMARK_TEMPLATE(benchmark_name, TriangulatedSurface<2>)->Apply(sizes); \
    BENCHMARK_TEMPLATE(benchmark_name, TetrahedralSolid<3>)->Apply(sizes)

ORVEX_ON_SURFACES_AND_SOLIDS(BM_Adjacencies);
ORVEX_ON_SURFACES_AND_SOLIDS(BM_Clone);
ORVEX_ON_SURFACES_AND_SOLIDS(BM_Tree);
ORVEX_ON_SURFACES_AND_SOLIDS(BM_CloneAndTree);

}  // namespace
