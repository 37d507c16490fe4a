// Element search on meshes of about 1e4, 1e5 and 1e6 tetrahedra, triangles and edges (the
// argument is the exponent), with 100000 query points, half inside the unit box and half
// outside it, in random order:
// - BM_Rebuild<Kind>: `reinitialize_elements_tree`, that is clone plus tree (plus the release of
//   the previous snapshot);
// - BM_Query<Kind>: one query per iteration on a search shared by 1 and 2 threads; the second
//   argument is the order of the queries (0 shuffled, 1 sorted along a Morton curve);
// - BM_Batch<Kind>: `initial_containing_elements` on all the queries at once (items_per_second
//   per point), by 1 thread and by 2 threads on the two halves;
// - BM_Work<Kind>: one pass over all the queries that counts, per query, the element distances
//   of the tree's exhaustive nearest-element search and of its bounded variant (the one the
//   search runs); it checks every answer against the query file's references; and it reports
//   the bytes per element of the tree and of the whole search (mesh copy included, measured
//   on the heap).
//
// Inputs. By default the meshes come from orvex_testing/grid_cache.h (jittered Kuhn grids
// of the unit segment, square and cube: n = 1e4 / 1e5 / 1e6 edges, 2 n² triangles with
// n = 71 / 224 / 707, 6 n³ tetrahedra with n = 12 / 26 / 55) and the queries are made here:
// half uniform in the unit box, half on a random facet of the box pushed out along its normal
// by a distance whose log10 is uniform in [-3, 0], then shuffled. With the environment
// variable ORVEX_ANCHOR_DIR set to a folder of Medit files (cube_tet_1e4.mesh,
// square_tri_1e5.mesh, line_edge_1e6.mesh, ..., queries_{1,2,3}d_1e5.mesh, vertex reference
// 1 inside and 2 outside), those files are read instead, so that another program timed on
// the same files measures identical inputs.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "medit_mesh.h"
#include "orvex/background_common/element_search/element_search.h"
#include "orvex_testing/grid_cache.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_aabb_tree.h"
#include "polvane/mesh/mesh_traits.h"

// Live heap bytes, to measure what a search holds. Queries allocate nothing, so the counting
// costs them nothing.
namespace {
std::atomic<std::int64_t> live_heap_bytes{0};

void* counted_allocation(std::size_t size) {
    void* pointer = std::malloc(size == 0 ? 1 : size);
    if (pointer == nullptr) {
        throw std::bad_alloc{};
    }
    live_heap_bytes.fetch_add(static_cast<std::int64_t>(malloc_usable_size(pointer)),
                              std::memory_order_relaxed);
    return pointer;
}

void counted_release(void* pointer) noexcept {
    if (pointer != nullptr) {
        live_heap_bytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(pointer)),
                                  std::memory_order_relaxed);
        std::free(pointer);
    }
}
}  // namespace

void* operator new(std::size_t size) {
    return counted_allocation(size);
}

void* operator new[](std::size_t size) {
    return counted_allocation(size);
}

