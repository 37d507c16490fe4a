#pragma once

// Jittered grids (see mesh_generators.h) made once per process, for benchmarks and tests that
// run many cases on the same large meshes: a grid of millions of elements takes seconds to
// generate.

#include <cmath>
#include <map>
#include <memory>
#include <mutex>

#include "orvex_testing/mesh_generators.h"
#include "polvane/basic/index.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex::test {

/// The cells per side of the jittered grid of a mesh kind with about 10^exponent elements
/// (D! n^D elements for n cells per side): tetrahedra 12 / 26 / 55 / 119 for 1e4 / 1e5 / 1e6 /
/// 1e7, triangles 71 / 224 / 707 for 1e4 / 1e5 / 1e6, edges 10^exponent.
template <typename Mesh>
index_t grid_cells(int exponent) {
    constexpr index_t D = MeshTraits<Mesh>::dimension;
    const double per_cell = D == 3 ? 6. : D == 2 ? 2. : 1.;
    return static_cast<index_t>(std::lround(std::pow(std::pow(10., exponent) / per_cell, 1. / D)));
}

/// `jittered_grid<Mesh>(cells)` (default jitter, adjacencies included), made on the first call
/// and kept until the process ends. Safe to call from several threads.
template <typename Mesh>
const Mesh& cached_grid(index_t cells) {
    static std::mutex mutex;
    static std::map<index_t, std::unique_ptr<const Mesh>> grids;
    const std::lock_guard<std::mutex> lock{mutex};
    auto& grid = grids[cells];
    if (!grid) {
        grid = std::make_unique<const Mesh>(jittered_grid<Mesh>(cells));
    }
    return *grid;
}

/// The cached jittered grid of about 10^exponent elements (see `grid_cells`).
template <typename Mesh>
const Mesh& cached_grid_of_size(int exponent) {
    return cached_grid<Mesh>(grid_cells<Mesh>(exponent));
}

}  // namespace orvex::test
