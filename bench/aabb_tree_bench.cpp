// Build and query times of AABBTree over jittered grid meshes: tetrahedra (a cube grid, each
// cube split into 6 tetrahedra around its main diagonal) and triangles (a square grid, 2 per
// cell). Mesh sizes are about 1e4, 1e5 and 1e6 elements.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <map>
#include <random>
#include <vector>

#include "polvane/geometry/aabb_tree.h"
#include "polvane/geometry/bounding_box.h"
#include "polvane/geometry/point.h"

namespace {

using orvex::AABBTree;
using orvex::BoundingBox;
using orvex::index_t;
using orvex::Point;

template <index_t D>
struct GridMesh {
    std::vector<Point<D>> vertices;
    std::vector<std::array<index_t, D + 1>> elements;
};

// A unit square (D = 2) or cube (D = 3) grid with `cells` cells per side, interior vertices moved
// by a uniform jitter in [-0.1 h, 0.1 h] on each axis.
template <index_t D>
GridMesh<D> make_grid_mesh(index_t cells) {
    GridMesh<D> mesh;
    const double h = 1.0 / cells;
    const index_t side = cells + 1;
    std::mt19937_64 rng{12345};
    std::uniform_real_distribution<double> jitter{-0.1 * h, 0.1 * h};
    index_t count = 1;
    for (index_t axis = 0; axis < D; ++axis) {
        count *= side;
    }
    mesh.vertices.resize(count);
    for (index_t v = 0; v < count; ++v) {
        index_t rest = v;
        for (index_t axis = 0; axis < D; ++axis) {
            const index_t i = rest % side;
            rest /= side;
            const bool interior = i > 0 && i < cells;
            mesh.vertices[v].set_value(axis, i * h + (interior ? jitter(rng) : 0.0));
        }
    }
    // Kuhn split: one simplex per ordering of the axes, walking from the cell's lowest corner
    // to its highest one axis at a time.
    std::vector<std::array<index_t, D>> orders;
    std::array<index_t, D> order{};
    for (index_t axis = 0; axis < D; ++axis) {
        order[axis] = axis;
    }
    do {
        orders.push_back(order);
    } while (std::next_permutation(order.begin(), order.end()));
    index_t cell_count = 1;
    for (index_t axis = 0; axis < D; ++axis) {
        cell_count *= cells;
    }
    for (index_t cell = 0; cell < cell_count; ++cell) {
        std::array<index_t, D> corner{};
        index_t rest = cell;
        for (index_t axis = 0; axis < D; ++axis) {
            corner[axis] = rest % cells;
            rest /= cells;
        }
        for (const auto& axes : orders) {
            std::array<index_t, D + 1> simplex{};
            std::array<index_t, D> at = corner;
            for (index_t step = 0; step <= D; ++step) {
                if (step > 0) {
                    ++at[axes[step - 1]];
                }
                index_t vertex = 0;
                for (index_t axis = D; axis-- > 0;) {
                    vertex = vertex * side + at[axis];
                }
                simplex[step] = vertex;
            }
            mesh.elements.push_back(simplex);
        }
    }
    return mesh;
}

template <index_t D>
const GridMesh<D>& cached_mesh(index_t cells) {
    static std::map<index_t, GridMesh<D>> meshes;
    auto found = meshes.find(cells);
    if (found == meshes.end()) {
        found = meshes.emplace(cells, make_grid_mesh<D>(cells)).first;
    }
    return found->second;
}

template <index_t D>
std::vector<BoundingBox<D>> element_boxes(const GridMesh<D>& mesh) {
    std::vector<BoundingBox<D>> boxes(mesh.elements.size());
    for (std::size_t e = 0; e < mesh.elements.size(); ++e) {
        for (const index_t v : mesh.elements[e]) {
            boxes[e].add_point(mesh.vertices[v]);
        }
    }
    return boxes;
}

// A lower bound of the distance from `p` to a simplex: the largest signed distance to the
// planes (lines in 2D) of its facets, positive outside; 0 when `p` is inside.
template <index_t D>
double simplex_distance(const GridMesh<D>& mesh, const Point<D>& p, index_t element) {
    const auto& simplex = mesh.elements[element];
    double largest = 0.0;
    for (index_t opposite = 0; opposite <= D; ++opposite) {
        std::array<Point<D>, D> facet;
        index_t count = 0;
        for (index_t i = 0; i <= D; ++i) {
            if (i != opposite) {
                facet[count++] = mesh.vertices[simplex[i]];
            }
        }
        std::array<double, D> normal{};
        if constexpr (D == 2) {
            normal = {facet[0].value(1) - facet[1].value(1), facet[1].value(0) - facet[0].value(0)};
        } else {
            const Point<D> u = facet[1] - facet[0];
            const Point<D> w = facet[2] - facet[0];
            normal = {u.value(1) * w.value(2) - u.value(2) * w.value(1),
                      u.value(2) * w.value(0) - u.value(0) * w.value(2),
                      u.value(0) * w.value(1) - u.value(1) * w.value(0)};
        }
        const Point<D>& other = mesh.vertices[simplex[opposite]];
        double to_point = 0.0;
        double to_other = 0.0;
        double length2 = 0.0;
        for (index_t axis = 0; axis < D; ++axis) {
            to_point += normal[axis] * (p.value(axis) - facet[0].value(axis));
            to_other += normal[axis] * (other.value(axis) - facet[0].value(axis));
            length2 += normal[axis] * normal[axis];
        }
        const double signed_distance = (to_other > 0 ? -to_point : to_point) / std::sqrt(length2);
        largest = std::max(largest, signed_distance);
    }
    return largest;
}

template <index_t D>
void build_with_boxes(benchmark::State& state) {
    const GridMesh<D>& mesh = cached_mesh<D>(static_cast<index_t>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::vector<BoundingBox<D>> boxes = element_boxes(mesh);
        const AABBTree<D> tree{boxes};
        bytes = tree.memory_bytes();
        benchmark::DoNotOptimize(tree.root_box());
    }
    state.counters["elements"] = static_cast<double>(mesh.elements.size());
    state.counters["tree_bytes_per_element"] =
        static_cast<double>(bytes) / static_cast<double>(mesh.elements.size());
}

template <index_t D>
void build_tree_only(benchmark::State& state) {
    const GridMesh<D>& mesh = cached_mesh<D>(static_cast<index_t>(state.range(0)));
    const std::vector<BoundingBox<D>> boxes = element_boxes(mesh);
    for (auto _ : state) {
        const AABBTree<D> tree{boxes};
        benchmark::DoNotOptimize(tree.root_box());
    }
    state.counters["elements"] = static_cast<double>(mesh.elements.size());
}

// Point location of random points of the unit square or cube (always inside some element).
template <index_t D>
void query(benchmark::State& state) {
    const GridMesh<D>& mesh = cached_mesh<D>(static_cast<index_t>(state.range(0)));
    const AABBTree<D> tree{element_boxes(mesh)};
    std::mt19937_64 rng{777};
    std::uniform_real_distribution<double> coordinate{0.0, 1.0};
    std::vector<Point<D>> points(1024);
    for (auto& point : points) {
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(rng));
        }
    }
    const auto distance = [&mesh](const Point<D>& p, index_t element) {
        return simplex_distance(mesh, p, element);
    };
    std::size_t next = 0;
    std::size_t found = 0;
    for (auto _ : state) {
        const auto [element, best] = tree.closest_element(points[next], distance);
        found += best <= orvex::GLOBAL_EPSILON ? 1 : 0;
        benchmark::DoNotOptimize(element);
        next = (next + 1) % points.size();
    }
    state.counters["found_ratio"] =
        static_cast<double>(found) / static_cast<double>(state.iterations());
    state.counters["elements"] = static_cast<double>(mesh.elements.size());
}

// Cells per side: 6 n^3 tetrahedra for n = 12, 26, 55 and 2 n^2 triangles for n = 71, 224, 707.
BENCHMARK(build_with_boxes<3>)->Arg(12)->Arg(26)->Arg(55)->Unit(benchmark::kMillisecond);
BENCHMARK(build_tree_only<3>)->Arg(12)->Arg(26)->Arg(55)->Unit(benchmark::kMillisecond);
BENCHMARK(build_with_boxes<2>)->Arg(71)->Arg(224)->Arg(707)->Unit(benchmark::kMillisecond);
BENCHMARK(build_tree_only<2>)->Arg(71)->Arg(224)->Arg(707)->Unit(benchmark::kMillisecond);
BENCHMARK(query<3>)->Arg(12)->Arg(26)->Arg(55)->Unit(benchmark::kMicrosecond);
BENCHMARK(query<2>)->Arg(71)->Arg(224)->Arg(707)->Unit(benchmark::kMicrosecond);

}  // namespace
