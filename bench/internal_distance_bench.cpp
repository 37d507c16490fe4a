// Internal distances per element on jittered grid meshes of about 1e5 and 1e6 elements (unit
// square, 2 triangles per cell; unit cube, 6 tetrahedra per cell, Kuhn split) and on nearly flat
// tetrahedra, plus the distance caches.
//
// Figures are elements per second ("items_per_second"). Two in-process anchors run beside the
// library's operations, so that ratios can be read from a single run:
// - BM_BaseLibraryTetrahedronMinimum: the minimum composed literally from the base library's
//   point_triangle_distance and segment_segment_distance, one call per distance;
// - BM_TextbookTetrahedronMinimum: textbook plain-double formulas (closest point by Voronoi
//   regions, clamped segment-segment parameters, squared distances and one square root), fast
//   but inaccurate for thin and flat elements.
//
// The quality of whole meshes (the minimal record and the status of every element) is timed one
// by one and by the batch functions, on the span and on the mesh, in the same run; the batch
// also in four lanes only, as on processors without AVX-512.
//
// Cache hits are measured over whole meshes (every element remembered, then each looked up in
// mesh order) and over working sets of 1e3 to 1e5 elements beside the fresh computation;
// BM_TetrahedronCacheHitSpeedup times both back to back in one run and reports their ratio.
//
// BM_CollapsedKeys inserts keys (X_i, X_i, B) into a fresh triangle cache: the time per key
// must stay flat from 1e3 to 1e5 keys. BM_CollapsedKeysXorHash does the same with an
// exclusive-or combination of the point hashes, under which every such key hashes alike (kept
// small: its time per key grows with the number of keys).
//
// Run: taskset -c 1 build/<release>/bench/internal_distance_bench

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <tuple>
#include <type_traits>
#include <vector>

#include "internal_distance/batch_lanes.h"
#include "internal_distance/points_key.h"
#include "orvex/background_common/internal_distance/internal_distance_cache.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"
#include "orvex_testing/mesh_generators.h"
#include "polvane/geometry/distance.h"
#include "polvane/geometry/orientation.h"
#include "polvane/geometry/segment.h"

namespace {

using orvex::index_t;
using orvex::OwnerTetrahedron;
using orvex::Point;
using orvex::Tetrahedron;
using orvex::Triangle;
using orvex::internal::InternalDistance;

const orvex::TriangulatedSurface<2>& surface(index_t n) {
    return orvex::test::shared_jittered_grid<orvex::TriangulatedSurface<2>>(n, 0.1, false);
}

const orvex::TetrahedralSolid<3>& solid(index_t n) {
    return orvex::test::shared_jittered_grid<orvex::TetrahedralSolid<3>>(n);
}

std::vector<Triangle<2>> triangles_of(index_t n) {
    const auto& mesh = surface(n);
    std::vector<Triangle<2>> triangles;
    triangles.reserve(mesh.nb_polygons());
    for (index_t triangle = 0; triangle < mesh.nb_polygons(); ++triangle) {
        triangles.push_back(mesh.triangle(triangle));
    }
    return triangles;
}

std::vector<Tetrahedron> tetrahedra_of(index_t n) {
    const auto& mesh = solid(n);
    std::vector<Tetrahedron> tetrahedra;
    tetrahedra.reserve(mesh.nb_polyhedra());
    for (index_t tetrahedron = 0; tetrahedron < mesh.nb_polyhedra(); ++tetrahedron) {
        tetrahedra.push_back(mesh.tetrahedron(tetrahedron));
    }
    return tetrahedra;
}

// The tetrahedra of the n = 26 grid (about 1e5) with their vertices moved onto the tilted
// plane z = 0.3 x + 0.7 y + 0.1, then off it by up to 1e-7: flat within the tolerance of the
// fast scans, mostly not exactly flat.
const std::vector<OwnerTetrahedron>& nearly_flat_tetrahedra() {
    static const std::vector<OwnerTetrahedron> flat = [] {
        std::mt19937_64 random{7};
        std::uniform_real_distribution<double> offset{-1e-7, 1e-7};
        const auto& mesh = solid(26);
        std::vector<OwnerTetrahedron> result;
        result.reserve(mesh.nb_polyhedra());
        for (index_t tetrahedron = 0; tetrahedron < mesh.nb_polyhedra(); ++tetrahedron) {
            std::array<Point<3>, 4> points;
            for (orvex::local_index_t vertex = 0; vertex < 4; ++vertex) {
                const Point<3>& source = mesh.point(mesh.polyhedron_vertex({tetrahedron, vertex}));
                points[vertex] = Point<3>{
                    {source.value(0), source.value(1),
                     0.3 * source.value(0) + 0.7 * source.value(1) + 0.1 + offset(random)}};
            }
            result.emplace_back(points[0], points[1], points[2], points[3]);
        }
        return result;
    }();
    return flat;
}

std::vector<Tetrahedron> views_of(const std::vector<OwnerTetrahedron>& owners) {
    std::vector<Tetrahedron> views;
    views.reserve(owners.size());
    for (const OwnerTetrahedron& owner : owners) {
        views.emplace_back(owner);
    }
    return views;
}

template <typename Element, typename Operation>
void run_over(benchmark::State& state, const std::vector<Element>& elements, Operation operation) {
    for (auto _ : state) {
        for (const Element& element : elements) {
            benchmark::DoNotOptimize(operation(element));
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * elements.size()));
}

// 2 n² triangles: n = 224, 707 give about 1e5, 1e6.
void surface_sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(224)->Arg(707)->Unit(benchmark::kMillisecond);
}

