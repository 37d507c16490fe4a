// Element search at scale: what a remeshing loop pays per rebuild and per located point.
//
// Meshes (generated here, jittered Kuhn grids of testing/include/orvex_testing/mesh_generators.h,
// adjacencies included so that the mesh copy has its real size):
// - tetrahedra: 6 n³ with n = 26 / 55 / 119 (about 1e5 / 1e6 / 1.01e7), argument 5 / 6 / 7;
// - triangles: 2 n² with n = 707 (about 1e6), argument 6;
// - edges: 1e6, argument 6.
// Queries: 100000 points, half uniform in the unit box, half on a random facet of the box
// pushed out along its normal by a distance whose log10 is uniform in [-3, 0], shuffled.
//
// - BM_Rebuild<Kind>: `reinitialize_elements_tree` (clone plus tree), with counters ns per
//   element and heap bytes per element of the whole search (mesh copy included);
// - BM_Query<Kind>: one `initial_containing_element` per iteration, shuffled;
// - BM_Batch<Kind>: `initial_containing_elements` on all the queries, time per point; with 2
//   threads each thread answers its own half (items_per_second compares the throughputs);
// - BM_RebuildPart: the two parts of a rebuild on 1e6 tetrahedra, the mesh copy and the tree.
//
// Run: taskset -c 1 build/release/bench/element_search_scale_bench

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "orvex/background_common/element_search/element_search.h"
#include "orvex_testing/grid_cache.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_aabb_tree.h"
#include "polvane/mesh/mesh_traits.h"

namespace {

using orvex::EdgedCurve;
using orvex::index_t;
using orvex::Point;
using orvex::TetrahedralSolid;
using orvex::TriangulatedSurface;
using orvex::internal::ElementSearch;

constexpr std::size_t nb_queries = 100000;

std::size_t heap_bytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// The jittered grid of about 10^exponent elements of a mesh kind, made once.
template <typename Mesh>
const Mesh& mesh_of(int exponent) {
    return orvex::test::cached_grid_of_size<Mesh>(exponent);
}

template <index_t D>
const std::vector<Point<D>>& queries() {
    static const std::vector<Point<D>> points = [] {
        std::mt19937_64 random{77 + D};
        std::uniform_real_distribution<double> unit{0, 1};
        std::uniform_real_distribution<double> exponent{-3, 0};
        std::vector<Point<D>> result(nb_queries);
        for (std::size_t i = 0; i < nb_queries; ++i) {
            Point<D> point;
            for (index_t axis = 0; axis < D; ++axis) {
                point.set_value(axis, unit(random));
            }
            if (i % 2 == 1) {
                const auto axis = static_cast<index_t>(random() % D);
                const double gap = std::pow(10.0, exponent(random));
                point.set_value(axis, random() % 2 == 0 ? -gap : 1 + gap);
            }
            result[i] = point;
        }
        std::shuffle(result.begin(), result.end(), random);
        return result;
    }();
    return points;
}

template <typename Mesh>
index_t nb_elements(const Mesh& mesh) {
    return orvex::MeshTraits<Mesh>::nb_elements(mesh);
}

template <typename Mesh>
void BM_Rebuild(benchmark::State& state) {
    const Mesh& mesh = mesh_of<Mesh>(static_cast<int>(state.range(0)));
    const std::size_t before = heap_bytes();
    std::size_t held = 0;
    {
        ElementSearch<Mesh> search;
        for (auto _ : state) {
            search.reinitialize_elements_tree(mesh);
        }
        held = heap_bytes() - before;
    }
    const double n = nb_elements(mesh);
    state.counters["elements"] = n;
    state.counters["ns_per_element"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * n,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["bytes_per_element"] = static_cast<double>(held) / n;
}

template <typename Mesh>
const ElementSearch<Mesh>& search_of(int exponent) {
    static std::map<int, std::unique_ptr<ElementSearch<Mesh>>> searches;
    auto& search = searches[exponent];
    if (!search) {
        search = std::make_unique<ElementSearch<Mesh>>();
        search->reinitialize_elements_tree(mesh_of<Mesh>(exponent));
    }
    return *search;
}

template <typename Mesh>
void BM_Query(benchmark::State& state) {
    const auto& search = search_of<Mesh>(static_cast<int>(state.range(0)));
    const auto& points = queries<Mesh::dimension>();
    std::size_t i = 0;
    std::size_t found = 0;
    for (auto _ : state) {
        found += search.initial_containing_element(points[i]).has_value() ? 1 : 0;
        i = i + 1 == points.size() ? 0 : i + 1;
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations());
}

template <typename Mesh>
void BM_Batch(benchmark::State& state) {
    const auto& search = search_of<Mesh>(static_cast<int>(state.range(0)));
    const auto& points = queries<Mesh::dimension>();
    const std::size_t begin = points.size() * state.thread_index() / state.threads();
    const std::size_t end = points.size() * (state.thread_index() + 1) / state.threads();
    const absl::Span<const Point<Mesh::dimension>> slice{points.data() + begin, end - begin};
    for (auto _ : state) {
        benchmark::DoNotOptimize(search.initial_containing_elements(slice));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(slice.size()));
    state.counters["ns_per_point"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(slice.size()) * 1e-9,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The parts of a rebuild on 1e6 tetrahedra: 0 the mesh copy alone, 1 the tree alone.
void BM_RebuildPart(benchmark::State& state) {
    const auto& mesh = mesh_of<TetrahedralSolid<3>>(6);
    for (auto _ : state) {
        if (state.range(0) == 0) {
            benchmark::DoNotOptimize(mesh.clone());
        } else {
            benchmark::DoNotOptimize(orvex::create_aabb_tree(mesh));
        }
    }
    state.counters["ns_per_element"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * nb_elements(mesh),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

// A batch by one thread, and by two on its halves.
void batch_threads(benchmark::internal::Benchmark* benchmark) {
    benchmark->Unit(benchmark::kMillisecond)->Threads(1)->Threads(2)->UseRealTime();
}

BENCHMARK(BM_RebuildPart)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Rebuild, TetrahedralSolid<3>)
    ->Arg(5)
    ->Arg(6)
    ->Arg(7)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);
BENCHMARK_TEMPLATE(BM_Rebuild, TriangulatedSurface<2>)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Rebuild, EdgedCurve<1>)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Query, TetrahedralSolid<3>)->Arg(5)->Arg(6)->Arg(7);
BENCHMARK_TEMPLATE(BM_Query, TriangulatedSurface<2>)->Arg(6);
BENCHMARK_TEMPLATE(BM_Query, EdgedCurve<1>)->Arg(6);
BENCHMARK_TEMPLATE(BM_Batch, TetrahedralSolid<3>)->Arg(5)->Arg(6)->Arg(7)->Apply(batch_threads);
BENCHMARK_TEMPLATE(BM_Batch, TriangulatedSurface<2>)->Arg(6)->Apply(batch_threads);
BENCHMARK_TEMPLATE(BM_Batch, EdgedCurve<1>)->Arg(6)->Apply(batch_threads);