void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
    try {
        return counted_allocation(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
    try {
        return counted_allocation(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* pointer) noexcept {
    counted_release(pointer);
}

void operator delete[](void* pointer) noexcept {
    counted_release(pointer);
}

void operator delete(void* pointer, std::size_t /*size*/) noexcept {
    counted_release(pointer);
}

void operator delete[](void* pointer, std::size_t /*size*/) noexcept {
    counted_release(pointer);
}

namespace {

using orvex::index_t;
using orvex::Point;
using orvex::internal::ElementSearch;
namespace examples = orvex::examples;

constexpr std::size_t nb_queries = 100000;
constexpr std::uint64_t query_seed = 20240901;

// The three kinds of mesh, with the vocabulary of `MeshTraits`, and the files they are read
// from.
struct Tetrahedra : orvex::MeshTraits<orvex::TetrahedralSolid<3>> {
    static constexpr const char* file_prefix = "cube_tet";
};

struct Triangles : orvex::MeshTraits<orvex::TriangulatedSurface<2>> {
    static constexpr const char* file_prefix = "square_tri";
};

struct Edges : orvex::MeshTraits<orvex::EdgedCurve<1>> {
    static constexpr const char* file_prefix = "line_edge";
};

const char* anchor_directory() {
    return std::getenv("ORVEX_ANCHOR_DIR");
}

// Uniform in [0, 1) from 53 random bits, the same on every platform.
double uniform(std::mt19937_64& random) {
    return static_cast<double>(random() >> 11U) * 0x1.0p-53;
}

template <index_t D>
examples::QueryPoints<D> generate_queries() {
    std::mt19937_64 random{query_seed};
    examples::QueryPoints<D> queries;
    for (std::size_t i = 0; i < nb_queries; ++i) {
        std::array<double, D> values;
        for (index_t axis = 0; axis < D; ++axis) {
            values[axis] = uniform(random);
        }
        const bool inside = i < nb_queries / 2;
        if (!inside) {
            const auto axis = static_cast<index_t>(random() % D);
            const bool high = random() % 2 == 1;
            const double distance = std::pow(10.0, -3.0 + 3.0 * uniform(random));
            values[axis] = high ? 1.0 + distance : -distance;
        }
        queries.points.emplace_back(values);
        queries.references.push_back(inside ? 1 : 2);
    }
    for (std::size_t i = nb_queries; i > 1; --i) {
        const std::size_t j = random() % i;
        std::swap(queries.points[i - 1], queries.points[j]);
        std::swap(queries.references[i - 1], queries.references[j]);
    }
    return queries;
}

// The queries sorted along a Morton (Z-order) curve over their bounding box.
template <index_t D>
std::vector<Point<D>> morton_sorted(std::vector<Point<D>> points) {
    std::array<double, D> low;
    std::array<double, D> high;
    low.fill(INFINITY);
    high.fill(-INFINITY);
    for (const auto& point : points) {
        for (index_t axis = 0; axis < D; ++axis) {
            low[axis] = std::min(low[axis], point.value(axis));
            high[axis] = std::max(high[axis], point.value(axis));
        }
    }
    constexpr unsigned bits = 63 / D;
    const auto code = [&](const Point<D>& point) {
        std::array<std::uint64_t, D> cells;
        for (index_t axis = 0; axis < D; ++axis) {
            const double unit = (point.value(axis) - low[axis]) / (high[axis] - low[axis]);
            cells[axis] =
                static_cast<std::uint64_t>(unit * static_cast<double>((1ULL << bits) - 1));
        }
        std::uint64_t result = 0;
        for (unsigned bit = bits; bit-- > 0;) {
            for (index_t axis = 0; axis < D; ++axis) {
                result = (result << 1U) | ((cells[axis] >> bit) & 1U);
            }
        }
        return result;
    };
    std::vector<std::pair<std::uint64_t, Point<D>>> keyed;
    keyed.reserve(points.size());
    for (const auto& point : points) {
        keyed.emplace_back(code(point), point);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        points[i] = keyed[i].second;
    }
    return points;
}

template <typename Kind>
struct Inputs {
    using Mesh = typename Kind::Mesh;
    std::unique_ptr<Mesh> mesh;
    examples::QueryPoints<Kind::dimension> queries;
    std::vector<Point<Kind::dimension>> sorted_queries;
    std::unique_ptr<ElementSearch<Mesh>> search;
    std::string error;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The mesh, queries and shared search of one kind and size, made once per process.
template <typename Kind>
const Inputs<Kind>& inputs(int exponent) {
    static std::mutex mutex;
    static std::map<int, Inputs<Kind>> cache;
    const std::lock_guard<std::mutex> lock{mutex};
    auto [entry, inserted] = cache.try_emplace(exponent);
    Inputs<Kind>& in = entry->second;
    if (!inserted) {
        return in;
    }
    using Mesh = typename Kind::Mesh;
    if (const char* directory = anchor_directory()) {
        const std::string mesh_path = std::string{directory} + "/" + Kind::file_prefix + "_1e"
                                      + std::to_string(exponent) + ".mesh";
        const std::string query_path =
            std::string{directory} + "/queries_" + std::to_string(Kind::dimension) + "d_1e5.mesh";
        if (!std::filesystem::exists(mesh_path) || !std::filesystem::exists(query_path)) {
            in.error = "missing " + mesh_path + " or " + query_path;
            return in;
        }
        const auto start = std::chrono::steady_clock::now();
        const examples::MeditMesh medit = examples::read_medit(mesh_path);
        const double read_seconds = seconds_since(start);
        in.mesh = std::make_unique<Mesh>(examples::to_mesh<Mesh>(medit));
        std::fprintf(stderr, "%s: read in %.3f s, mesh built in %.3f s more\n", mesh_path.c_str(),
                     read_seconds, seconds_since(start) - read_seconds);
        in.queries = examples::to_query_points<Kind::dimension>(examples::read_medit(query_path));
    } else {
        in.mesh = std::make_unique<Mesh>(
            orvex::test::jittered_grid<Mesh>(orvex::test::grid_cells<Mesh>(exponent)));
        in.queries = generate_queries<Kind::dimension>();
    }
    in.sorted_queries = morton_sorted(in.queries.points);
    in.search = std::make_unique<ElementSearch<Mesh>>();
    in.search->reinitialize_elements_tree(*in.mesh);
    return in;
}

// Runs `body` on the inputs of the benchmark's size, or skips the benchmark with the reason
// when they are missing.
template <typename Kind, typename Body>
void with_inputs(benchmark::State& state, const Body& body) {
    const Inputs<Kind>& in = inputs<Kind>(static_cast<int>(state.range(0)));
    if (!in.error.empty()) {
        state.SkipWithError(in.error.c_str());
        return;
    }
    body(in);
}

template <typename Kind>
void BM_Rebuild(benchmark::State& state) {
    with_inputs<Kind>(state, [&](const Inputs<Kind>& in) {
        ElementSearch<typename Kind::Mesh> search;
        search.reinitialize_elements_tree(*in.mesh);
        for (auto _ : state) {
            search.reinitialize_elements_tree(*in.mesh);
        }
        state.counters["elements"] = Kind::nb_elements(*in.mesh);
    });
}

template <typename Kind>
void BM_Query(benchmark::State& state) {
    with_inputs<Kind>(state, [&](const Inputs<Kind>& in) {
        const auto& points = state.range(1) == 0 ? in.queries.points : in.sorted_queries;
        const auto& search = *in.search;
        const std::size_t count = points.size();
        // Each thread walks the queries from its own start, so that two threads do not read the
        // same part of the tree in lockstep.
        std::size_t next = count * static_cast<std::size_t>(state.thread_index())
                           / static_cast<std::size_t>(state.threads());
        std::size_t found = 0;
        for (auto _ : state) {
            const auto element = search.initial_containing_element(points[next]);
            found += element.has_value() ? 1 : 0;
            if (++next == count) {
                next = 0;
            }
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
        state.counters["found"] =
            benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
    });
}

// All the queries in one `initial_containing_elements` call (in their file order: the batch
// sorts them itself), timed per point; with 2 threads each answers its own half.
template <typename Kind>
void BM_Batch(benchmark::State& state) {
    with_inputs<Kind>(state, [&](const Inputs<Kind>& in) {
        const auto& points = in.queries.points;
        const auto part = [&](int thread) {
            return points.size() * static_cast<std::size_t>(thread)
                   / static_cast<std::size_t>(state.threads());
        };
        const std::size_t begin = part(state.thread_index());
        const std::size_t end = part(state.thread_index() + 1);
        const absl::Span<const Point<Kind::dimension>> slice{points.data() + begin, end - begin};
        std::size_t found = 0;
        for (auto _ : state) {
            const auto answers = in.search->initial_containing_elements(slice);
            found = static_cast<std::size_t>(
                std::count_if(answers.begin(), answers.end(),
                              [](const auto& answer) { return answer.has_value(); }));
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * slice.size()));
        state.counters["found"] = static_cast<double>(found) / static_cast<double>(slice.size());
    });
}

// Counts the calls of an element distance.
template <typename Distance>
struct CountingDistance {
    const Distance* distance;
    std::uint64_t* calls;

    template <typename Query>
    double operator()(const Query& query, index_t element) const {
        ++*calls;
        return (*distance)(query, element);
    }
};

template <typename Kind>
void BM_Work(benchmark::State& state) {
    with_inputs<Kind>(state, [&](const Inputs<Kind>& in) {
        using Mesh = typename Kind::Mesh;
        const Mesh& mesh = *in.mesh;
        const index_t n = Kind::nb_elements(mesh);
        const auto& points = in.queries.points;

        // Memory: the tree alone, and the whole search (copy + tree + bookkeeping) on the heap.
        const auto tree = orvex::create_aabb_tree(mesh);
        const typename Kind::ElementDistance distance{mesh};
        const std::int64_t before = live_heap_bytes.load();
        auto search = std::make_unique<ElementSearch<Mesh>>();
        search->reinitialize_elements_tree(mesh);
        const std::int64_t search_bytes =
            live_heap_bytes.load() - before + static_cast<std::int64_t>(sizeof(*search));

        // The element distances of the tree's exhaustive and bounded nearest-element searches (the
        // bounded one is the search's, without its facet shortcuts), and the search's answers
        // against the query file's references.
        const double bound = std::nextafter(orvex::GLOBAL_EPSILON, 1.);
        std::uint64_t exhaustive_calls = 0;
        std::uint64_t bounded_calls = 0;
        std::uint64_t inside_calls = 0;
        std::uint64_t inside = 0;
        std::uint64_t wrong = 0;
        const CountingDistance<typename Kind::ElementDistance> exhaustive{&distance,
                                                                          &exhaustive_calls};
        const CountingDistance<typename Kind::ElementDistance> bounded{&distance, &bounded_calls};
        for (auto _ : state) {
            for (std::size_t q = 0; q < points.size(); ++q) {
                const std::uint64_t calls_before = exhaustive_calls;
                benchmark::DoNotOptimize(tree.closest_element(points[q], exhaustive));
                const auto [element, best] = tree.closest_element_within(points[q], bounded, bound);
                const auto answer = search->initial_containing_element(points[q]);
                const bool expected_inside = in.queries.references[q] == 1;
                wrong += answer.has_value() != expected_inside ? 1 : 0;
                wrong += (best <= orvex::GLOBAL_EPSILON) != answer.has_value() ? 1 : 0;
                if (expected_inside) {
                    ++inside;
                    inside_calls += exhaustive_calls - calls_before;
                }
            }
        }
        const double per_query =
            1.0 / (static_cast<double>(points.size()) * static_cast<double>(state.iterations()));
        state.counters["elem_dist"] = static_cast<double>(exhaustive_calls) * per_query;
        state.counters["in_elem_dist"] =
            static_cast<double>(inside_calls) / static_cast<double>(inside);
        state.counters["bnd_elem_dist"] = static_cast<double>(bounded_calls) * per_query;
        // Must be 0.
        state.counters["wrong"] = static_cast<double>(wrong);
        state.counters["elements"] = n;
        state.counters["tree_B/elem"] = static_cast<double>(tree.memory_bytes()) / n;
        state.counters["search_B/elem"] = static_cast<double>(search_bytes) / n;
    });
}

void sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(4)->Arg(5)->Arg(6);
}

void query_sizes(benchmark::internal::Benchmark* benchmark) {
    for (const int order : {0, 1}) {
        for (const int exponent : {4, 5, 6}) {
            benchmark->Args({exponent, order});
        }
    }
}

#define ORVEX_ELEMENT_SEARCH_BENCHMARKS(Kind)                                          \
    BENCHMARK_TEMPLATE(BM_Rebuild, Kind)->Apply(sizes)->Unit(benchmark::kMillisecond); \
    BENCHMARK_TEMPLATE(BM_Query, Kind)                                                 \
        ->Apply(query_sizes)                                                           \
        ->Threads(1)                                                                   \
        ->Threads(2)                                                                   \
        ->UseRealTime()                                                                \
        ->MinTime(1.0)                                                                 \
        ->Unit(benchmark::kMicrosecond);                                               \
    BENCHMARK_TEMPLATE(BM_Batch, Kind)                                                 \
        ->Apply(sizes)                                                                 \
        ->Threads(1)                                                                   \
        ->Threads(2)                                                                   \
        ->UseRealTime()                                                                \
        ->Unit(benchmark::kMillisecond);                                               \
    BENCHMARK_TEMPLATE(BM_Work, Kind)->Apply(sizes)->Iterations(1)->Unit(benchmark::kSecond)

ORVEX_ELEMENT_SEARCH_BENCHMARKS(Tetrahedra);
ORVEX_ELEMENT_SEARCH_BENCHMARKS(Triangles);
ORVEX_ELEMENT_SEARCH_BENCHMARKS(Edges);

}  // namespace
