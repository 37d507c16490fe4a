#include "quality.h"

#include <absl/types/span.h>
#include <pybind11/numpy.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "arrays.h"
#include "meshes.h"
#include "orvex/background_common/internal_distance/internal_distance.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/mesh_traits.h"
#include "workers.h"

namespace orvex::python {
namespace {

using internal::InternalDistance;
using Status = InternalDistance::ELEMENT_STATUS;

// One entry per element; the counts per status.
struct Quality {
    py::array_t<std::uint8_t> status;
    py::array_t<double> distance;
    py::array_t<std::uint8_t> configuration;
    py::array_t<std::uint8_t> vertex;
    py::array_t<std::uint8_t> vertices;
    std::size_t n_valid{0};
    std::size_t n_degenerated{0};
    std::size_t n_inverted{0};
};

// Elements measured per call of the library's batch function: its records and statuses fit in
// the first-level cache before they are spread into the result's arrays.
constexpr std::size_t chunk_size = 1024;

// Fills a new `Quality` of `count` elements with the GIL released, on
// `thread_count(workers, count)` threads (workers.h), each over one contiguous range of
// elements, chunk by chunk: `measure(first, minimal, status)` writes the records and statuses
// of elements `first` to `first + minimal.size() - 1` (the library's batch functions). It must
// not touch Python and must not throw.
template <typename Measure>
Quality measure_all(std::size_t count, int workers, const Measure& measure) {
    const std::size_t threads = thread_count(workers, count, "quality");
    const auto n = static_cast<py::ssize_t>(count);
    Quality quality{py::array_t<std::uint8_t>(n), py::array_t<double>(n),
                    py::array_t<std::uint8_t>(n), py::array_t<std::uint8_t>(n),
                    py::array_t<std::uint8_t>({n, py::ssize_t{2}})};
    std::uint8_t* status = quality.status.mutable_data();
    double* distance = quality.distance.mutable_data();
    std::uint8_t* configuration = quality.configuration.mutable_data();
    std::uint8_t* vertex = quality.vertex.mutable_data();
    std::uint8_t* vertices = quality.vertices.mutable_data();
    std::vector<std::array<std::size_t, 3>> counts(threads);
    const auto run = [&](std::size_t part) {
        const std::size_t first = part_begin(count, part, threads);
        const std::size_t end = part_begin(count, part + 1, threads);
        std::array<InternalDistance, chunk_size> records;
        std::array<Status, chunk_size> statuses;
        std::array<std::size_t, 3> part_counts{};
        for (std::size_t chunk = first; chunk < end; chunk += chunk_size) {
            const std::size_t size = std::min(chunk_size, end - chunk);
            measure(chunk, absl::MakeSpan(records.data(), size),
                    absl::MakeSpan(statuses.data(), size));
            for (std::size_t i = 0; i < size; ++i) {
                const std::size_t e = chunk + i;
                const InternalDistance& record = records[i];
                status[e] = static_cast<std::uint8_t>(statuses[i]);
                ++part_counts[static_cast<std::size_t>(statuses[i])];
                distance[e] = record.distance;
                configuration[e] = static_cast<std::uint8_t>(record.type);
                vertex[e] = record.vertex;
                vertices[2 * e] = record.vertices[0];
                vertices[2 * e + 1] = record.vertices[1];
            }
        }
        counts[part] = part_counts;
    };
    {
        const py::gil_scoped_release release;
        run_parts(threads, run);
    }
    for (const auto& part : counts) {
        quality.n_valid += part[static_cast<std::size_t>(Status::valid)];
        quality.n_degenerated += part[static_cast<std::size_t>(Status::degenerated)];
        quality.n_inverted += part[static_cast<std::size_t>(Status::inverted)];
    }
    return quality;
}

// The library's batch functions on a mesh: records and statuses equal to
// `minimal_*_internal_distance` and `*_status` element by element, each element measured once
// (the tests compare every answer with those functions' own).
void measure_range(const TriangulatedSurface<2>& surface, std::size_t first,
                   absl::Span<InternalDistance> minimal, absl::Span<Status> status) {
    internal::minimal_triangle_internal_distances(surface, static_cast<index_t>(first), minimal,
                                                  status);
}

void measure_range(const TetrahedralSolid<3>& solid, std::size_t first,
                   absl::Span<InternalDistance> minimal, absl::Span<Status> status) {
    internal::minimal_tetrahedron_internal_distances(solid, static_cast<index_t>(first), minimal,
                                                     status);
}

template <typename Mesh>
Quality mesh_quality(const Mesh& mesh, int workers) {
    return measure_all(
        MeshTraits<Mesh>::nb_elements(mesh), workers,
        [&mesh](std::size_t first, absl::Span<InternalDistance> minimal,
                absl::Span<Status> status) { measure_range(mesh, first, minimal, status); });
}

const char* const coordinates_expected =
    "a float64 array of shape (m, 3, 2) (triangles) or (m, 4, 3) (tetrahedra)";

// The batch functions on bare coordinates: each chunk of elements copied from the checked
// (m, D + 1, D) array (any strides) into points of its own, then measured as a span.
template <index_t D, typename Element>
void measure_coordinates(const py::detail::unchecked_reference<double, 3>& c, std::size_t first,
                         absl::Span<InternalDistance> minimal, absl::Span<Status> status) {
    std::array<std::array<Point<D>, D + 1>, chunk_size> points;
    std::vector<Element> elements;
    elements.reserve(minimal.size());
    for (std::size_t i = 0; i < minimal.size(); ++i) {
        for (index_t v = 0; v <= D; ++v) {
            for (index_t axis = 0; axis < D; ++axis) {
                points[i][v].set_value(axis, c(static_cast<py::ssize_t>(first + i), v, axis));
            }
        }
        if constexpr (D == 2) {
            elements.emplace_back(points[i][0], points[i][1], points[i][2]);
        } else {
            elements.emplace_back(points[i][0], points[i][1], points[i][2], points[i][3]);
        }
    }
    if constexpr (D == 2) {
        internal::minimal_triangle_internal_distances(elements, minimal, status);
    } else {
        internal::minimal_tetrahedron_internal_distances(elements, minimal, status);
    }
}

Quality coordinates_quality(const py::object& object, int workers) {
    const py::array elements = as_array(object, "elements", coordinates_expected);
    const bool triangles = elements.ndim() == 3 && elements.shape(1) == 3 && elements.shape(2) == 2;
    const bool tetrahedra =
        elements.ndim() == 3 && elements.shape(1) == 4 && elements.shape(2) == 3;
    if (!is_float64(elements) || !(triangles || tetrahedra)) {
        throw_bad_array(elements, "elements", coordinates_expected);
    }
    const auto count = static_cast<std::size_t>(elements.shape(0));
    const auto coordinates = elements.unchecked<double, 3>();
    if (triangles) {
        return measure_all(count, workers,
                           [&coordinates](std::size_t first, absl::Span<InternalDistance> minimal,
                                          absl::Span<Status> status) {
                               measure_coordinates<2, Triangle<2>>(coordinates, first, minimal,
                                                                   status);
                           });
    }
    return measure_all(count, workers,
                       [&coordinates](std::size_t first, absl::Span<InternalDistance> minimal,
                                      absl::Span<Status> status) {
                           measure_coordinates<3, Tetrahedron>(coordinates, first, minimal, status);
                       });
}

constexpr const char* quality_doc = R"(quality(source, workers=1) -> Quality

The quality of every element, in one call: the library's own status and smallest internal
distance of each element (the answers of its C++ functions, value for value), computed in C++
with the GIL released.

source: a Surface, a Solid, or bare element coordinates with no mesh, a float64 array of shape
    (m, 3, 2) (m triangles of the plane, vertices in local order) or (m, 4, 3) (m tetrahedra),
    any strides. A Curve has no internal distances (TypeError).
workers: the threads to measure on, each over one contiguous range of elements (as in scipy:
    -1 for every core the process may run on). At most one thread per 16384 elements. The
    answers do not depend on it.

The internal distance of a triangle is the smallest distance from a vertex to its opposite
edge; that of a tetrahedron the smallest of its four vertex-to-opposite-facet and three
opposite-edge distances (a pair with an edge at most 1e-6 long left out). An element is
DEGENERATED when its internal distance is at most 1e-6 (absolute, in the mesh's units of
length, bound included), else VALID when positively oriented (counter-clockwise triangles;
(p1 - p0) . ((p2 - p0) x (p3 - p0)) > 0 for tetrahedra; signs exact for every finite double),
else INVERTED (a zero sign or a NaN coordinate included). Ties: among equal smallest
distances the first configuration of the library's fixed local tables wins (triangles: vertex
2, then 1, then 0; tetrahedra: vertex-to-facet records for vertices 0 to 3 before
opposite-edge records (0, 1)-(2, 3), (0, 2)-(1, 3), (0, 3)-(1, 2)).

Raises ValueError when the coordinates have another shape or dtype (the message names the
expected and the actual shape), or when workers is 0 or below -1.)";

