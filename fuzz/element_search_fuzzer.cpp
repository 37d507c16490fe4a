// Builds a tiny curve, surface or solid (1 to 8 elements, possibly flat, inverted, repeated or
// far apart) and checks `ElementSearch::initial_containing_element` against a brute-force scan
// of the element distances, for a few query points; the batch query must then give exactly
// the single answers, in the order of the points.
//
// With finite coordinates up to 1e100 in magnitude the answer must be the nearest element (up
// to rounding) when it lies within 1e-6, and nothing otherwise. With NaN, infinite or larger
// coordinates only the safety contract is checked: no crash, and any answer is an element
// whose distance is at most 1e-6.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "orvex/background_common/element_search/element_search.h"
#include "orvex_testing/nearest_elements.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_traits.h"

namespace {

using orvex::EdgedCurve;
using orvex::index_t;
using orvex::MeshTraits;
using orvex::NO_ID;
using orvex::Point;
using orvex::TetrahedralSolid;
using orvex::TriangulatedSurface;
using orvex::fuzz::check;

constexpr double TOLERANCE = 1e-6;

// Every digit of a distance: the checks compare them exactly.
std::string exact(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.17g", value);
    return text;
}

// A coordinate: on a coarse grid (so that elements touch, share faces and collapse), near the
// grid, or anything at all when `awkward` is set.
double coordinate(FuzzedDataProvider& data, bool awkward) {
    if (awkward) {
        return orvex::fuzz::awkward_double(data);
    }
    const double grid = static_cast<double>(data.ConsumeIntegralInRange<int>(-4, 4)) / 2.0;
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return grid + 1e-6 * data.ConsumeIntegralInRange<int>(-2, 2);
        case 1:
            return grid + data.ConsumeProbability<double>() * 1e-3;
        default:
            return grid;
    }
}

template <index_t D>
std::string exact_point(const Point<D>& point) {
    std::string text = exact(point.value(0));
    for (index_t axis = 1; axis < D; ++axis) {
        text += " " + exact(point.value(axis));
    }
    return text;
}

template <index_t D>
Point<D> make_point(FuzzedDataProvider& data, bool awkward) {
    Point<D> point;
    for (index_t axis = 0; axis < D; ++axis) {
        point.set_value(axis, coordinate(data, awkward));
    }
    return point;
}

// The class is meant as a base; the fuzzer uses it as is.
template <typename Mesh>
class Search : public orvex::internal::ElementSearch<Mesh> {};

template <typename Mesh>
void run(FuzzedDataProvider& data) {
    using T = MeshTraits<Mesh>;
    constexpr index_t D = T::dimension;
    const bool awkward = data.ConsumeIntegralInRange<int>(0, 3) == 0;

    Mesh mesh;
    typename T::Builder builder{mesh};
    const auto nb_points = data.ConsumeIntegralInRange<index_t>(1, 8);
    for (index_t v = 0; v < nb_points; ++v) {
        builder.create_point(make_point<D>(data, awkward));
    }
    std::vector<std::array<index_t, T::nb_element_vertices>> elements(
        data.ConsumeIntegralInRange<index_t>(1, 8));
    for (auto& element : elements) {
        for (auto& vertex : element) {
            vertex = data.ConsumeIntegralInRange<index_t>(0, nb_points - 1);
        }
    }
    T::create_elements(builder, elements);

    Search<Mesh> search;
    search.reinitialize_elements_tree(mesh);
    const index_t n = T::nb_elements(mesh);
    const typename T::ElementDistance distance{mesh};

    std::vector<Point<D>> queries;
    std::vector<std::optional<index_t>> answers;
    const int nb_queries = data.ConsumeIntegralInRange<int>(1, 4);
    for (int q = 0; q < nb_queries; ++q) {
        Point<D> query;
        if (data.ConsumeBool()) {
            // A vertex of the mesh, possibly nudged: on or near elements.
            query = mesh.point(data.ConsumeIntegralInRange<index_t>(0, nb_points - 1));
            if (data.ConsumeBool()) {
                query.set_value(0, query.value(0) + 1e-6 * data.ConsumeIntegralInRange<int>(-2, 2));
            }
        } else {
            query = make_point<D>(data, awkward);
        }
        const double best = orvex::test::nearest_elements(mesh, query).distance;
        const auto describe = [&] {
            std::string text = "\n  dimension " + std::to_string(D) + ", query ("
                               + exact_point(query) + ")\n  points:";
            for (index_t v = 0; v < nb_points; ++v) {
                text += " (" + exact_point(mesh.point(v)) + ")";
            }
            text += "\n  elements:";
            for (const auto& element : elements) {
                text += " [";
                for (const index_t vertex : element) {
                    text += " " + std::to_string(vertex);
                }
                text += " ]";
            }
            text += "\n  distances:";
            for (index_t e = 0; e < n; ++e) {
                text += " " + exact(distance(query, e));
            }
            return text;
        };
        // The brute-force distances are the reference only where the element distances are
        // reliable: NaN and infinite coordinates give NaN distances, and beyond 1e100 distances
        // are accurate only relative to the elements' huge lengths (far coarser than the 1e-6
        // tolerance), so there only the safety contract is checked.
        bool finite = true;
        double largest = 0;
        const auto note = [&finite, &largest](double value) {
            finite = finite && std::isfinite(value);
            largest = std::max(largest, std::fabs(value));
        };
        for (index_t axis = 0; axis < D; ++axis) {
            note(query.value(axis));
        }
        for (index_t v = 0; v < nb_points; ++v) {
            for (index_t axis = 0; axis < D; ++axis) {
                note(mesh.point(v).value(axis));
            }
        }
        const bool reliable = finite && largest <= 1e100;

        const std::optional<index_t> found = search.initial_containing_element(query);
        queries.push_back(query);
        answers.push_back(found);
        if (!found) {
            // A computed distance within the tolerance proves the element near only when its
            // rounding error (a few ulps of the largest coordinate) leaves it there: a flat
            // element 1e35 long measured 0 from a point 0.25 outside its bounding box, which
            // the box rightly pruned.
            const double rounding = 8 * std::numeric_limits<double>::epsilon() * largest;
            check(!reliable || !(best + rounding <= TOLERANCE),
                  "no element answered, but one lies at " + exact(best) + describe());
            continue;
        }
        check(*found != NO_ID && *found < n, "answer is not an element of the mesh" + describe());
        const double d = distance(query, *found);
        check(d <= TOLERANCE, "answered element lies at " + exact(d) + describe());
        // The answer is the nearest element. Its distance may exceed the smallest one by the
        // rounding of two different computations (box and element distances), whose absolute
        // error is a few ulps of the largest coordinate: two vertex orders of one flat
        // tetrahedron measured 2e-106 and 2e-307 from a point near its vertex of size 1.
        if (reliable) {
            const double slack =
                1e-12 * d + 8 * std::numeric_limits<double>::epsilon() * largest + 1e-300;
            check(d - best <= slack, "answered element lies at " + exact(d) + ", the nearest at "
                                         + exact(best) + describe());
        }
    }
    const auto batch = search.initial_containing_elements(queries);
    check(batch == answers, "the batch answers differ from the single answers");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    switch (data.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            run<EdgedCurve<1>>(data);
            break;
        case 1:
            run<TriangulatedSurface<2>>(data);
            break;
        default:
            run<TetrahedralSolid<3>>(data);
            break;
    }
    return 0;
}
