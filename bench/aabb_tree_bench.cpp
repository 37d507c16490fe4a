// The bounding-box tree alone, over the jittered grids of testing/ (Kuhn-split unit squares and
// cubes, about 1e4, 1e5 and 1e6 triangles and tetrahedra; the argument is the exponent):
// - build_from_boxes<Mesh>: the tree over an array of element boxes (the boxes not counted);
// - build_from_simplices<Mesh>: the tree over the mesh's points and elements, boxes read from
//   the vertices as it goes (what `create_aabb_tree` does);
// - nearest<Mesh>: `closest_element` of random points of the unit box with the mesh's element
//   distance, and the element distances one query evaluates.
//
// Run: taskset -c 1 build/release/bench/aabb_tree_bench

#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <vector>

#include "orvex_testing/grid_cache.h"
#include "polvane/geometry/aabb_tree.h"
#include "polvane/mesh/mesh_aabb_tree.h"
#include "polvane/mesh/mesh_traits.h"

namespace {

using orvex::index_t;

// The grid of the benchmark's size (its first argument: the exponent), made once per process.
template <typename Mesh>
const Mesh& grid(const benchmark::State& state) {
    return orvex::test::cached_grid_of_size<Mesh>(static_cast<int>(state.range(0)));
}

template <typename Mesh>
void build_from_boxes(benchmark::State& state) {
    using Traits = orvex::MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    const Mesh& mesh = grid<Mesh>(state);
    std::vector<orvex::BoundingBox<D>> boxes(Traits::nb_elements(mesh));
    for (index_t e = 0; e < boxes.size(); ++e) {
        for (const index_t v : Traits::element_vertices(mesh, e)) {
            boxes[e].add_point(mesh.point(v));
        }
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        const orvex::AABBTree<D> tree{boxes};
        bytes = tree.memory_bytes();
        benchmark::DoNotOptimize(tree.root_box());
    }
    state.counters["elements"] = static_cast<double>(boxes.size());
    state.counters["tree_bytes_per_element"] =
        static_cast<double>(bytes) / static_cast<double>(boxes.size());
}

template <typename Mesh>
void build_from_simplices(benchmark::State& state) {
    const Mesh& mesh = grid<Mesh>(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvex::create_aabb_tree(mesh));
    }
    state.counters["elements"] = orvex::MeshTraits<Mesh>::nb_elements(mesh);
}

template <typename Mesh>
void nearest(benchmark::State& state) {
    using Traits = orvex::MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    const Mesh& mesh = grid<Mesh>(state);
    const auto tree = orvex::create_aabb_tree(mesh);
    const typename Traits::ElementDistance element_distance{mesh};
    std::size_t evaluated = 0;
    const auto distance = [&](const orvex::Point<D>& point, index_t element) {
        ++evaluated;
        return element_distance(point, element);
    };
    std::mt19937_64 rng{777};
    std::uniform_real_distribution<double> coordinate{0.0, 1.0};
    std::vector<orvex::Point<D>> points(1024);
    for (auto& point : points) {
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(rng));
        }
    }
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tree.closest_element(points[next], distance));
        next = (next + 1) % points.size();
    }
    state.counters["distances_per_query"] =
        static_cast<double>(evaluated) / static_cast<double>(state.iterations());
}

using orvex::TetrahedralSolid;
using orvex::TriangulatedSurface;

// About 1e4, 1e5 and 1e6 elements.
void sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->DenseRange(4, 6)->Unit(benchmark::kMillisecond);
}

BENCHMARK_TEMPLATE(build_from_boxes, TetrahedralSolid<3>)->Apply(sizes);
BENCHMARK_TEMPLATE(build_from_simplices, TetrahedralSolid<3>)->Apply(sizes);
BENCHMARK_TEMPLATE(build_from_boxes, TriangulatedSurface<2>)->Apply(sizes);
BENCHMARK_TEMPLATE(build_from_simplices, TriangulatedSurface<2>)->Apply(sizes);
BENCHMARK_TEMPLATE(nearest, TetrahedralSolid<3>)->Apply(sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(nearest, TriangulatedSurface<2>)->Apply(sizes)->Unit(benchmark::kMicrosecond);

}  // namespace
