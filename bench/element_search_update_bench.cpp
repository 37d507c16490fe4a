// The element search following a changing mesh, on the jittered Kuhn grids of testing/ (about
// 1e6 tetrahedra, triangles and edges; the argument is the exponent, 7 for 1e7 tetrahedra),
// each workload beside rebuilding the search instead:
// - BM_PointInsertion<Mesh>: 10000 random points of the unit box inserted one at a time, each
//   located in the current mesh, its element split (a tetrahedron into four, a triangle into
//   three, an edge into two: the element keeps its index for one part, the others are
//   appended) and the search updated. Counters: `us_per_point` (locate + update),
//   `edit_us_per_point` (the mesh's own split, not the search's), `rebuild_us_per_point` (a
//   rebuild after each split instead, timed on 20 steps), and `search_B_per_element` (the
//   heap the search holds after the insertions, per element);
// - BM_Smoothing<Mesh>: 100 rounds, each moving 1 % of the vertices by up to a tenth of a cell
//   per axis, then 10000 queries; the vertices of a round are those nearest a random point (a
//   local smoothing pass; second argument 0) or drawn anywhere (1, the worst case for memory:
//   every element then lies far from the previous one). Counters: `update_us_per_vertex`, and the
//   query time after round 100 against a new snapshot of the same mesh (`query_ratio`);
// - BM_Coarsening<Mesh>: 50 rounds, each deleting 0.2 % of the elements with compaction (and
//   the vertices left unused). Counters: `update_ms` per round and `rebuild_ms` of the same
//   mesh (`update_over_rebuild`).
// Every workload ends by checking its search against a new snapshot on 100000 queries
// (`disagreements`: answers at another distance, or found by one and not the other; must be
// 0).
//
// Run: taskset -c 1 build/release/bench/element_search_update_bench

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "orvex/background_common/element_search/element_search.h"
#include "orvex_testing/grid_cache.h"
#include "orvex_testing/mesh_edits.h"
#include "orvex_testing/random_points.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_traits.h"

namespace {

using orvex::index_t;
using orvex::MeshChanges;
using orvex::Point;
using orvex::internal::ElementSearch;
using Clock = std::chrono::steady_clock;
using orvex::test::random_point;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::int64_t heap_bytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<std::int64_t>(info.uordblks + info.hblkhd);
}

// The grid of about 10^exponent elements, copied (the workloads change it).
template <typename Mesh>
Mesh grid_copy(int exponent) {
    const Mesh& grid = orvex::test::cached_grid_of_size<Mesh>(exponent);
    return std::move(*grid.clone());
}

// Answers of `search` that a new snapshot of `mesh` would not give, on 100000 queries around
// the mesh: found by one and not the other, or at another distance.
template <typename Mesh>
double disagreements(const ElementSearch<Mesh>& search, const Mesh& mesh) {
    using Traits = orvex::MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    ElementSearch<Mesh> fresh;
    fresh.reinitialize_elements_tree(mesh);
    std::mt19937_64 random{99};
    std::vector<Point<D>> points;
    for (int i = 0; i < 100000; ++i) {
        points.push_back(random_point<D>(random, -0.05, 1.05));
    }
    const auto ours = search.initial_containing_elements(points);
    const auto theirs = fresh.initial_containing_elements(points);
    const typename Traits::ElementDistance distance{mesh};
    std::size_t count = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (ours[i].has_value() != theirs[i].has_value()) {
            ++count;
        } else if (ours[i] && *ours[i] != orvex::NO_ID
                   && distance(points[i], *ours[i]) != distance(points[i], *theirs[i])) {
            ++count;
        }
    }
    return static_cast<double>(count);
}

// The time of one query per point, the better of two passes (the machine's speed drifts).
template <typename Mesh, index_t D>
double query_seconds(const ElementSearch<Mesh>& search, const std::vector<Point<D>>& queries) {
    double best = 1e9;
    std::size_t found = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const auto start = Clock::now();
        for (const auto& query : queries) {
            found += search.initial_containing_element(query).has_value() ? 1 : 0;
        }
        best = std::min(best, seconds_since(start));
    }
    benchmark::DoNotOptimize(found);
    return best;
}

// The workloads' sizes: points inserted (and steps of the rebuild that they are compared
// with), smoothing rounds and the queries after each, coarsening rounds.
constexpr int insertion_points = 10000;
constexpr int insertion_rebuild_steps = 20;
constexpr int smoothing_rounds = 100;
constexpr int smoothing_queries = 10000;
constexpr int coarsening_rounds = 50;

// One step of point insertion: a random interior point located in `search` (its time added to
// `locate_seconds`) and its element split in `mesh` (the time added to `edit_seconds`); gives
// the split's changes.
template <typename Mesh, typename Random>
MeshChanges locate_and_split(const ElementSearch<Mesh>& search, Mesh& mesh, Random& random,
                             double& locate_seconds, double& edit_seconds) {
    const auto point = random_point<orvex::MeshTraits<Mesh>::dimension>(random, 0, 1);
    const auto start = Clock::now();
    const auto element = search.initial_containing_element(point);
    locate_seconds += seconds_since(start);
    MeshChanges changes;
    const auto edit_start = Clock::now();
    orvex::test::split_element(mesh, *element, point, changes);
    edit_seconds += seconds_since(edit_start);
    return changes;
}

