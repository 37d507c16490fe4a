// Element search on meshes of about 1e4, 1e5 and 1e6 tetrahedra, triangles and edges (the
// argument is the exponent), with 100000 query points, half inside the unit box and half
// outside it, in random order:
// - BM_Rebuild<Kind>: `reinitialize_elements_tree`, that is clone plus tree (plus the release of
//   the previous snapshot);
// - BM_Query<Kind>: one query per iteration on a search shared by 1 and 2 threads; the second
//   argument is the order of the queries (0 shuffled, 1 sorted along a Morton curve);
// - BM_Batch<Kind>: `initial_containing_elements` on all the queries at once (items_per_second
//   per point), by 1 thread and by 2 threads on the two halves;
// - BM_QueryBounded<Kind>: the same answers by the same tree and element distances, with prunings
//   that only the containment question allows (see `Traversal`), to measure what they save;
// - BM_Work<Kind>: one pass over all the queries that counts, per query, the box tests and element
//   distances of the nearest-element search (and of its bounded variant), and the distinct
//   64-byte lines it reads (boxes, leaf order, element vertices, points); it checks every
//   answer against the query file's references; and it reports the bytes per element of the
//   tree and of the whole search (mesh copy included, measured on the heap).
//
// Inputs. By default the meshes come from orvex_testing/mesh_generators.h (jittered Kuhn grids
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
#include "orvex_testing/mesh_generators.h"
#include "polvane/geometry/aabb_tree.h"
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

// The three kinds of mesh, with the vocabulary of `MeshTraits`: the files they are read from
// and the cells per side of the grids generated in their place, for 1e4, 1e5 and 1e6
// elements.
struct Tetrahedra : orvex::MeshTraits<orvex::TetrahedralSolid<3>> {
    static constexpr const char* file_prefix = "cube_tet";
    static constexpr std::array<index_t, 3> grids{12, 26, 55};
};

struct Triangles : orvex::MeshTraits<orvex::TriangulatedSurface<2>> {
    static constexpr const char* file_prefix = "square_tri";
    static constexpr std::array<index_t, 3> grids{71, 224, 707};
};

struct Edges : orvex::MeshTraits<orvex::EdgedCurve<1>> {
    static constexpr const char* file_prefix = "line_edge";
    static constexpr std::array<index_t, 3> grids{10000, 100000, 1000000};
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
        in.mesh =
            std::make_unique<Mesh>(orvex::test::jittered_grid<Mesh>(Kind::grids[exponent - 4]));
        in.queries = generate_queries<Kind::dimension>();
    }
    in.sorted_queries = morton_sorted(in.queries.points);
    in.search = std::make_unique<ElementSearch<Mesh>>();
    in.search->reinitialize_elements_tree(*in.mesh);
    return in;
}

template <typename Kind>
void BM_Rebuild(benchmark::State& state) {
    const auto& in = inputs<Kind>(static_cast<int>(state.range(0)));
    if (!in.error.empty()) {
        state.SkipWithError(in.error.c_str());
        return;
    }
    ElementSearch<typename Kind::Mesh> search;
    search.reinitialize_elements_tree(*in.mesh);
    for (auto _ : state) {
        search.reinitialize_elements_tree(*in.mesh);
    }
    state.counters["elements"] = Kind::nb_elements(*in.mesh);
}

template <typename Kind>
void BM_Query(benchmark::State& state) {
    const auto& in = inputs<Kind>(static_cast<int>(state.range(0)));
    if (!in.error.empty()) {
        state.SkipWithError(in.error.c_str());
        return;
    }
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
}

// All the queries in one `initial_containing_elements` call (in their file order: the batch
// sorts them itself), timed per point; with 2 threads each answers its own half.
template <typename Kind>
void BM_Batch(benchmark::State& state) {
    const auto& in = inputs<Kind>(static_cast<int>(state.range(0)));
    if (!in.error.empty()) {
        state.SkipWithError(in.error.c_str());
        return;
    }
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
        found = static_cast<std::size_t>(std::count_if(
            answers.begin(), answers.end(), [](const auto& answer) { return answer.has_value(); }));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * slice.size()));
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(slice.size());
}