// 6 n³ tetrahedra: n = 26, 55 give about 1e5, 1e6.
void solid_sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(26)->Arg(55)->Unit(benchmark::kMillisecond);
}

// The quality of a whole mesh, the minimal record and the status of every element: one by one
// at its fastest (the minimal record, then the status read off its distance and the exact
// orientation sign, each element measured once), and by the batch functions on the span of
// elements and on the mesh itself, written into arrays of their own, in the same run.
using Status = InternalDistance::ELEMENT_STATUS;

template <typename Element, typename Minimal, typename Positive>
void quality_one_by_one(benchmark::State& state, const std::vector<Element>& elements,
                        Minimal minimal_of, Positive positive) {
    std::vector<InternalDistance> minimal(elements.size());
    std::vector<Status> status(elements.size());
    for (auto _ : state) {
        for (std::size_t e = 0; e < elements.size(); ++e) {
            minimal[e] = minimal_of(elements[e]);
            status[e] = minimal[e].distance <= orvex::GLOBAL_EPSILON ? Status::degenerated
                        : positive(elements[e])                      ? Status::valid
                                                                     : Status::inverted;
        }
        benchmark::DoNotOptimize(minimal.data());
        benchmark::DoNotOptimize(status.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * elements.size()));
}

// `batch(minimal, status)` fills the arrays of `count` entries.
template <typename Batch>
void quality_batch(benchmark::State& state, std::size_t count, bool with_status, Batch batch) {
    std::vector<InternalDistance> minimal(count);
    std::vector<Status> status(with_status ? count : 0);
    for (auto _ : state) {
        batch(absl::MakeSpan(minimal), absl::MakeSpan(status));
        benchmark::DoNotOptimize(minimal.data());
        benchmark::DoNotOptimize(status.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

// The batch function of the elements' kind on the span of `elements`.
template <typename Element>
void span_quality_batch(benchmark::State& state, const std::vector<Element>& elements,
                        bool with_status) {
    quality_batch(state, elements.size(), with_status, [&elements](auto minimal, auto status) {
        if constexpr (std::is_same_v<Element, Tetrahedron>) {
            orvex::internal::minimal_tetrahedron_internal_distances(elements, minimal, status);
        } else {
            orvex::internal::minimal_triangle_internal_distances(elements, minimal, status);
        }
    });
}

// Hits of `Cache` on `elements`, each looked up once before the timing.
template <typename Cache, typename Element>
void cache_hits(benchmark::State& state, const std::vector<Element>& elements) {
    Cache cache;
    for (const auto& element : elements) {
        benchmark::DoNotOptimize(cache.smallest_internal_distance(element));
    }
    run_over(state, elements, [&cache](const Element& element) {
        return cache.smallest_internal_distance(element);
    });
}

// ------------------------------------------------------------------------------------------
// Triangles

void BM_MinimalTriangle(benchmark::State& state) {
    const auto triangles = triangles_of(static_cast<index_t>(state.range(0)));
    run_over(state, triangles, [](const Triangle<2>& triangle) {
        return orvex::internal::minimal_triangle_internal_distance(triangle);
    });
}

BENCHMARK(BM_MinimalTriangle)->Apply(surface_sizes);

void BM_FastTriangle(benchmark::State& state) {
    const auto triangles = triangles_of(static_cast<index_t>(state.range(0)));
    const InternalDistance::Options options{1e-3, false};
    run_over(state, triangles, [&options](const Triangle<2>& triangle) {
        return orvex::internal::fast_triangle_internal_distances(triangle, options).size();
    });
}

BENCHMARK(BM_FastTriangle)->Apply(surface_sizes);

void BM_TriangleStatus(benchmark::State& state) {
    const auto triangles = triangles_of(static_cast<index_t>(state.range(0)));
    run_over(state, triangles, [](const Triangle<2>& triangle) {
        return orvex::internal::triangle_status(triangle);
    });
}

BENCHMARK(BM_TriangleStatus)->Apply(surface_sizes);

void BM_TriangleQualityOneByOne(benchmark::State& state) {
    quality_one_by_one(
        state, triangles_of(static_cast<index_t>(state.range(0))),
        [](const Triangle<2>& t) { return orvex::internal::minimal_triangle_internal_distance(t); },
        [](const Triangle<2>& t) { return orvex::triangle_area_sign(t) == orvex::SIDE::positive; });
}

BENCHMARK(BM_TriangleQualityOneByOne)->Apply(surface_sizes);

void BM_TriangleQualityBatch(benchmark::State& state) {
    span_quality_batch(state, triangles_of(static_cast<index_t>(state.range(0))), true);
}

BENCHMARK(BM_TriangleQualityBatch)->Apply(surface_sizes);

void BM_TriangleQualityBatchOnSurface(benchmark::State& state) {
    const auto& mesh = surface(static_cast<index_t>(state.range(0)));
    quality_batch(state, mesh.nb_polygons(), true, [&mesh](auto minimal, auto status) {
        orvex::internal::minimal_triangle_internal_distances(mesh, 0, minimal, status);
    });
}

BENCHMARK(BM_TriangleQualityBatchOnSurface)->Apply(surface_sizes);

void BM_TriangleCacheHit(benchmark::State& state) {
    cache_hits<orvex::internal::ThreePointsInternalDistance>(
        state, triangles_of(static_cast<index_t>(state.range(0))));
}

BENCHMARK(BM_TriangleCacheHit)->Apply(surface_sizes);

// ------------------------------------------------------------------------------------------
// Tetrahedra

void BM_MinimalTetrahedron(benchmark::State& state) {
    const auto tetrahedra = tetrahedra_of(static_cast<index_t>(state.range(0)));
    run_over(state, tetrahedra, [](const Tetrahedron& tetrahedron) {
        return orvex::internal::minimal_tetrahedron_internal_distance(tetrahedron);
    });
}

BENCHMARK(BM_MinimalTetrahedron)->Apply(solid_sizes);

void BM_FastTetrahedron(benchmark::State& state) {
    const auto tetrahedra = tetrahedra_of(static_cast<index_t>(state.range(0)));
    const InternalDistance::Options options{1e-3, false};
    run_over(state, tetrahedra, [&options](const Tetrahedron& tetrahedron) {
        return orvex::internal::fast_tetrahedron_internal_distances(tetrahedron, options).size();
    });
}

BENCHMARK(BM_FastTetrahedron)->Apply(solid_sizes);

void BM_FastSolidTetrahedron(benchmark::State& state) {
    const auto& mesh = solid(static_cast<index_t>(state.range(0)));
    const InternalDistance::Options options{1e-3, true};
    for (auto _ : state) {
        for (index_t tetrahedron = 0; tetrahedron < mesh.nb_polyhedra(); ++tetrahedron) {
            benchmark::DoNotOptimize(
                orvex::internal::fast_tetrahedron_internal_distances(mesh, tetrahedron, options)
                    .size());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * mesh.nb_polyhedra()));
}

BENCHMARK(BM_FastSolidTetrahedron)->Apply(solid_sizes);

void BM_TetrahedronStatus(benchmark::State& state) {
    const auto tetrahedra = tetrahedra_of(static_cast<index_t>(state.range(0)));
    run_over(state, tetrahedra, [](const Tetrahedron& tetrahedron) {
        return orvex::internal::tetrahedron_status(tetrahedron);
    });
}

BENCHMARK(BM_TetrahedronStatus)->Apply(solid_sizes);

void BM_TetrahedronQualityOneByOne(benchmark::State& state) {
    quality_one_by_one(
        state, tetrahedra_of(static_cast<index_t>(state.range(0))),
        [](const Tetrahedron& t) {
            return orvex::internal::minimal_tetrahedron_internal_distance(t);
        },
        [](const Tetrahedron& t) {
            return orvex::tetrahedron_volume_sign(t) == orvex::SIDE::positive;
        });
}

BENCHMARK(BM_TetrahedronQualityOneByOne)->Apply(solid_sizes);

// The minimal records alone, beside BM_MinimalTetrahedron.
void BM_MinimalTetrahedronBatch(benchmark::State& state) {
    span_quality_batch(state, tetrahedra_of(static_cast<index_t>(state.range(0))), false);
}

BENCHMARK(BM_MinimalTetrahedronBatch)->Apply(solid_sizes);

void BM_TetrahedronQualityBatch(benchmark::State& state) {
    span_quality_batch(state, tetrahedra_of(static_cast<index_t>(state.range(0))), true);
}

BENCHMARK(BM_TetrahedronQualityBatch)->Apply(solid_sizes);

// The same in four lanes (AVX2 and FMA), as on processors without AVX-512.
void BM_TetrahedronQualityBatchFourLanes(benchmark::State& state) {
    orvex::internal::detail::limit_batch_lanes(orvex::internal::detail::BatchLanes::four);
    span_quality_batch(state, tetrahedra_of(static_cast<index_t>(state.range(0))), true);
    orvex::internal::detail::limit_batch_lanes(orvex::internal::detail::BatchLanes::widest);
}

BENCHMARK(BM_TetrahedronQualityBatchFourLanes)->Apply(solid_sizes);

void BM_TetrahedronQualityBatchOnSolid(benchmark::State& state) {
    const auto& mesh = solid(static_cast<index_t>(state.range(0)));
    quality_batch(state, mesh.nb_polyhedra(), true, [&mesh](auto minimal, auto status) {
        orvex::internal::minimal_tetrahedron_internal_distances(mesh, 0, minimal, status);
    });
}

BENCHMARK(BM_TetrahedronQualityBatchOnSolid)->Apply(solid_sizes);

void BM_TetrahedronCacheHit(benchmark::State& state) {
    cache_hits<orvex::internal::FourPointsInternalDistance>(
        state, tetrahedra_of(static_cast<index_t>(state.range(0))));
}

BENCHMARK(BM_TetrahedronCacheHit)->Apply(solid_sizes);

// Hits on working sets of 1e3 to 1e5 distinct tetrahedra (the first of the n = 55 grid), each
// looked up again and again, beside the fresh computation on the same set. While the memory
// fits in the processor's caches a hit is a hash and a few comparisons; beyond, each hit waits
// for memory twice (the control bytes, then the slot of 104 bytes).
std::vector<Tetrahedron> first_tetrahedra(std::size_t count) {
    auto tetrahedra = tetrahedra_of(55);
    tetrahedra.resize(count, tetrahedra.front());
    return tetrahedra;
}

void working_sets(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(1000)->Arg(10000)->Arg(100000);
}

void BM_TetrahedronCacheHitWorkingSet(benchmark::State& state) {
    cache_hits<orvex::internal::FourPointsInternalDistance>(
        state, first_tetrahedra(static_cast<std::size_t>(state.range(0))));
}

BENCHMARK(BM_TetrahedronCacheHitWorkingSet)->Apply(working_sets);

// The hit's speed-up in one run: each iteration measures the set afresh, then looks it up in
// the cache, back to back, so that a shared and noisy machine slows both alike. Counters:
// fresh_ns and hit_ns per element, speedup = fresh_ns / hit_ns. With 16 elements the memory
// stays in the first-level cache (the hit's own cost); argument 0 is the whole 1e5 mesh, in
// mesh order.
void BM_TetrahedronCacheHitSpeedup(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const auto count = static_cast<std::size_t>(state.range(0));
    const auto tetrahedra = count == 0 ? tetrahedra_of(26) : first_tetrahedra(count);
    orvex::internal::FourPointsInternalDistance cache;
    for (const auto& tetrahedron : tetrahedra) {
        benchmark::DoNotOptimize(cache.smallest_internal_distance(tetrahedron));
    }
    Clock::duration fresh{};
    Clock::duration hit{};
    for (auto _ : state) {
        const auto start = Clock::now();
        for (const auto& tetrahedron : tetrahedra) {
            benchmark::DoNotOptimize(
                orvex::internal::minimal_tetrahedron_internal_distance(tetrahedron).distance);
        }
        const auto middle = Clock::now();
        for (const auto& tetrahedron : tetrahedra) {
            benchmark::DoNotOptimize(cache.smallest_internal_distance(tetrahedron));
        }
        fresh += middle - start;
        hit += Clock::now() - middle;
    }
    const double elements = static_cast<double>(state.iterations() * tetrahedra.size());
    const double fresh_ns = std::chrono::duration<double, std::nano>(fresh).count() / elements;
    const double hit_ns = std::chrono::duration<double, std::nano>(hit).count() / elements;
    state.counters["fresh_ns"] = fresh_ns;
    state.counters["hit_ns"] = hit_ns;
    state.counters["speedup"] = fresh_ns / hit_ns;
}

BENCHMARK(BM_TetrahedronCacheHitSpeedup)->Arg(16)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(0);

void BM_MinimalTetrahedronWorkingSet(benchmark::State& state) {
    const auto tetrahedra = first_tetrahedra(static_cast<std::size_t>(state.range(0)));
    run_over(state, tetrahedra, [](const Tetrahedron& tetrahedron) {
        return orvex::internal::minimal_tetrahedron_internal_distance(tetrahedron);
    });
}

BENCHMARK(BM_MinimalTetrahedronWorkingSet)->Apply(working_sets);

// Nearly flat tetrahedra (about 1e5).

void BM_NearlyFlatMinimalTetrahedron(benchmark::State& state) {
    const auto tetrahedra = views_of(nearly_flat_tetrahedra());
    run_over(state, tetrahedra, [](const Tetrahedron& tetrahedron) {
        return orvex::internal::minimal_tetrahedron_internal_distance(tetrahedron);
    });
}

BENCHMARK(BM_NearlyFlatMinimalTetrahedron)->Unit(benchmark::kMillisecond);

void BM_NearlyFlatFastTetrahedron(benchmark::State& state) {
    const auto tetrahedra = views_of(nearly_flat_tetrahedra());
    const InternalDistance::Options options{1e-3, false};
    run_over(state, tetrahedra, [&options](const Tetrahedron& tetrahedron) {
        return orvex::internal::fast_tetrahedron_internal_distances(tetrahedron, options).size();
    });
}

BENCHMARK(BM_NearlyFlatFastTetrahedron)->Unit(benchmark::kMillisecond);

void BM_NearlyFlatTetrahedronStatus(benchmark::State& state) {
    const auto tetrahedra = views_of(nearly_flat_tetrahedra());
    run_over(state, tetrahedra, [](const Tetrahedron& tetrahedron) {
        return orvex::internal::tetrahedron_status(tetrahedron);
    });
}

BENCHMARK(BM_NearlyFlatTetrahedronStatus)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------------------------------
// Anchors

double base_library_minimum(const Tetrahedron& tetrahedron) {
    const auto& p = tetrahedron.vertices();
    constexpr std::array<std::array<int, 4>, 4> facets{
        {{0, 1, 2, 3}, {1, 2, 3, 0}, {2, 3, 0, 1}, {3, 0, 1, 2}}};
    double minimum = std::numeric_limits<double>::max();
    for (const auto& f : facets) {
        const orvex::Triangle<3> triangle{p[f[1]], p[f[2]], p[f[3]]};
        minimum =
            std::min(minimum, std::get<0>(orvex::point_triangle_distance<3>(p[f[0]], triangle)));
    }
    constexpr std::array<std::array<int, 4>, 3> pairs{{{0, 1, 2, 3}, {0, 2, 1, 3}, {0, 3, 1, 2}}};
    for (const auto& e : pairs) {
        const orvex::Segment<3> first{p[e[0]], p[e[1]]};
        const orvex::Segment<3> second{p[e[2]], p[e[3]]};
        if (first.length() > 1e-6 && second.length() > 1e-6) {
            minimum =
                std::min(minimum, std::get<0>(orvex::segment_segment_distance<3>(first, second)));
        }
    }
    return minimum;
}

void BM_BaseLibraryTetrahedronMinimum(benchmark::State& state) {
    const auto tetrahedra = tetrahedra_of(static_cast<index_t>(state.range(0)));
    run_over(state, tetrahedra, base_library_minimum);
}

BENCHMARK(BM_BaseLibraryTetrahedronMinimum)->Apply(solid_sizes);

using Vec = std::array<double, 3>;

Vec sub(const Point<3>& a, const Point<3>& b) {
    return {a.value(0) - b.value(0), a.value(1) - b.value(1), a.value(2) - b.value(2)};
}

double dot(const Vec& a, const Vec& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Squared distance from p to triangle abc by Voronoi regions (the textbook closest point).
double textbook_point_triangle2(const Point<3>& p, const Point<3>& a, const Point<3>& b,
                                const Point<3>& c) {
    const Vec ab = sub(b, a);
    const Vec ac = sub(c, a);
    const Vec ap = sub(p, a);
    const double d1 = dot(ab, ap);
    const double d2 = dot(ac, ap);
    const auto at = [&](double v, double w) {
        Vec q{};
        for (int i = 0; i < 3; ++i) {
            q[i] = a.value(i) + v * ab[i] + w * ac[i] - p.value(i);
        }
        return dot(q, q);
    };
    if (d1 <= 0 && d2 <= 0) {
        return dot(ap, ap);
    }
    const Vec bp = sub(p, b);
    const double d3 = dot(ab, bp);
    const double d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) {
        return dot(bp, bp);
    }
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) {
        return at(d1 / (d1 - d3), 0);
    }
    const Vec cp = sub(p, c);
    const double d5 = dot(ab, cp);
    const double d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) {
        return dot(cp, cp);
    }
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) {
        return at(0, d2 / (d2 - d6));
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return at(1 - w, w);
    }
    const double denominator = 1 / (va + vb + vc);
    return at(vb * denominator, vc * denominator);
}

