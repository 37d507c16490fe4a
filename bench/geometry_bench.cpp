// Exact orientation signs against a plain double determinant, per element of jittered grid
// meshes: unit square split into 2 triangles per cell, unit cube split into 6 tetrahedra per
// cell (Kuhn split), interior vertices moved by up to 10% of the cell size. Every element is
// well shaped and positively oriented, so the exact sign is decided by its floating-point
// filter; the figure to watch is the time per element of both.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "polvane/geometry/orientation.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"

namespace {

using orvex::Point2D;
using orvex::Point3D;

template <std::size_t N, typename PointType>
struct Mesh {
    std::vector<PointType> points;
    std::vector<std::array<std::size_t, N>> elements;
};

double jitter(std::mt19937_64& random, double cell, bool interior) {
    std::uniform_real_distribution<double> offset{-0.1 * cell, 0.1 * cell};
    return interior ? offset(random) : 0.0;
}

Mesh<3, Point2D> triangle_grid(std::size_t cells) {
    Mesh<3, Point2D> mesh;
    std::mt19937_64 random{42};
    const double h = 1.0 / static_cast<double>(cells);
    for (std::size_t j = 0; j <= cells; ++j) {
        for (std::size_t i = 0; i <= cells; ++i) {
            const bool interior = i > 0 && j > 0 && i < cells && j < cells;
            const double x = static_cast<double>(i) * h + jitter(random, h, interior);
            const double y = static_cast<double>(j) * h + jitter(random, h, interior);
            mesh.points.push_back(Point2D{{x, y}});
        }
    }
    const auto id = [cells](std::size_t i, std::size_t j) { return j * (cells + 1) + i; };
    for (std::size_t j = 0; j < cells; ++j) {
        for (std::size_t i = 0; i < cells; ++i) {
            mesh.elements.push_back({id(i, j), id(i + 1, j), id(i + 1, j + 1)});
            mesh.elements.push_back({id(i, j), id(i + 1, j + 1), id(i, j + 1)});
        }
    }
    return mesh;
}

Mesh<4, Point3D> tetrahedron_grid(std::size_t cells) {
    Mesh<4, Point3D> mesh;
    std::mt19937_64 random{42};
    const double h = 1.0 / static_cast<double>(cells);
    for (std::size_t k = 0; k <= cells; ++k) {
        for (std::size_t j = 0; j <= cells; ++j) {
            for (std::size_t i = 0; i <= cells; ++i) {
                const bool interior =
                    i > 0 && j > 0 && k > 0 && i < cells && j < cells && k < cells;
                const double x = static_cast<double>(i) * h + jitter(random, h, interior);
                const double y = static_cast<double>(j) * h + jitter(random, h, interior);
                const double z = static_cast<double>(k) * h + jitter(random, h, interior);
                mesh.points.push_back(Point3D{{x, y, z}});
            }
        }
    }
    const std::size_t n = cells + 1;
    // Kuhn split: one tetrahedron per order of the three axes, walking from corner 000 to 111.
    std::array<std::size_t, 3> axes{0, 1, 2};
    std::vector<std::pair<std::array<std::size_t, 3>, bool>> orders;
    do {
        const int inversions = (axes[0] > axes[1]) + (axes[0] > axes[2]) + (axes[1] > axes[2]);
        orders.emplace_back(axes, inversions % 2 == 1);
    } while (std::next_permutation(axes.begin(), axes.end()));
    const std::array<std::size_t, 3> stride{1, n, n * n};
    for (std::size_t k = 0; k < cells; ++k) {
        for (std::size_t j = 0; j < cells; ++j) {
            for (std::size_t i = 0; i < cells; ++i) {
                const std::size_t origin = i + j * n + k * n * n;
                for (const auto& [order, odd] : orders) {
                    std::array<std::size_t, 4> tet{};
                    tet[0] = origin;
                    for (std::size_t step = 0; step < 3; ++step) {
                        tet[step + 1] = tet[step] + stride[order[step]];
                    }
                    if (odd) {  // odd orders walk a negatively oriented tetrahedron
                        std::swap(tet[0], tet[1]);
                    }
                    mesh.elements.push_back(tet);
                }
            }
        }
    }
    return mesh;
}

std::size_t triangle_cells(std::int64_t elements) {
    return static_cast<std::size_t>(std::sqrt(static_cast<double>(elements) / 2) + 0.5);
}

std::size_t tetrahedron_cells(std::int64_t elements) {
    return static_cast<std::size_t>(std::cbrt(static_cast<double>(elements) / 6) + 0.5);
}

void BM_TriangleExactSign(benchmark::State& state) {
    const auto mesh = triangle_grid(triangle_cells(state.range(0)));
    std::size_t positive = 0;
    for (auto _ : state) {
        for (const auto& e : mesh.elements) {
            const orvex::Triangle<2> triangle{mesh.points[e[0]], mesh.points[e[1]],
                                              mesh.points[e[2]]};
            positive += orvex::triangle_area_sign(triangle) == orvex::SIDE::positive ? 1 : 0;
        }
        benchmark::DoNotOptimize(positive);
    }
    if (positive != mesh.elements.size() * static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("a well-shaped triangle was not positive");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.elements.size()));
}

