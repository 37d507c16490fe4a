// Element search on meshes placed where real coordinates put them, each against the same grid
// at the origin (testing/include/orvex_testing/placed_meshes.h): the jittered Kuhn grids of
// about 1e5 and 1e6 tetrahedra, triangles and edges (first argument: the exponent), placed by
// the second argument:
//   0 at the origin, in grid order (the reference);
//   1 in a shuffled element order with 4 stray elements at 1e4, 1e8, 1e12 and 1e16;
//   2, 3, 4 offset by 1e5, 1e6, 1e7 on every axis;
//   5, 6 scaled by 1e-30 and 1e30.
// The queries (50000: half uniform in the unit box, half just outside it, shuffled) are placed
// with the mesh. BM_Placed<Kind> times one query per iteration (third argument 0) or the batch
// query on all of them, per point (1); `elements_per_query` counts the element distances one
// query evaluates (the tree's nearest-element search, bounded as the search bounds it).
//
// Run: taskset -c 1 build/release/bench/element_search_placement_bench

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <tuple>
#include <vector>

#include "orvex/background_common/element_search/element_search.h"
#include "orvex_testing/grid_cache.h"
#include "orvex_testing/placed_meshes.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_aabb_tree.h"
#include "polvane/mesh/mesh_traits.h"

namespace {

using orvex::index_t;
using orvex::Point;
using orvex::internal::ElementSearch;

constexpr std::size_t nb_queries = 50000;

// (scale, offset) of each placement; placement 1 keeps the grid in place and adds strays.
constexpr std::array<std::array<double, 2>, 7> placements{
    {{1, 0}, {1, 0}, {1, 1e5}, {1, 1e6}, {1, 1e7}, {1e-30, 0}, {1e30, 0}}};

template <typename Mesh>
struct Placed {
    Mesh mesh;
    std::vector<Point<Mesh::dimension>> queries;
    std::unique_ptr<ElementSearch<Mesh>> search;
    double elements_per_query = 0;
};

template <typename Mesh>
const Placed<Mesh>& placed(int exponent, int placement) {
    using Traits = orvex::MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    static std::mutex mutex;
    static std::map<std::tuple<int, int>, std::unique_ptr<Placed<Mesh>>> cache;
    const std::lock_guard<std::mutex> lock{mutex};
    auto& entry = cache[{exponent, placement}];
    if (entry) {
        return *entry;
    }
    const Mesh& grid = orvex::test::cached_grid<Mesh>(orvex::test::grid_cells<Mesh>(exponent));
    const auto [scale, offset] = placements[static_cast<std::size_t>(placement)];
    entry = std::make_unique<Placed<Mesh>>(Placed<Mesh>{
        placement == 1 ? orvex::test::with_strays(grid, 17) : orvex::test::placed(grid, scale, offset),
        {},
        std::make_unique<ElementSearch<Mesh>>()});
    std::mt19937_64 random{5};
    std::uniform_real_distribution<double> unit{0, 1};
    std::uniform_real_distribution<double> gap{-3, 0};
    for (std::size_t i = 0; i < nb_queries; ++i) {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, unit(random));
        }
        if (i % 2 == 1) {
            const double out = std::pow(10., gap(random));
            point.set_value(static_cast<index_t>(random() % D), random() % 2 == 0 ? -out : 1 + out);
        }
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, point.value(axis) * scale + offset);
        }
        entry->queries.push_back(point);
    }
    entry->search->reinitialize_elements_tree(entry->mesh);
    const auto tree = orvex::create_aabb_tree(entry->mesh);
    const typename Traits::ElementDistance distance{entry->mesh};
    std::uint64_t evaluated = 0;
    const auto counting = [&](const Point<D>& point, index_t element) {
        ++evaluated;
        return distance(point, element);
    };
    const double bound = std::nextafter(orvex::GLOBAL_EPSILON, 1.);
    for (std::size_t i = 0; i < nb_queries; i += 10) {
        benchmark::DoNotOptimize(tree.closest_element_within(entry->queries[i], counting, bound));
    }
    entry->elements_per_query = static_cast<double>(evaluated) / (nb_queries / 10.);
    return *entry;
}

template <typename Mesh>
void BM_Placed(benchmark::State& state) {
    const Placed<Mesh>& in =
        placed<Mesh>(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::size_t found = 0;
    if (state.range(2) == 0) {
        std::size_t next = 0;
        for (auto _ : state) {
            found += in.search->initial_containing_element(in.queries[next]).has_value() ? 1 : 0;
            next = next + 1 == in.queries.size() ? 0 : next + 1;
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    } else {
        for (auto _ : state) {
            benchmark::DoNotOptimize(in.search->initial_containing_elements(in.queries));
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * in.queries.size()));
    }
    benchmark::DoNotOptimize(found);
    state.counters["ns_per_point"] = benchmark::Counter(
        static_cast<double>(state.items_processed()) * 1e-9,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["elements_per_query"] = in.elements_per_query;
}

void arguments(benchmark::internal::Benchmark* benchmark) {
    for (const int exponent : {5, 6}) {
        for (int placement = 0; placement < static_cast<int>(placements.size()); ++placement) {
            for (const int batch : {0, 1}) {
                benchmark->Args({exponent, placement, batch});
            }
        }
    }
}

BENCHMARK_TEMPLATE(BM_Placed, orvex::TetrahedralSolid<3>)->Apply(arguments)->MinTime(0.2);
BENCHMARK_TEMPLATE(BM_Placed, orvex::TriangulatedSurface<2>)->Apply(arguments)->MinTime(0.2);
BENCHMARK_TEMPLATE(BM_Placed, orvex::EdgedCurve<1>)->Apply(arguments)->MinTime(0.2);

}  // namespace