// Squared distance between segments p0p1 and q0q1 by clamped line parameters.
double textbook_segment_segment2(const Point<3>& p0, const Point<3>& p1, const Point<3>& q0,
                                 const Point<3>& q1) {
    const Vec d1 = sub(p1, p0);
    const Vec d2 = sub(q1, q0);
    const Vec r = sub(p0, q0);
    const double a = dot(d1, d1);
    const double e = dot(d2, d2);
    const double f = dot(d2, r);
    const double c = dot(d1, r);
    const double b = dot(d1, d2);
    const double denominator = a * e - b * b;
    double s = denominator > 0 ? std::clamp((b * f - c * e) / denominator, 0.0, 1.0) : 0.0;
    double t = (b * s + f) / e;
    if (t < 0) {
        t = 0;
        s = std::clamp(-c / a, 0.0, 1.0);
    } else if (t > 1) {
        t = 1;
        s = std::clamp((b - c) / a, 0.0, 1.0);
    }
    Vec difference{};
    for (int i = 0; i < 3; ++i) {
        difference[i] = r[i] + s * d1[i] - t * d2[i];
    }
    return dot(difference, difference);
}

double textbook_minimum(const Tetrahedron& tetrahedron) {
    const auto& p = tetrahedron.vertices();
    double minimum2 = std::numeric_limits<double>::max();
    for (int v = 0; v < 4; ++v) {
        minimum2 = std::min(minimum2, textbook_point_triangle2(p[v], p[(v + 1) % 4], p[(v + 2) % 4],
                                                               p[(v + 3) % 4]));
    }
    constexpr std::array<std::array<int, 4>, 3> pairs{{{0, 1, 2, 3}, {0, 2, 1, 3}, {0, 3, 1, 2}}};
    for (const auto& e : pairs) {
        minimum2 =
            std::min(minimum2, textbook_segment_segment2(p[e[0]], p[e[1]], p[e[2]], p[e[3]]));
    }
    return std::sqrt(minimum2);
}

