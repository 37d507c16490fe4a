// Steps 1 and 2 of the demo: the quality report of a mesh and the element search rate.

#include <absl/types/span.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "demo.h"
#include "orvex/background_common/element_search/element_search.h"
#include "orvex/background_common/internal_distance/internal_distance_cache.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex::demo {
namespace {

using internal::InternalDistance;
using Status = InternalDistance::ELEMENT_STATUS;

// The internal distances of the library are named after the element they measure
// (`triangle_status`, `tetrahedron_status`...); this table gives them one name per element
// kind so that the report below is written once. Everything else about a mesh kind comes from
// `MeshTraits`.
template <typename Simplex>
struct InternalDistanceOf;

template <>
struct InternalDistanceOf<Triangle<2>> {
    using Cache = internal::ThreePointsInternalDistance;

    static Status status(const Triangle<2>& triangle) {
        return internal::triangle_status(triangle);
    }

    static InternalDistance minimal(const Triangle<2>& triangle) {
        return internal::minimal_triangle_internal_distance(triangle);
    }

    static std::optional<unsigned int> negative_count(absl::Span<const Triangle<2>> triangles) {
        return internal::compute_number_of_negative_triangles(triangles);
    }
};

template <>
struct InternalDistanceOf<Tetrahedron> {
    using Cache = internal::FourPointsInternalDistance;

    static Status status(const Tetrahedron& tetrahedron) {
        return internal::tetrahedron_status(tetrahedron);
    }

    static InternalDistance minimal(const Tetrahedron& tetrahedron) {
        return internal::minimal_tetrahedron_internal_distance(tetrahedron);
    }

