// The macro information stores on a background mesh of 1e6 edges carrying about two macro
// edges each: carrying entries over, common macro edges of vertex pairs, and the permutation
// and compaction of the list attributes by the attribute manager, against the same moves done
// by hand on a plain vector of lists.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <random>
#include <vector>

#include "orvex_testing/test_background_mesh.h"
#include "polvane/basic/variable_attribute.h"

namespace {

using orvex::index_t;
using orvex::Mapping;
using orvex::MeshEdge;
using orvex::uuid;
using orvex::test::TestBackgroundMesh;
using orvex::test::TestBuilder;
using Lists = std::vector<std::vector<MeshEdge>>;

constexpr index_t nb_edges = 1000000;

// A chain of `nb_edges` background edges; edge e carries two of the component's macro edges.
TestBackgroundMesh& chain_with_macro_edges() {
    static TestBackgroundMesh* const mesh = [] {
        std::vector<std::array<index_t, 2>> edges(nb_edges);
        for (index_t e = 0; e < nb_edges; ++e) {
            edges[e] = {e, e + 1};
        }
        auto* result = new TestBackgroundMesh{nb_edges + 1, std::move(edges), nb_edges};
        TestBuilder builder{*result};
        const uuid component;
        for (index_t e = 0; e < nb_edges; ++e) {
            const index_t edge[] = {e};
            builder.add_macro_edge_info({component, e / 2}, edge);
            builder.add_macro_edge_info({component, nb_edges + e / 3}, edge);
        }
        return result;
    }();
    return *mesh;
}

std::vector<index_t> random_permutation(index_t size) {
    std::vector<index_t> permutation(size);
    std::iota(permutation.begin(), permutation.end(), 0);
    std::shuffle(permutation.begin(), permutation.end(), std::mt19937_64{7});
    return permutation;
}

std::vector<bool> every_tenth(index_t size) {
    std::vector<bool> flags(size, false);
    for (index_t i = 0; i < size; i += 10) {
        flags[i] = true;
    }
    return flags;
}

void BM_UpdateEdgesSameIndices(benchmark::State& state) {
    auto& mesh = chain_with_macro_edges();
    TestBuilder builder{mesh};
    std::vector<Mapping<index_t>> mappings(nb_edges);
    for (index_t e = 0; e < nb_edges; ++e) {
        mappings[e] = {e, e};
    }
    // Mapping every edge onto itself changes nothing, so every iteration does the same work:
    // read the edge's list, and look each entry up in the lists of its two vertices.
    for (auto _ : state) {
        builder.update_edges(mappings);
    }
    state.SetItemsProcessed(state.iterations() * nb_edges);
}

void BM_CommonMacroEdges(benchmark::State& state) {
    const auto& mesh = chain_with_macro_edges();
    for (auto _ : state) {
        std::size_t total = 0;
        for (index_t v = 0; v < nb_edges; ++v) {
            total += mesh.common_macro_edges(v, v + 1).size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * nb_edges);
}

// The edge lists of the chain as a plain vector, for the hand-written reference.
Lists plain_edge_lists() {
    const auto& mesh = chain_with_macro_edges();
    Lists lists(nb_edges);
    for (index_t e = 0; e < nb_edges; ++e) {
        lists[e] = mesh.macro_edges(e);
    }
    return lists;
}

void BM_ManagerPermutesEdgeLists(benchmark::State& state) {
    auto& mesh = chain_with_macro_edges();
    const auto permutation = random_permutation(nb_edges);
    for (auto _ : state) {
        mesh.edge_manager.permute_elements(permutation);
    }
    state.SetItemsProcessed(state.iterations() * nb_edges);
}

void BM_HandPermutesEdgeLists(benchmark::State& state) {
    auto lists = plain_edge_lists();
    const auto permutation = random_permutation(nb_edges);
    for (auto _ : state) {
        Lists permuted(lists.size());
        for (index_t k = 0; k < nb_edges; ++k) {
            permuted[k] = std::move(lists[permutation[k]]);
        }
        lists.swap(permuted);
    }
    state.SetItemsProcessed(state.iterations() * nb_edges);
}

// The same in-place walk of the permutation's cycles that the attribute does, by hand.
void BM_HandPermutesEdgeListsInPlace(benchmark::State& state) {
    auto lists = plain_edge_lists();
    const auto permutation = random_permutation(nb_edges);
    for (auto _ : state) {
        std::vector<bool> visited(nb_edges, false);
        for (index_t i = 0; i < nb_edges; ++i) {
            if (visited[i]) {
                continue;
            }
            visited[i] = true;
            auto aside = std::move(lists[i]);
            index_t current = i;
            while (permutation[current] != i) {
                const index_t from = permutation[current];
                lists[current] = std::move(lists[from]);
                visited[from] = true;
                current = from;
            }
            lists[current] = std::move(aside);
        }
    }
    state.SetItemsProcessed(state.iterations() * nb_edges);
}

void BM_ManagerPermutesAllThreeListAttributes(benchmark::State& state) {
    auto& mesh = chain_with_macro_edges();
    const auto vertex_permutation = random_permutation(nb_edges + 1);
    const auto permutation = random_permutation(nb_edges);
    for (auto _ : state) {
        mesh.vertex_manager.permute_elements(vertex_permutation);
        mesh.edge_manager.permute_elements(permutation);
        mesh.element_manager.permute_elements(permutation);
    }
}

void BM_ManagerCompactsEdgeLists(benchmark::State& state) {
    const auto& source = chain_with_macro_edges().edge_manager;
    const auto flags = every_tenth(nb_edges);
    for (auto _ : state) {
        state.PauseTiming();
        orvex::AttributeManager manager;
        manager.copy(source);
        state.ResumeTiming();
        benchmark::DoNotOptimize(manager.delete_elements(flags));
        state.PauseTiming();
        manager.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * nb_edges);
}

void BM_HandCompactsEdgeLists(benchmark::State& state) {
    const auto source = plain_edge_lists();
    const auto flags = every_tenth(nb_edges);
    for (auto _ : state) {
        state.PauseTiming();
        auto lists = source;
        state.ResumeTiming();
        std::vector<index_t> old2new(nb_edges, orvex::NO_ID);
        index_t kept = 0;
        for (index_t e = 0; e < nb_edges; ++e) {
            if (!flags[e]) {
                old2new[e] = kept;
                lists[kept++] = std::move(lists[e]);
            }
        }
        lists.resize(kept);
        benchmark::DoNotOptimize(old2new.data());
        state.PauseTiming();
        lists.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * nb_edges);
}

BENCHMARK(BM_UpdateEdgesSameIndices)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommonMacroEdges)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManagerPermutesEdgeLists)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandPermutesEdgeLists)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandPermutesEdgeListsInPlace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManagerPermutesAllThreeListAttributes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManagerCompactsEdgeLists)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandCompactsEdgeLists)->Unit(benchmark::kMillisecond);

}  // namespace