constexpr const char* quality_class_doc = R"(The quality of m elements (see `quality`).

status: uint8 array of shape (m,), an ElementStatus value per element (0 VALID,
    1 DEGENERATED, 2 INVERTED).
distance: float64 array of shape (m,), the smallest internal distance; the largest finite
    double (sys.float_info.max) when no distance is a number (NaN coordinates).
configuration: uint8 array of shape (m,), the ConfigurationType that realises it:
    POINT_SEGMENT (1) for triangles, POINT_TRIANGLE (2) or SEGMENT_SEGMENT (3) for tetrahedra,
    UNDEFINED (6) when none was measured.
vertex: uint8 array of shape (m,), the configuration's single local vertex (the vertex close
    to its opposite edge or facet), 255 when it has none.
vertices: uint8 array of shape (m, 2), the configuration's two local vertices: the edge
    (a triangle's opposite edge, the first of two opposite edges of a tetrahedron), 255 where
    unused.
n_valid, n_degenerated, n_inverted: the counts per status.)";

}  // namespace

void register_quality(py::module_& module) {
    py::class_<Quality>(module, "Quality", quality_class_doc)
        .def_readonly("status", &Quality::status, "ElementStatus values, uint8, shape (m,).")
        .def_readonly("distance", &Quality::distance,
                      "Smallest internal distances, float64, shape (m,).")
        .def_readonly("configuration", &Quality::configuration,
                      "ConfigurationType values, uint8, shape (m,).")
        .def_readonly("vertex", &Quality::vertex,
                      "The configuration's single local vertex, uint8, shape (m,); 255: none.")
        .def_readonly("vertices", &Quality::vertices,
                      "The configuration's two local vertices, uint8, shape (m, 2); 255: none.")
        .def_readonly("n_valid", &Quality::n_valid, "The number of VALID elements.")
        .def_readonly("n_degenerated", &Quality::n_degenerated,
                      "The number of DEGENERATED elements.")
        .def_readonly("n_inverted", &Quality::n_inverted, "The number of INVERTED elements.")
        .def("__len__", [](const Quality& quality) { return quality.status.size(); })
        .def("__repr__", [](const Quality& quality) {
            return "Quality(" + std::to_string(quality.status.size())
                   + " elements: " + std::to_string(quality.n_valid) + " valid, "
                   + std::to_string(quality.n_degenerated) + " degenerated, "
                   + std::to_string(quality.n_inverted) + " inverted)";
        });
    module.def("quality", &mesh_quality<TriangulatedSurface<2>>, py::arg("source"),
               py::arg("workers") = 1, quality_doc);
    module.def("quality", &mesh_quality<TetrahedralSolid<3>>, py::arg("source"),
               py::arg("workers") = 1);
    module.def(
        "quality",
        [](const EdgedCurve<1>&, int) -> Quality {
            throw py::type_error(
                "quality: a Curve's edges have no internal distance; pass a Surface, a Solid or "
                "element coordinates of shape (m, 3, 2) or (m, 4, 3)");
        },
        py::arg("source"), py::arg("workers") = 1);
    module.def("quality", &coordinates_quality, py::arg("source"), py::arg("workers") = 1);
}

}  // namespace orvex::python