// The tree's nearest-element search written again on its public accessors, so that it can be
// observed and varied:
// - `Probe` sees every box, leaf slot and element read (to count them, or nothing);
// - `Bounded` answers only the containment question of the element search, with two prunings
//   that leave that answer unchanged: a query farther than 1e-6 from the root box is rejected
//   at once, subtrees farther than 1e-6 are skipped, and the search stops once an element at
//   distance 0 is found (element distances are never negative, so nothing found later could
//   replace it under the strict comparisons).
// BM_Work checks that the unbounded mirror gives the tree's answers with the same number of
// element distances, and that the bounded one gives the search's answers.
template <typename Kind, typename Probe, bool Bounded>
class Traversal {
public:
    static constexpr index_t D = Kind::dimension;
    using Distance = typename Kind::ElementDistance;

    Traversal(const orvex::AABBTree<D>& tree, const Distance& distance, Probe& probe)
        : tree_{tree}, distance_{distance}, probe_{probe} {}

    // (nearest, its distance); in the bounded variant, (NO_ID, +infinity) or a distance above
    // 1e-6 when no element lies within 1e-6.
    std::tuple<index_t, double> closest(const Point<D>& query) const {
        const index_t n = tree_.nb_bboxes();
        if (n == 0) {
            return {orvex::NO_ID, INFINITY};
        }
        if (Bounded && box(0, query) > tolerance) {
            return {orvex::NO_ID, INFINITY};
        }
        std::size_t slot = 0;
        index_t begin = 0;
        index_t end = n;
        while (end - begin > 1) {
            const index_t middle = begin + (end - begin) / 2;
            const std::size_t left = slot + 1;
            const std::size_t right = slot + 2 * static_cast<std::size_t>(middle - begin);
            probe_.inner_node();
            if (box(left, query) < box(right, query)) {
                slot = left;
                end = middle;
            } else {
                slot = right;
                begin = middle;
            }
        }
        const index_t seed = leaf(begin);
        Nearest nearest{seed, element_distance(query, seed)};
        if (Bounded) {
            nearest.distance = std::min(nearest.distance, above_tolerance);
        }
        visit(query, 0, 0, n, nearest);
        return {nearest.element, nearest.distance};
    }

private:
    static constexpr double tolerance = 1e-6;
    // The double just above 1e-6: "distance < above_tolerance" is "distance <= 1e-6".
    static constexpr double above_tolerance = 1e-6 * (1 + 0x1p-52);

    struct Nearest {
        index_t element;
        double distance;
    };

    double box(std::size_t slot, const Point<D>& query) const {
        const auto& node_box = tree_.slot_box(slot);
        probe_.box(&node_box, sizeof node_box);
        return node_box.signed_distance(query);
    }

    index_t leaf(index_t position) const {
        probe_.leaf(&tree_.leaf_order()[position]);
        return tree_.leaf_element(position);
    }

    double element_distance(const Point<D>& query, index_t element) const {
        probe_.element(element);
        const double d = distance_(query, element);
        return std::isnan(d) ? INFINITY : d;
    }

    void visit(const Point<D>& query, std::size_t slot, index_t begin, index_t end,
               Nearest& nearest) const {
        if (Bounded && nearest.distance <= 0) {
            return;
        }
        if (end - begin == 1) {
            const index_t element = leaf(begin);
            const double d = element_distance(query, element);
            if (d < nearest.distance) {
                nearest = {element, d};
            }
            return;
        }
        probe_.inner_node();
        const index_t middle = begin + (end - begin) / 2;
        const std::size_t left = slot + 1;
        const std::size_t right = slot + 2 * static_cast<std::size_t>(middle - begin);
        const double left_distance = box(left, query);
        const double right_distance = box(right, query);
        if (left_distance < right_distance) {
            if (left_distance < nearest.distance) {
                visit(query, left, begin, middle, nearest);
            }
            if (right_distance < nearest.distance) {
                visit(query, right, middle, end, nearest);
            }
        } else {
            if (right_distance < nearest.distance) {
                visit(query, right, middle, end, nearest);
            }
            if (left_distance < nearest.distance) {
                visit(query, left, begin, middle, nearest);
            }
        }
    }

    const orvex::AABBTree<D>& tree_;
    const Distance& distance_;
    Probe& probe_;
};

// Sees nothing: the traversal at full speed.
struct NoProbe {
    void inner_node() const {}

    void box(const void* /*address*/, std::size_t /*size*/) const {}

    void leaf(const index_t* /*address*/) const {}

    void element(index_t /*element*/) const {}
};

// Counts, per query, box tests, inner nodes, element distances, and the distinct 64-byte lines
// read from the boxes, the leaf order, the element vertex lists and the points.
template <typename Kind>
class CountingProbe {
public:
    explicit CountingProbe(const typename Kind::Mesh& mesh) : mesh_{mesh} {}