template <typename Mesh>
void BM_PointInsertion(benchmark::State& state) {
    using Traits = orvex::MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    for (auto _ : state) {
        Mesh mesh = grid_copy<Mesh>(static_cast<int>(state.range(0)));
        std::mt19937_64 random{2024};
        // A rebuild after each split instead, on a copy, for a few steps.
        double rebuild_seconds = 0;
        {
            Mesh other = std::move(*mesh.clone());
            ElementSearch<Mesh> search;
            search.reinitialize_elements_tree(other);
            std::mt19937_64 other_random{2024};
            for (int step = 0; step < insertion_rebuild_steps; ++step) {
                double edit_seconds = 0;
                locate_and_split(search, other, other_random, rebuild_seconds, edit_seconds);
                const auto rebuild_start = Clock::now();
                search.reinitialize_elements_tree(other);
                rebuild_seconds += seconds_since(rebuild_start);
            }
        }
        const std::int64_t heap_before = heap_bytes();
        ElementSearch<Mesh> search;
        search.reinitialize_elements_tree(mesh);
        std::int64_t search_heap = heap_bytes() - heap_before;
        double search_seconds = 0;
        double edit_seconds = 0;
        for (int step = 0; step < insertion_points; ++step) {
            const MeshChanges changes =
                locate_and_split(search, mesh, random, search_seconds, edit_seconds);
            const std::int64_t update_heap = heap_bytes();
            const auto update_start = Clock::now();
            search.update_elements_tree(mesh, changes);
            search_seconds += seconds_since(update_start);
            search_heap += heap_bytes() - update_heap;
        }
        // Queries on the updated search against a new snapshot of the same mesh.
        std::vector<Point<D>> queries;
        for (int i = 0; i < 10000; ++i) {
            queries.push_back(random_point<D>(random, -0.05, 1.05));
        }
        state.counters["query_ratio"] = query_seconds(search, queries) / [&] {
            ElementSearch<Mesh> fresh;
            fresh.reinitialize_elements_tree(mesh);
            return query_seconds(fresh, queries);
        }();
        state.counters["us_per_point"] = search_seconds / insertion_points * 1e6;
        state.counters["edit_us_per_point"] = edit_seconds / insertion_points * 1e6;
        state.counters["rebuild_us_per_point"] = rebuild_seconds / insertion_rebuild_steps * 1e6;
        state.counters["search_B_per_element"] =
            static_cast<double>(search_heap) / Traits::nb_elements(mesh);
        state.counters["elements"] = Traits::nb_elements(mesh);
        state.counters["disagreements"] = disagreements(search, mesh);
    }
}

template <typename Mesh>
void BM_Smoothing(benchmark::State& state) {
    using Traits = orvex::MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    for (auto _ : state) {
        const int exponent = static_cast<int>(state.range(0));
        Mesh mesh = grid_copy<Mesh>(exponent);
        const double cell = 1.0 / orvex::test::grid_cells<Mesh>(exponent);
        std::mt19937_64 random{7};
        ElementSearch<Mesh> search;
        search.reinitialize_elements_tree(mesh);
        std::vector<Point<D>> queries;
        for (int i = 0; i < smoothing_queries; ++i) {
            queries.push_back(random_point<D>(random, -0.05, 1.05));
        }
        const index_t per_round = mesh.nb_vertices() / 100;
        std::uniform_int_distribution<index_t> any_vertex{0, mesh.nb_vertices() - 1};
        const bool scattered = state.range(1) == 1;
        std::vector<std::pair<double, index_t>> by_distance(mesh.nb_vertices());
        double update_seconds = 0;
        std::size_t moved = 0;
        std::size_t found = 0;
        double last_query_seconds = 0;
        for (int round = 0; round < smoothing_rounds; ++round) {
            MeshChanges changes;
            // A patch: the vertices nearest a random point, as a local smoothing pass moves
            // them; or vertices drawn anywhere.
            const Point<D> center = random_point<D>(random, 0, 1);
            for (index_t v = 0; v < mesh.nb_vertices() && !scattered; ++v) {
                double squared = 0;
                for (index_t axis = 0; axis < D; ++axis) {
                    const double delta = mesh.point(v).value(axis) - center.value(axis);
                    squared += delta * delta;
                }
                by_distance[v] = {squared, v};
            }
            if (!scattered) {
                std::nth_element(by_distance.begin(), by_distance.begin() + per_round,
                                 by_distance.end());
            }
            for (index_t k = 0; k < per_round; ++k) {
                const index_t vertex = scattered ? any_vertex(random) : by_distance[k].second;
                orvex::test::move_vertex(
                    mesh, vertex,
                    mesh.point(vertex) + random_point<D>(random, -0.1 * cell, 0.1 * cell), changes);
            }
            const auto start = Clock::now();
            search.update_elements_tree(mesh, changes);
            update_seconds += seconds_since(start);
            moved += changes.moved_vertices.size();
            const auto query_start = Clock::now();
            for (const auto& query : queries) {
                found += search.initial_containing_element(query).has_value() ? 1 : 0;
            }
            last_query_seconds = seconds_since(query_start);
        }
        ElementSearch<Mesh> fresh;
        fresh.reinitialize_elements_tree(mesh);
        // The same queries on the new snapshot, then on the updated search again, twice each
        // (the better of two: the machine's speed drifts).
        double fresh_seconds = 1e9;
        double updated_seconds = last_query_seconds;
        for (int repeat = 0; repeat < 2; ++repeat) {
            auto start = Clock::now();
            for (const auto& query : queries) {
                found += fresh.initial_containing_element(query).has_value() ? 1 : 0;
            }
            fresh_seconds = std::min(fresh_seconds, seconds_since(start));
            start = Clock::now();
            for (const auto& query : queries) {
                found += search.initial_containing_element(query).has_value() ? 1 : 0;
            }
            updated_seconds = std::min(updated_seconds, seconds_since(start));
        }
        benchmark::DoNotOptimize(found);
        state.counters["update_us_per_vertex"] = update_seconds / static_cast<double>(moved) * 1e6;
        state.counters["query_us_after"] = updated_seconds / smoothing_queries * 1e6;
        state.counters["query_us_fresh"] = fresh_seconds / smoothing_queries * 1e6;
        state.counters["query_ratio"] = updated_seconds / fresh_seconds;
        state.counters["disagreements"] = disagreements(search, mesh);
    }
}

