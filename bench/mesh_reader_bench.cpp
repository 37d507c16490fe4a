// The examples' mesh readers on files built to make a careless reader slow, each beside an
// ordinary file of the same size and layout (compare the two rows of a pair: the machine's speed
// drifts, their ratio does not):
//   - legacy VTK with 200 000 cells of 200 000 distinct unknown types (about 2 MB), beside the
//     same cells all of one unknown type: counting kinds must not search a list;
//   - Gmsh with a skipped section whose end marker is 64 kB of a repeated piece, over 1 MB of
//     near misses of it, beside a marker of two pieces over as many bytes: finding the end must
//     not compare the marker again at every start.
//
//   build/release/bench/mesh_reader_bench

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "mesh_readers.h"
#include "orvex_testing/hostile_mesh_files.h"

namespace {

void read_vtk(benchmark::State& state, bool distinct) {
    const std::string text = orvex::test::vtk_of_unknown_cell_types(200000, distinct);
    for (auto _ : state) {
        const auto mesh = orvex::examples::parse_vtk(text);
        benchmark::DoNotOptimize(mesh.notes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["bytes"] = static_cast<double>(text.size());
}

void BM_VtkDistinctUnknownTypes(benchmark::State& state) {
    read_vtk(state, true);
}

void BM_VtkOneUnknownType(benchmark::State& state) {
    read_vtk(state, false);
}

void read_gmsh(benchmark::State& state, std::size_t name_pieces) {
    const std::string text = orvex::test::gmsh_with_repeated_section(name_pieces, 1U << 20);
    for (auto _ : state) {
        const auto mesh = orvex::examples::parse_gmsh(text);
        benchmark::DoNotOptimize(mesh.coordinates.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_GmshLongRepeatedSectionName(benchmark::State& state) {
    read_gmsh(state, 1U << 14);  // a 64 kB marker
}

void BM_GmshShortSectionName(benchmark::State& state) {
    read_gmsh(state, 2);
}

}  // namespace

BENCHMARK(BM_VtkDistinctUnknownTypes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VtkOneUnknownType)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GmshLongRepeatedSectionName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GmshShortSectionName)->Unit(benchmark::kMillisecond);
