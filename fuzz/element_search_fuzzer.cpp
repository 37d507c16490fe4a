// Builds a tiny curve, surface or solid (1 to 8 elements, possibly flat, inverted, repeated or
// far apart) and checks `ElementSearch::initial_containing_element` against a brute-force scan
// of the element distances, for a few query points.
//
// With finite coordinates the answer must be exact: an element whose distance is the smallest
// of all and at most 1e-6, or nothing when every distance exceeds 1e-6. With NaN or infinite
// coordinates only the safety contract is checked: no crash, and any answer is an element
// whose distance is at most 1e-6.

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "orvex/background_common/element_search/element_search.h"
#include "polvane/mesh/distance_to_element.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/edged_curve_builder.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/tetrahedral_solid_builder.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace {

using orvex::EdgedCurve;
using orvex::EdgedCurveBuilder;
using orvex::index_t;
using orvex::NO_ID;
using orvex::Point;
using orvex::TetrahedralSolid;
using orvex::TetrahedralSolidBuilder;
using orvex::TriangulatedSurface;
using orvex::TriangulatedSurfaceBuilder;
using orvex::fuzz::check;

constexpr double TOLERANCE = 1e-6;

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
Point<D> make_point(FuzzedDataProvider& data, bool awkward) {
    Point<D> point;
    for (index_t axis = 0; axis < D; ++axis) {
        point.set_value(axis, coordinate(data, awkward));
    }
    return point;
}

template <typename Mesh>
struct Traits;

template <>
struct Traits<EdgedCurve<1>> {
    static constexpr index_t D = 1;
    static constexpr std::size_t N = 2;
    using Builder = EdgedCurveBuilder<1>;
    using Distance = orvex::DistanceToEdge<1>;

    static void create(Builder& builder, const std::vector<std::array<index_t, N>>& elements) {
        builder.create_edges(elements);
    }

    static index_t nb_elements(const EdgedCurve<1>& mesh) { return mesh.nb_edges(); }
};

template <>
struct Traits<TriangulatedSurface<2>> {
    static constexpr index_t D = 2;
    static constexpr std::size_t N = 3;
    using Builder = TriangulatedSurfaceBuilder<2>;
    using Distance = orvex::DistanceToTriangle<2>;

    static void create(Builder& builder, const std::vector<std::array<index_t, N>>& elements) {
        builder.create_triangles(elements);
    }

    static index_t nb_elements(const TriangulatedSurface<2>& mesh) { return mesh.nb_polygons(); }
};

template <>
struct Traits<TetrahedralSolid<3>> {
    static constexpr index_t D = 3;
    static constexpr std::size_t N = 4;
    using Builder = TetrahedralSolidBuilder<3>;
    using Distance = orvex::DistanceToTetrahedron<3>;

    static void create(Builder& builder, const std::vector<std::array<index_t, N>>& elements) {
        builder.create_tetrahedra(elements);
    }

    static index_t nb_elements(const TetrahedralSolid<3>& mesh) { return mesh.nb_polyhedra(); }
};

// The class is meant as a base; the fuzzer uses it as is.
template <typename Mesh>
class Search : public orvex::internal::ElementSearch<Mesh> {};

template <typename Mesh>
void run(FuzzedDataProvider& data) {
    using T = Traits<Mesh>;
    constexpr index_t D = T::D;
    const bool awkward = data.ConsumeIntegralInRange<int>(0, 3) == 0;

    Mesh mesh;
    typename T::Builder builder{mesh};
    const auto nb_points = data.ConsumeIntegralInRange<index_t>(1, 8);
    for (index_t v = 0; v < nb_points; ++v) {
        builder.create_point(make_point<D>(data, awkward));
    }
    std::vector<std::array<index_t, T::N>> elements(data.ConsumeIntegralInRange<index_t>(1, 8));
    for (auto& element : elements) {
        for (auto& vertex : element) {
            vertex = data.ConsumeIntegralInRange<index_t>(0, nb_points - 1);
        }
    }
    T::create(builder, elements);

    Search<Mesh> search;
    search.reinitialize_elements_tree(mesh);
    const index_t n = T::nb_elements(mesh);
    const typename T::Distance distance{mesh};

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
        double best = std::numeric_limits<double>::infinity();
        for (index_t e = 0; e < n; ++e) {
            const double d = distance(query, e);
            if (d < best) {
                best = d;
            }
        }
        const auto describe = [&] {
            std::string text = "\n  dimension " + std::to_string(D) + ", query (" + query.string()
                               + ")\n  points:";
            for (index_t v = 0; v < nb_points; ++v) {
                text += " (" + mesh.point(v).string() + ")";
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
                text += " " + std::to_string(distance(query, e));
            }
            return text;
        };
        const std::optional<index_t> found = search.initial_containing_element(query);
        if (!found) {
            check(!(best <= TOLERANCE),
                  "no element answered, but one lies at " + std::to_string(best) + describe());
            continue;
        }
        check(*found != NO_ID && *found < n, "answer is not an element of the mesh" + describe());
        const double d = distance(query, *found);
        check(d <= TOLERANCE, "answered element lies at " + std::to_string(d) + describe());
        bool finite = true;
        for (index_t axis = 0; axis < D; ++axis) {
            finite = finite && std::isfinite(query.value(axis));
        }
        for (index_t v = 0; v < nb_points; ++v) {
            for (index_t axis = 0; axis < D; ++axis) {
                finite = finite && std::isfinite(mesh.point(v).value(axis));
            }
        }
        if (finite) {
            check(d == best, "answered element lies at " + std::to_string(d) + ", the nearest at "
                                 + std::to_string(best));
        }
    }
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
