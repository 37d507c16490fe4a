// The C++ answers that the Python tests compare the module with: for a generated curve, surface
// and solid, the mesh itself, query points and the element each query finds
// (`initial_containing_element`, one query at a time), and for the surface and the solid each
// element's status and smallest internal distance record. Written as .npy files (numpy's own
// format) into the given folder:
//   <kind>_points.npy (n, D) float64, <kind>_elements.npy (m, D + 1) uint32,
//   <kind>_queries.npy (q, D) float64, <kind>_answers.npy (q,) int64 (-1: none),
//   <kind>_status.npy, _configuration.npy, _vertex.npy (m,) uint8, _vertices.npy (m, 2) uint8,
//   <kind>_distance.npy (m,) float64;
// and the same quality answers for bare slivers, elements whose internal distance lies around
// the 1e-6 tolerance, in both orientations: slivers2_coordinates.npy (m, 3, 2) and
// slivers3_coordinates.npy (m, 4, 3), with slivers2_status.npy and so on.
//
// Usage: orvex_python_cpp_answers OUT_DIR

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvex/background_common/background_common_library.h"
#include "orvex/background_common/element_search/element_search.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"
#include "orvex_testing/mesh_generators.h"
#include "polvane/mesh/mesh_traits.h"

namespace {

using orvex::index_t;
using orvex::MeshTraits;
using orvex::Point;

// Writes `values` as an .npy file of the given dtype ("<f8", "<u4", "<i8", "|u1") and shape.
template <typename T>
void write_npy(const std::string& path, const char* dtype, const std::vector<std::size_t>& shape,
               const std::vector<T>& values) {
    std::string shape_text = "(";
    for (const std::size_t extent : shape) {
        shape_text += std::to_string(extent) + ", ";
    }
    shape_text += ")";
    std::string header = std::string{"{'descr': '"} + dtype
                         + "', 'fortran_order': False, 'shape': " + shape_text + ", }";
    // Magic (6) + version (2) + length (2) + header + '\n', padded to a multiple of 64.
    while ((10 + header.size() + 1) % 64 != 0) {
        header += ' ';
    }
    header += '\n';
    std::ofstream out{path, std::ios::binary};
    out.write("\x93NUMPY\x01\x00", 8);
    const auto length = static_cast<std::uint16_t>(header.size());
    const char length_bytes[2] = {static_cast<char>(length & 0xff), static_cast<char>(length >> 8)};
    out.write(length_bytes, 2);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(values.data()),
              static_cast<std::streamsize>(values.size() * sizeof(T)));
    if (!out) {
        throw std::runtime_error{"cannot write " + path};
    }
}

// Query points: random ones over the mesh's box widened by 0.1 on each side, every vertex and
// every element's edge midpoints (both on faces that neighbouring elements share).
template <typename Mesh>
std::vector<Point<MeshTraits<Mesh>::dimension>> queries(const Mesh& mesh) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    std::mt19937_64 random{42};
    std::uniform_real_distribution<double> coordinate{-0.1, 1.1};
    std::vector<Point<D>> points;
    for (int i = 0; i < 400; ++i) {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, coordinate(random));
        }
        points.push_back(point);
    }
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        points.push_back(mesh.point(v));
    }
    for (index_t e = 0; e < Traits::nb_elements(mesh); ++e) {
        const auto& vertices = Traits::element_vertices(mesh, e);
        for (std::size_t a = 0; a < vertices.size(); ++a) {
            for (std::size_t b = a + 1; b < vertices.size(); ++b) {
                points.push_back((mesh.point(vertices[a]) + mesh.point(vertices[b])) * 0.5);
            }
        }
    }
    return points;
}

template <typename Mesh>
void write_mesh_and_answers(const Mesh& mesh, const std::string& prefix) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    constexpr index_t N = Traits::nb_element_vertices;
    std::vector<double> coordinates;
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        for (index_t axis = 0; axis < D; ++axis) {
            coordinates.push_back(mesh.point(v).value(axis));
        }
    }
    write_npy(prefix + "_points.npy", "<f8", {mesh.nb_vertices(), D}, coordinates);
    std::vector<std::uint32_t> elements;
    for (index_t e = 0; e < Traits::nb_elements(mesh); ++e) {
        for (const index_t vertex : Traits::element_vertices(mesh, e)) {
            elements.push_back(vertex);
        }
    }
    write_npy(prefix + "_elements.npy", "<u4", {Traits::nb_elements(mesh), N}, elements);

    orvex::internal::ElementSearch<Mesh> search;
    search.reinitialize_elements_tree(mesh);
    const auto points = queries(mesh);
    std::vector<double> query_coordinates;
    std::vector<std::int64_t> answers;
    for (const auto& point : points) {
        for (index_t axis = 0; axis < D; ++axis) {
            query_coordinates.push_back(point.value(axis));
        }
        const auto answer = search.initial_containing_element(point);
        answers.push_back(answer ? static_cast<std::int64_t>(*answer) : -1);
    }
    write_npy(prefix + "_queries.npy", "<f8", {points.size(), D}, query_coordinates);
    write_npy(prefix + "_answers.npy", "<i8", {points.size()}, answers);
}