    std::uint64_t inner_nodes{0};
    std::uint64_t box_tests{0};
    std::uint64_t element_distances{0};
    std::uint64_t box_lines{0};
    std::uint64_t leaf_lines{0};
    std::uint64_t element_lines{0};
    std::uint64_t point_lines{0};

    void inner_node() { ++inner_nodes; }

    void box(const void* address, std::size_t size) {
        ++box_tests;
        touch(box_seen_, address, size);
    }

    void leaf(const index_t* address) { touch(leaf_seen_, address, sizeof *address); }

    void element(index_t element) {
        ++element_distances;
        const auto& vertices = Kind::element_vertices(mesh_, element);
        touch(element_seen_, &vertices, sizeof vertices);
        for (const index_t v : vertices) {
            touch(point_seen_, &mesh_.point(v), sizeof(Point<Kind::dimension>));
        }
    }

    // Closes the count of distinct lines of one query.
    void end_query() {
        box_lines += distinct(box_seen_);
        leaf_lines += distinct(leaf_seen_);
        element_lines += distinct(element_seen_);
        point_lines += distinct(point_seen_);
    }

private:
    static void touch(std::vector<std::uintptr_t>& lines, const void* first, std::size_t size) {
        const auto address = reinterpret_cast<std::uintptr_t>(first);
        lines.push_back(address / 64);
        lines.push_back((address + size - 1) / 64);
    }

    static std::size_t distinct(std::vector<std::uintptr_t>& lines) {
        std::sort(lines.begin(), lines.end());
        const auto count =
            static_cast<std::size_t>(std::unique(lines.begin(), lines.end()) - lines.begin());
        lines.clear();
        return count;
    }

    const typename Kind::Mesh& mesh_;
    std::vector<std::uintptr_t> box_seen_;
    std::vector<std::uintptr_t> leaf_seen_;
    std::vector<std::uintptr_t> element_seen_;
    std::vector<std::uintptr_t> point_seen_;
};

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

// The tree and distance of a mesh, built as the search builds them (same element order, so
// the same tree).
template <typename Kind>
struct TreeAndDistance {
    typename Kind::Tree tree;
    typename Kind::ElementDistance distance;

    explicit TreeAndDistance(const typename Kind::Mesh& mesh)
        : tree{Kind::create_tree(mesh)}, distance{mesh} {}
};

