// Sorting the points met along a macro edge, against a plain std::sort of the same points on
// the same key: what the bounding box, the deduplication and the direction check add.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "orvex/background_common/insertion/macro_edge_insertion_info.h"

namespace {

using orvex::Point3D;
using orvex::internal::MacroEdgeInsertionInfo;

// `count` points along the diagonal of the unit cube, shuffled, one in ten repeated exactly.
MacroEdgeInsertionInfo<3> points_along_diagonal(std::size_t count) {
    std::mt19937_64 random{42};
    std::uniform_real_distribution<double> parameter{0, 1};
    MacroEdgeInsertionInfo<3> info;
    info.points.reserve(count);
    while (info.points.size() < count) {
        const double t = parameter(random);
        info.points.push_back({Point3D{{t, 0.5 * t, 0.25 * t}}, std::nullopt, {}});
        if (info.points.size() % 10 == 9) {
            info.points.push_back(info.points.back());
        }
    }
    std::shuffle(info.points.begin(), info.points.end(), random);
    return info;
}

void BM_MacroEdgeInsertionSort(benchmark::State& state) {
    const auto source = points_along_diagonal(static_cast<std::size_t>(state.range(0)));
    const Point3D from{{0, 0, 0}};
    const Point3D to{{1, 0.5, 0.25}};
    const orvex::Segment<3> segment{from, to};
    for (auto _ : state) {
        state.PauseTiming();
        auto info = source;
        state.ResumeTiming();
        info.sort(segment);
        benchmark::DoNotOptimize(info.points.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PlainStdSortSameKey(benchmark::State& state) {
    const auto source = points_along_diagonal(static_cast<std::size_t>(state.range(0)));
    using Entry = MacroEdgeInsertionInfo<3>::InsertionPoint;
    for (auto _ : state) {
        state.PauseTiming();
        auto info = source;
        state.ResumeTiming();
        std::sort(info.points.begin(), info.points.end(), [](const Entry& a, const Entry& b) {
            return a.point.value(0) < b.point.value(0);
        });
        benchmark::DoNotOptimize(info.points.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_MacroEdgeInsertionSort)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainStdSortSameKey)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