template <typename Measure>
void write_quality(index_t count, const std::string& prefix, const Measure& measure) {
    std::vector<std::uint8_t> status, configuration, vertex, vertices;
    std::vector<double> distance;
    for (index_t e = 0; e < count; ++e) {
        const auto [element_status, record] = measure(e);
        status.push_back(static_cast<std::uint8_t>(element_status));
        configuration.push_back(static_cast<std::uint8_t>(record.type));
        vertex.push_back(record.vertex);
        vertices.push_back(record.vertices[0]);
        vertices.push_back(record.vertices[1]);
        distance.push_back(record.distance);
    }
    write_npy(prefix + "_status.npy", "|u1", {count}, status);
    write_npy(prefix + "_configuration.npy", "|u1", {count}, configuration);
    write_npy(prefix + "_vertex.npy", "|u1", {count}, vertex);
    write_npy(prefix + "_vertices.npy", "|u1", {count, 2}, vertices);
    write_npy(prefix + "_distance.npy", "<f8", {count}, distance);
}

// Random slivers: the last vertex put near the line (triangles) or plane (tetrahedra) of the
// others, 0 to 3e-6 away on either side.
template <index_t D, typename Simplex>
void write_slivers(const std::string& prefix) {
    std::mt19937_64 random{7};
    std::uniform_real_distribution<double> unit{0, 1};
    std::uniform_real_distribution<double> offset{-3e-6, 3e-6};
    std::vector<std::array<Point<D>, D + 1>> elements(2000);
    for (auto& element : elements) {
        for (index_t v = 0; v < D; ++v) {
            for (index_t axis = 0; axis < D; ++axis) {
                element[v].set_value(axis, unit(random));
            }
        }
        // An affine combination of the first D vertices, pushed off along the last axis.
        Point<D> last = element[0] * 0.3 + element[1] * 0.7;
        if constexpr (D == 3) {
            last = element[0] * 0.2 + element[1] * 0.5 + element[2] * 0.3;
        }
        last.set_value(D - 1, last.value(D - 1) + offset(random));
        element[D] = last;
    }
    std::vector<double> coordinates;
    for (const auto& element : elements) {
        for (const auto& point : element) {
            for (index_t axis = 0; axis < D; ++axis) {
                coordinates.push_back(point.value(axis));
            }
        }
    }
    write_npy(prefix + "_coordinates.npy", "<f8", {elements.size(), D + 1, D}, coordinates);
    write_quality(static_cast<index_t>(elements.size()), prefix, [&elements](index_t e) {
        const auto& p = elements[e];
        if constexpr (D == 2) {
            const Simplex triangle{p[0], p[1], p[2]};
            return std::pair{orvex::internal::triangle_status(triangle),
                             orvex::internal::minimal_triangle_internal_distance(triangle)};
        } else {
            const Simplex tetrahedron{p[0], p[1], p[2], p[3]};
            return std::pair{orvex::internal::tetrahedron_status(tetrahedron),
                             orvex::internal::minimal_tetrahedron_internal_distance(tetrahedron)};
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 1;
    }
    const std::string out = argv[1];
    orvex::BackgroundCommonLibrary::initialize();

    write_mesh_and_answers(orvex::test::jittered_segment_curve(40), out + "/curve");

    // The generated surface and solid are valid everywhere; a flat element and an inverted
    // copy of element 0 are appended so that every status occurs.
    auto surface = orvex::test::jittered_square_surface(10);
    {
        orvex::TriangulatedSurfaceBuilder<2> builder{surface};
        const auto first = surface.polygon_vertices(0);
        builder.create_triangle({first[0], first[2], first[1]});
        builder.create_triangle({0, 1, 2});  // three vertices on the border y = 0
    }
    write_mesh_and_answers(surface, out + "/surface");
    write_quality(surface.nb_polygons(), out + "/surface", [&surface](index_t e) {
        const auto triangle = surface.triangle(e);
        return std::pair{orvex::internal::triangle_status(triangle),
                         orvex::internal::minimal_triangle_internal_distance(triangle)};
    });

    auto solid = orvex::test::jittered_cube_solid(4);
    {
        orvex::TetrahedralSolidBuilder<3> builder{solid};
        const auto first = solid.polyhedron_vertices(0);
        builder.create_tetrahedron({first[0], first[2], first[1], first[3]});
        builder.create_tetrahedron({0, 1, 5, 6});  // four vertices on the face z = 0
    }
    write_mesh_and_answers(solid, out + "/solid");
    write_quality(solid.nb_polyhedra(), out + "/solid", [&solid](index_t e) {
        const auto tetrahedron = solid.tetrahedron(e);
        return std::pair{orvex::internal::tetrahedron_status(tetrahedron),
                         orvex::internal::minimal_tetrahedron_internal_distance(tetrahedron)};
    });
    write_slivers<2, orvex::Triangle<2>>(out + "/slivers2");
    write_slivers<3, orvex::Tetrahedron>(out + "/slivers3");
    return 0;
}