void BM_TextbookTetrahedronMinimum(benchmark::State& state) {
    const auto tetrahedra = tetrahedra_of(static_cast<index_t>(state.range(0)));
    run_over(state, tetrahedra, textbook_minimum);
}

BENCHMARK(BM_TextbookTetrahedronMinimum)->Apply(solid_sizes);

// ------------------------------------------------------------------------------------------
// Collapsed keys

template <typename Hash>
void insert_collapsed_keys(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<Point<2>> points;
    points.reserve(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        points.push_back(Point<2>{{static_cast<double>(i), 0.5 * static_cast<double>(i)}});
    }
    const Point<2> b{{-1, -1}};
    for (auto _ : state) {
        orvex::internal::detail::DistanceMemory<2, 3, Hash> memory;
        for (const Point<2>& x : points) {
            const orvex::internal::detail::PointsKeyView<2, 3> key{{&x, &x, &b}};
            benchmark::DoNotOptimize(memory.find_or_compute(key, [] { return 0.0; }));
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

void BM_CollapsedKeys(benchmark::State& state) {
    insert_collapsed_keys<orvex::internal::detail::PointsKeyHash<2, 3>>(state);
}

BENCHMARK(BM_CollapsedKeys)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The exclusive-or combination that the sum replaced.
struct XorHash {
    using is_transparent = void;

    template <typename Key>
    std::size_t operator()(const Key& key) const {
        std::uint64_t combined = 0;
        for (std::size_t index = 0; index < 3; ++index) {
            combined ^= absl::HashOf(std::uint64_t{std::hash<Point<2>>{}(key.point(index))});
        }
        return absl::HashOf(combined);
    }
};

void BM_CollapsedKeysXorHash(benchmark::State& state) {
    insert_collapsed_keys<XorHash>(state);
}

BENCHMARK(BM_CollapsedKeysXorHash)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