// The search with the prunings of `Traversal<..., true>`, to measure what they would save.
template <typename Kind>
void BM_QueryBounded(benchmark::State& state) {
    const auto& in = inputs<Kind>(static_cast<int>(state.range(0)));
    if (!in.error.empty()) {
        state.SkipWithError(in.error.c_str());
        return;
    }
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<TreeAndDistance<Kind>>> cache;
    const TreeAndDistance<Kind>* shared = nullptr;
    {
        const std::lock_guard<std::mutex> lock{mutex};
        auto& entry = cache[static_cast<int>(state.range(0))];
        if (!entry) {
            entry = std::make_unique<TreeAndDistance<Kind>>(*in.mesh);
        }
        shared = entry.get();
    }
    NoProbe probe;
    const Traversal<Kind, NoProbe, true> traversal{shared->tree, shared->distance, probe};
    const auto& points = state.range(1) == 0 ? in.queries.points : in.sorted_queries;
    const std::size_t count = points.size();
    std::size_t next = count * static_cast<std::size_t>(state.thread_index())
                       / static_cast<std::size_t>(state.threads());
    std::size_t found = 0;
    for (auto _ : state) {
        const auto [element, distance] = traversal.closest(points[next]);
        benchmark::DoNotOptimize(element);
        found += distance <= 1e-6 ? 1 : 0;
        if (++next == count) {
            next = 0;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["found"] =
        benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
}

template <typename Kind>
void BM_Work(benchmark::State& state) {
    const auto& in = inputs<Kind>(static_cast<int>(state.range(0)));
    if (!in.error.empty()) {
        state.SkipWithError(in.error.c_str());
        return;
    }
    using Mesh = typename Kind::Mesh;
    const Mesh& mesh = *in.mesh;
    const index_t n = Kind::nb_elements(mesh);
    const auto& points = in.queries.points;

    // Memory: the tree alone, and the whole search (clone + tree + bookkeeping) on the heap.
    const TreeAndDistance<Kind> tree_and_distance{mesh};
    const auto& tree = tree_and_distance.tree;
    const auto& distance = tree_and_distance.distance;
    const std::int64_t before = live_heap_bytes.load();
    auto search = std::make_unique<ElementSearch<Mesh>>();
    search->reinitialize_elements_tree(mesh);
    const std::int64_t search_bytes =
        live_heap_bytes.load() - before + static_cast<std::int64_t>(sizeof(*search));

    CountingProbe<Kind> probe{mesh};
    CountingProbe<Kind> bounded_probe{mesh};
    const Traversal<Kind, CountingProbe<Kind>, false> mirror{tree, distance, probe};
    const Traversal<Kind, CountingProbe<Kind>, true> bounded{tree, distance, bounded_probe};
    std::uint64_t tree_distance_calls = 0;
    std::uint64_t mirror_off = 0;
    std::uint64_t wrong = 0;
    std::uint64_t inside_box_tests = 0;
    std::uint64_t inside_distances = 0;
    std::uint64_t inside = 0;
    for (auto _ : state) {
        for (std::size_t q = 0; q < points.size(); ++q) {
            const std::uint64_t boxes_before = probe.box_tests;
            const std::uint64_t distances_before = probe.element_distances;
            const auto [element, best] = mirror.closest(points[q]);
            probe.end_query();
            const auto [bounded_element, bounded_best] = bounded.closest(points[q]);
            bounded_probe.end_query();
            const auto [tree_element, tree_best] = tree.closest_element(
                points[q],
                CountingDistance<typename Kind::ElementDistance>{&distance, &tree_distance_calls});
            mirror_off += (element != tree_element || best != tree_best) ? 1 : 0;
            const auto answer = search->initial_containing_element(points[q]);
            const bool expected_inside = in.queries.references[q] == 1;
            // The search must answer the references, and the bounded variant the search.
            wrong += answer.has_value() != expected_inside ? 1 : 0;
            const bool bounded_found = bounded_best <= 1e-6;
            wrong += (bounded_found != answer.has_value()
                      || (bounded_found && bounded_element != *answer))
                         ? 1
                         : 0;
            if (expected_inside) {
                ++inside;
                inside_box_tests += probe.box_tests - boxes_before;
                inside_distances += probe.element_distances - distances_before;
            }
        }
    }
    const double per_query =
        1.0 / (static_cast<double>(points.size()) * static_cast<double>(state.iterations()));
    const auto average = [per_query](std::uint64_t total) {
        return static_cast<double>(total) * per_query;
    };
    state.counters["box_tests"] = average(probe.box_tests);
    state.counters["elem_dist"] = average(probe.element_distances);
    state.counters["in_box_tests"] =
        static_cast<double>(inside_box_tests) / static_cast<double>(inside);
    state.counters["in_elem_dist"] =
        static_cast<double>(inside_distances) / static_cast<double>(inside);
    state.counters["lines_box"] = average(probe.box_lines);
    state.counters["lines_leaf"] = average(probe.leaf_lines);
    state.counters["lines_elem"] = average(probe.element_lines);
    state.counters["lines_point"] = average(probe.point_lines);
    state.counters["bnd_box_tests"] = average(bounded_probe.box_tests);
    state.counters["bnd_elem_dist"] = average(bounded_probe.element_distances);
    state.counters["bnd_lines"] =
        average(bounded_probe.box_lines + bounded_probe.leaf_lines + bounded_probe.element_lines
                + bounded_probe.point_lines);
    // Both must be 0.
    state.counters["mirror_off"] = static_cast<double>(mirror_off)
                                   + std::abs(static_cast<double>(tree_distance_calls)
                                              - static_cast<double>(probe.element_distances));
    state.counters["wrong"] = static_cast<double>(wrong);
    state.counters["elements"] = n;
    state.counters["tree_B/elem"] = static_cast<double>(tree.memory_bytes()) / n;
    state.counters["search_B/elem"] = static_cast<double>(search_bytes) / n;
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
    BENCHMARK_TEMPLATE(BM_QueryBounded, Kind)                                          \
        ->Apply(query_sizes)                                                           \
        ->Threads(1)                                                                   \
        ->UseRealTime()                                                                \
        ->MinTime(1.0)                                                                 \
        ->Unit(benchmark::kMicrosecond);                                               \
    BENCHMARK_TEMPLATE(BM_Work, Kind)->Apply(sizes)->Iterations(1)->Unit(benchmark::kSecond)

ORVEX_ELEMENT_SEARCH_BENCHMARKS(Tetrahedra);
ORVEX_ELEMENT_SEARCH_BENCHMARKS(Triangles);
ORVEX_ELEMENT_SEARCH_BENCHMARKS(Edges);

}  // namespace