template <typename Mesh>
void BM_Coarsening(benchmark::State& state) {
    using Traits = orvex::MeshTraits<Mesh>;
    for (auto _ : state) {
        Mesh mesh = grid_copy<Mesh>(static_cast<int>(state.range(0)));
        std::mt19937_64 random{3};
        ElementSearch<Mesh> search;
        search.reinitialize_elements_tree(mesh);
        double update_seconds = 0;
        double rebuild_seconds = 0;
        for (int round = 0; round < coarsening_rounds; ++round) {
            const index_t n = Traits::nb_elements(mesh);
            std::vector<bool> flags(n, false);
            for (index_t k = 0; k < n / 500; ++k) {
                flags[random() % n] = true;
            }
            MeshChanges changes;
            orvex::test::delete_elements(mesh, flags, changes);
            auto start = Clock::now();
            search.update_elements_tree(mesh, changes);
            update_seconds += seconds_since(start);
            if (round % 10 == 0) {
                ElementSearch<Mesh> rebuilt;
                rebuilt.reinitialize_elements_tree(mesh);
                start = Clock::now();
                rebuilt.reinitialize_elements_tree(mesh);
                rebuild_seconds += seconds_since(start);
            }
        }
        state.counters["update_ms"] = update_seconds / coarsening_rounds * 1e3;
        state.counters["rebuild_ms"] = rebuild_seconds / (coarsening_rounds / 10) * 1e3;
        state.counters["update_over_rebuild"] =
            (update_seconds / coarsening_rounds) / (rebuild_seconds / (coarsening_rounds / 10));
        state.counters["disagreements"] = disagreements(search, mesh);
    }
}

using orvex::EdgedCurve;
using orvex::TetrahedralSolid;
using orvex::TriangulatedSurface;

void insertion_sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(6)->Iterations(1)->Unit(benchmark::kSecond);
}

void smoothing_kinds(benchmark::internal::Benchmark* benchmark) {
    benchmark->Args({6, 0})->Args({6, 1})->Iterations(1)->Unit(benchmark::kSecond);
}

BENCHMARK_TEMPLATE(BM_PointInsertion, TetrahedralSolid<3>)->Apply(insertion_sizes)->Arg(7);
BENCHMARK_TEMPLATE(BM_PointInsertion, TriangulatedSurface<2>)->Apply(insertion_sizes);
BENCHMARK_TEMPLATE(BM_PointInsertion, EdgedCurve<1>)->Apply(insertion_sizes);
BENCHMARK_TEMPLATE(BM_Smoothing, TetrahedralSolid<3>)->Apply(smoothing_kinds);
BENCHMARK_TEMPLATE(BM_Smoothing, TriangulatedSurface<2>)->Apply(smoothing_kinds);
BENCHMARK_TEMPLATE(BM_Smoothing, EdgedCurve<1>)->Apply(smoothing_kinds);
BENCHMARK_TEMPLATE(BM_Coarsening, TetrahedralSolid<3>)->Apply(insertion_sizes);
BENCHMARK_TEMPLATE(BM_Coarsening, TriangulatedSurface<2>)->Apply(insertion_sizes);
BENCHMARK_TEMPLATE(BM_Coarsening, EdgedCurve<1>)->Apply(insertion_sizes);

}  // namespace