    static std::optional<unsigned int> negative_count(absl::Span<const Tetrahedron> tetrahedra) {
        return internal::compute_number_of_negative_tetrahedra(tetrahedra);
    }
};

// The mesh vocabulary and the internal distances of its elements.
template <typename Mesh>
struct Kind : MeshTraits<Mesh>, InternalDistanceOf<typename MeshTraits<Mesh>::Simplex> {
    // The number of degenerated elements, provided that none is inverted.
    static std::optional<unsigned int> negative_count(const Mesh& mesh) {
        std::vector<typename MeshTraits<Mesh>::Simplex> simplices;
        simplices.reserve(MeshTraits<Mesh>::nb_elements(mesh));
        for (index_t e = 0; e < MeshTraits<Mesh>::nb_elements(mesh); ++e) {
            simplices.push_back(MeshTraits<Mesh>::simplex(mesh, e));
        }
        return InternalDistanceOf<typename MeshTraits<Mesh>::Simplex>::negative_count(simplices);
    }
};

// Histogram of internal distances in decades: one bar per power of ten met, exact zeros apart.
void print_histogram(const std::vector<double>& distances) {
    std::map<int, std::size_t> decades;
    std::size_t zeros = 0;
    for (const double distance : distances) {
        if (distance == 0) {
            ++zeros;
        } else if (std::isfinite(distance)) {
            ++decades[static_cast<int>(std::floor(std::log10(distance)))];
        }
    }
    std::size_t largest = zeros;
    for (const auto& [decade, count] : decades) {
        largest = std::max(largest, count);
    }
    const auto bar = [largest](std::size_t count) {
        const std::size_t width = largest == 0 ? 0 : (count * 50 + largest - 1) / largest;
        return std::string(width, '#');
    };
    std::printf("  histogram of internal distances (per decade):\n");
    if (zeros != 0) {
        std::printf("    %-18s %8zu %s\n", "exactly 0", zeros, bar(zeros).c_str());
    }
    if (decades.empty()) {
        return;
    }
    // Runs of empty decades between the first and the last take one line.
    int previous = decades.begin()->first;
    for (const auto& [decade, count] : decades) {
        char label[32];
        if (decade > previous + 1) {
            std::snprintf(label, sizeof label, "[1e%d, 1e%d)", previous + 1, decade);
            std::printf("    %-18s %8d\n", label, 0);
        }
        std::snprintf(label, sizeof label, "[1e%d, 1e%d)", decade, decade + 1);
        std::printf("    %-18s %8zu %s\n", label, count, bar(count).c_str());
        previous = decade;
    }
}

template <typename Mesh>
ElementQuality measure(const Mesh& mesh) {
    using Traits = Kind<Mesh>;
    ElementQuality result;
    const index_t nb = Traits::nb_elements(mesh);
    typename Traits::Cache cache;
    ProgressMeter meter{std::string{"measured "} + Traits::element_name, nb};
    for (index_t e = 0; e < nb; ++e) {
        meter.update(e);
        result.statuses.push_back(Traits::status(Traits::simplex(mesh, e)));
        result.distances.push_back(cache.smallest_internal_distance(Traits::simplex(mesh, e)));
    }
    return result;
}

template <typename Mesh>
ElementQuality quality(const Mesh& mesh, int& failures) {
    using Traits = Kind<Mesh>;
    const index_t nb = Traits::nb_elements(mesh);
    progress(std::string{"measuring "} + std::to_string(nb) + " " + Traits::element_name);
    ElementQuality result;
    result.statuses.resize(nb);
    result.distances.resize(nb);
    typename Traits::Cache cache;
    std::array<std::size_t, 3> counts{};
    ProgressMeter meter{std::string{"measured "} + Traits::element_name, nb};
    for (index_t e = 0; e < nb; ++e) {
        meter.update(e);
        result.statuses[e] = Traits::status(Traits::simplex(mesh, e));
        ++counts[static_cast<std::size_t>(result.statuses[e])];
        // Each element is asked twice, as a remeshing loop would: the second look-up is a hit.
        result.distances[e] = cache.smallest_internal_distance(Traits::simplex(mesh, e));
        if (cache.smallest_internal_distance(Traits::simplex(mesh, e)) != result.distances[e]) {
            std::printf("  CHECK FAILED: element %u: the cache answered two values\n", e);
            ++failures;
        }
    }
    // Distinct elements, told apart as the cache tells them: by their set of points.
    std::set<std::vector<std::array<double, Traits::dimension>>> distinct;
    ProgressMeter distinct_meter{"compared elements", nb};
    for (index_t e = 0; e < nb; ++e) {
        distinct_meter.update(e);
        std::vector<std::array<double, Traits::dimension>> key;
        for (const index_t vertex : Traits::element_vertices(mesh, e)) {
            key.push_back(mesh.point(vertex).values());
        }
        std::sort(key.begin(), key.end());
        distinct.insert(std::move(key));
    }

    std::printf("  %u vertices, %u %s\n", mesh.nb_vertices(), nb, Traits::element_name);
    std::printf("  valid: %zu   degenerated (internal distance <= 1e-6): %zu   inverted: %zu\n",
                counts[0], counts[1], counts[2]);
    const auto negative = Traits::negative_count(mesh);
    if (negative.has_value() != (counts[2] == 0)
        || (negative.has_value() && *negative != counts[1])) {
        std::printf("  CHECK FAILED: the span count of degenerated elements disagrees\n");
        ++failures;
    }

    std::vector<index_t> order(nb);
    std::iota(order.begin(), order.end(), 0);
    const std::size_t shown = std::min<std::size_t>(5, nb);
    std::partial_sort(
        order.begin(), order.begin() + static_cast<std::ptrdiff_t>(shown), order.end(),
        [&result](index_t a, index_t b) { return result.distances[a] < result.distances[b]; });
    std::printf("  smallest internal distances:\n");
    static const char* const status_names[] = {"valid", "degenerated", "inverted"};
    for (std::size_t k = 0; k < shown; ++k) {
        const index_t e = order[k];
        std::printf("    element %-8u %-11s %s\n", e,
                    status_names[static_cast<std::size_t>(result.statuses[e])],
                    Traits::minimal(Traits::simplex(mesh, e)).string().c_str());
    }
    print_histogram(result.distances);
    std::printf("  internal distance cache: %zu distinct elements for %zu look-ups\n",
                distinct.size(), 2 * static_cast<std::size_t>(nb));
    return result;
}

template <index_t D>
std::array<Point<D>, 2> bounding_box(const std::vector<Point<D>>& points) {
    std::array<Point<D>, 2> box{points.front(), points.front()};
    for (const auto& point : points) {
        for (index_t axis = 0; axis < D; ++axis) {
            box[0].set_value(axis, std::min(box[0].value(axis), point.value(axis)));
            box[1].set_value(axis, std::max(box[1].value(axis), point.value(axis)));
        }
    }
    return box;
}

template <typename Mesh>
void search(const Mesh& mesh, std::size_t nb_queries, int& failures) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    const index_t nb = Traits::nb_elements(mesh);
    if (nb == 0) {
        std::printf("  no element to search\n");
        return;
    }
    progress("building the element search tree");
    const auto build_start = std::chrono::steady_clock::now();
    internal::ElementSearch<Mesh> element_search;
    element_search.reinitialize_elements_tree(mesh);
    const double build_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - build_start).count();

    // Half the queries at element centroids (each must be found), half spread over the box.
    std::vector<Point<D>> points;
    points.reserve(mesh.nb_vertices());
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        points.push_back(mesh.point(v));
    }
    const auto box = bounding_box<D>(points);
    std::mt19937_64 random{42};
    std::uniform_int_distribution<index_t> pick{0, nb - 1};
    std::uniform_real_distribution<double> fraction{0, 1};
    std::vector<Point<D>> queries;
    std::vector<index_t> sources;
    queries.reserve(nb_queries);
    for (std::size_t q = 0; q < nb_queries; ++q) {
        if (q % 2 == 0) {
            const index_t e = pick(random);
            queries.push_back(Traits::simplex(mesh, e).barycenter());
            sources.push_back(e);
        } else {
            // A point of the box. Where the box's width overflows a double (sides at -1e308
            // and 1e308), the point is a weighted mean of the sides instead, which cannot.
            Point<D> point;
            for (index_t axis = 0; axis < D; ++axis) {
                const double t = fraction(random);
                const double low = box[0].value(axis);
                const double high = box[1].value(axis);
                const double width = high - low;
                const double value =
                    std::isfinite(width) ? width * t + low : low * (1 - t) + high * t;
                point.set_value(axis, std::clamp(value, low, high));
            }
            queries.push_back(point);
        }
    }
    progress("locating " + std::to_string(nb_queries) + " points");
    std::size_t found = 0;
    std::size_t centroids_missed = 0;
    const auto start = std::chrono::steady_clock::now();
    ProgressMeter meter{"located points", queries.size()};
    for (std::size_t q = 0; q < queries.size(); ++q) {
        meter.update(q);
        const auto element = element_search.initial_containing_element(queries[q]);
        found += element.has_value() ? 1 : 0;
        if (q % 2 == 0 && !element.has_value()) {
            ++centroids_missed;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("  tree built in %.3f s; %zu points located in %.3f s: %.0f points per second\n",
                build_seconds, queries.size(), seconds,
                seconds > 0 ? static_cast<double>(queries.size()) / seconds : 0.0);
    std::printf("  %zu of %zu points lie in an element (within 1e-6); %zu of %zu centroids\n",
                found, queries.size(), sources.size() - centroids_missed, sources.size());
    if (centroids_missed != 0) {
        std::printf("  CHECK FAILED: %zu element centroids were not located\n", centroids_missed);
        ++failures;
    }
}

}  // namespace

ElementQuality report_quality(const TriangulatedSurface<2>& surface, int& failures) {
    return quality(surface, failures);
}

ElementQuality report_quality(const TetrahedralSolid<3>& solid, int& failures) {
    return quality(solid, failures);
}

ElementQuality measure_quality(const TriangulatedSurface<2>& surface) {
    return measure(surface);
}

void report_search(const TriangulatedSurface<2>& surface, std::size_t nb_queries, int& failures) {
    search(surface, nb_queries, failures);
}

void report_search(const TetrahedralSolid<3>& solid, std::size_t nb_queries, int& failures) {
    search(solid, nb_queries, failures);
}

}  // namespace orvex::demo