void BM_TrianglePlainDeterminant(benchmark::State& state) {
    const auto mesh = triangle_grid(triangle_cells(state.range(0)));
    std::size_t positive = 0;
    for (auto _ : state) {
        for (const auto& e : mesh.elements) {
            const Point2D& a = mesh.points[e[0]];
            const Point2D& b = mesh.points[e[1]];
            const Point2D& c = mesh.points[e[2]];
            const double det = (b.value(0) - a.value(0)) * (c.value(1) - a.value(1))
                               - (b.value(1) - a.value(1)) * (c.value(0) - a.value(0));
            positive += det > 0 ? 1 : 0;
        }
        benchmark::DoNotOptimize(positive);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.elements.size()));
}

void BM_TetrahedronExactSign(benchmark::State& state) {
    const auto mesh = tetrahedron_grid(tetrahedron_cells(state.range(0)));
    std::size_t positive = 0;
    for (auto _ : state) {
        for (const auto& e : mesh.elements) {
            const orvex::Tetrahedron tetrahedron{mesh.points[e[0]], mesh.points[e[1]],
                                                 mesh.points[e[2]], mesh.points[e[3]]};
            positive +=
                orvex::tetrahedron_volume_sign(tetrahedron) == orvex::SIDE::positive ? 1 : 0;
        }
        benchmark::DoNotOptimize(positive);
    }
    if (positive != mesh.elements.size() * static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("a well-shaped tetrahedron was not positive");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.elements.size()));
}

void BM_TetrahedronPlainDeterminant(benchmark::State& state) {
    const auto mesh = tetrahedron_grid(tetrahedron_cells(state.range(0)));
    std::size_t positive = 0;
    for (auto _ : state) {
        for (const auto& e : mesh.elements) {
            const Point3D& p0 = mesh.points[e[0]];
            std::array<std::array<double, 3>, 3> d{};
            for (std::size_t row = 0; row < 3; ++row) {
                for (orvex::index_t axis = 0; axis < 3; ++axis) {
                    d[row][axis] = mesh.points[e[row + 1]].value(axis) - p0.value(axis);
                }
            }
            const double det = d[0][0] * (d[1][1] * d[2][2] - d[1][2] * d[2][1])
                               + d[0][1] * (d[1][2] * d[2][0] - d[1][0] * d[2][2])
                               + d[0][2] * (d[1][0] * d[2][1] - d[1][1] * d[2][0]);
            positive += det > 0 ? 1 : 0;
        }
        benchmark::DoNotOptimize(positive);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.elements.size()));
}

BENCHMARK(BM_TriangleExactSign)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);
BENCHMARK(BM_TrianglePlainDeterminant)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);
BENCHMARK(BM_TetrahedronExactSign)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);
BENCHMARK(BM_TetrahedronPlainDeterminant)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);

}  // namespace
