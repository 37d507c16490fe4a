#include "meshes.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arrays.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex::python {
namespace {

template <typename Mesh>
using Traits = MeshTraits<Mesh>;

// Rows of elements converted to 32-bit indices and handed to the builder at a time, so that
// int64 input needs no whole second copy.
constexpr std::size_t chunk_rows = 1 << 16;

template <typename Mesh>
std::string points_expected() {
    return "a float64 array of shape (n, " + std::to_string(Traits<Mesh>::dimension) + ")";
}

template <typename Mesh>
std::string elements_expected() {
    return "an int32 or int64 array of shape (m, "
           + std::to_string(Traits<Mesh>::nb_element_vertices) + ")";
}

template <typename Mesh>
std::string prefixed(const char* what) {
    return std::string{class_name<Mesh>} + ": " + what;
}

// Every vertex index of `elements` lies in [0, nb_points): otherwise an IndexError naming the
// first bad row and its value.
template <typename Mesh, typename Index>
void check_indices(const py::array& elements, py::ssize_t nb_points) {
    const auto rows = elements.unchecked<Index, 2>();
    for (py::ssize_t row = 0; row < rows.shape(0); ++row) {
        for (py::ssize_t column = 0; column < rows.shape(1); ++column) {
            const auto value = static_cast<std::int64_t>(rows(row, column));
            if (value < 0 || value >= nb_points) {
                throw py::index_error(
                    std::string{class_name<Mesh>} + ": " + Traits<Mesh>::element_name + " row "
                    + std::to_string(row) + " holds vertex index " + std::to_string(value)
                    + ", outside [0, " + std::to_string(nb_points) + ") (the mesh has "
                    + std::to_string(nb_points) + " points)");
            }
        }
    }
}

// Appends the (checked) rows of `elements` to the mesh, chunk by chunk.
template <typename Mesh, typename Index>
void create_elements(const py::detail::unchecked_reference<Index, 2>& rows,
                     typename Traits<Mesh>::Builder& builder) {
    constexpr index_t nb_vertices = Traits<Mesh>::nb_element_vertices;
    const auto nb_rows = static_cast<std::size_t>(rows.shape(0));
    std::vector<std::array<index_t, nb_vertices>> chunk;
    chunk.reserve(std::min(nb_rows, chunk_rows));
    for (std::size_t first = 0; first < nb_rows; first += chunk_rows) {
        chunk.clear();
        const std::size_t end = std::min(nb_rows, first + chunk_rows);
        for (std::size_t row = first; row < end; ++row) {
            std::array<index_t, nb_vertices> element{};
            for (index_t v = 0; v < nb_vertices; ++v) {
                element[v] = static_cast<index_t>(
                    rows(static_cast<py::ssize_t>(row), static_cast<py::ssize_t>(v)));
            }
            chunk.push_back(element);
        }
        Traits<Mesh>::create_elements(builder, chunk);
    }
}

// Copies the (checked) points and elements into the empty `mesh`, with the GIL released (the
// caller holds the arrays).
template <typename Mesh, typename Index>
void fill_mesh(const py::detail::unchecked_reference<double, 2>& coordinates,
               const py::detail::unchecked_reference<Index, 2>& rows, Mesh& mesh) {
    constexpr index_t dimension = Traits<Mesh>::dimension;
    py::gil_scoped_release release;
    typename Traits<Mesh>::Builder builder{mesh};
    const auto nb_points = static_cast<index_t>(coordinates.shape(0));
    builder.create_points(nb_points);
    for (index_t v = 0; v < nb_points; ++v) {
        Point<dimension> point;
        for (index_t axis = 0; axis < dimension; ++axis) {
            point.set_value(axis, coordinates(static_cast<py::ssize_t>(v), axis));
        }
        builder.set_point(v, point);
    }
    create_elements<Mesh>(rows, builder);
}

// The mesh of the given arrays: every check first, then one copy into the mesh (with the GIL
// released), so that a failure leaves nothing behind.
template <typename Mesh>
std::unique_ptr<Mesh> mesh_from_arrays(const py::object& points_object,
                                       const py::object& elements_object) {
    constexpr index_t dimension = Traits<Mesh>::dimension;
    constexpr index_t nb_vertices = Traits<Mesh>::nb_element_vertices;
    const auto points_name = prefixed<Mesh>("points");
    const auto elements_name = prefixed<Mesh>(Traits<Mesh>::element_name);

    const py::array points = as_array(points_object, points_name.c_str(), points_expected<Mesh>());
    if (!is_float64(points) || points.ndim() != 2 || points.shape(1) != dimension) {
        throw_bad_array(points, points_name.c_str(), points_expected<Mesh>());
    }
    const py::array elements =
        as_array(elements_object, elements_name.c_str(), elements_expected<Mesh>());
    if (!is_index_array(elements) || elements.ndim() != 2 || elements.shape(1) != nb_vertices) {
        throw_bad_array(elements, elements_name.c_str(), elements_expected<Mesh>());
    }
    check_count(static_cast<std::size_t>(points.shape(0)), points_name.c_str());
    check_count(static_cast<std::size_t>(elements.shape(0)), elements_name.c_str());
    const bool wide = py::isinstance<py::array_t<std::int64_t>>(elements);
    if (wide) {
        check_indices<Mesh, std::int64_t>(elements, points.shape(0));
    } else {
        check_indices<Mesh, std::int32_t>(elements, points.shape(0));
    }

    auto mesh = std::make_unique<Mesh>();
    if (wide) {
        fill_mesh<Mesh>(points.unchecked<double, 2>(), elements.unchecked<std::int64_t, 2>(),
                        *mesh);
    } else {
        fill_mesh<Mesh>(points.unchecked<double, 2>(), elements.unchecked<std::int32_t, 2>(),
                        *mesh);
    }
    return mesh;
}

template <typename Mesh>
py::array_t<double> points_of(const Mesh& mesh) {
    constexpr index_t dimension = Traits<Mesh>::dimension;
    py::array_t<double> result(
        {static_cast<py::ssize_t>(mesh.nb_vertices()), static_cast<py::ssize_t>(dimension)});
    auto out = result.template mutable_unchecked<2>();
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        for (index_t axis = 0; axis < dimension; ++axis) {
            out(v, axis) = mesh.point(v).value(axis);
        }
    }
    return result;
}

template <typename Mesh>
py::array_t<std::int64_t> elements_of(const Mesh& mesh) {
    constexpr index_t nb_vertices = Traits<Mesh>::nb_element_vertices;
    const index_t nb_elements = Traits<Mesh>::nb_elements(mesh);
    py::array_t<std::int64_t> result(
        {static_cast<py::ssize_t>(nb_elements), static_cast<py::ssize_t>(nb_vertices)});
    auto out = result.template mutable_unchecked<2>();
    for (index_t e = 0; e < nb_elements; ++e) {
        const auto& vertices = Traits<Mesh>::element_vertices(mesh, e);
        for (index_t v = 0; v < nb_vertices; ++v) {
            out(e, v) = vertices[v];
        }
    }
    return result;
}

template <typename Mesh>
void register_mesh(py::module_& module, const char* kind_text, const char* element_noun) {
    constexpr index_t dimension = Traits<Mesh>::dimension;
    const std::string d = std::to_string(dimension);
    const std::string k = std::to_string(Traits<Mesh>::nb_element_vertices);
    const std::string elements = Traits<Mesh>::element_name;
    const std::string doc =
        std::string{"A "} + kind_text + " in dimension " + d +
        ", built once from numpy arrays and never changed\nafterwards.\n\n" +
        class_name<Mesh> + "(points, " + elements + ")\n\n" +
        "points: float64 array of shape (n, " + d + "), the coordinates of vertices 0 to n - 1 " +
        "(any strides;\n    other dtypes are refused).\n" + elements +
        ": int32 or int64 array of shape (m, " + k + "), the vertex indices of " + element_noun +
        " 0 to m - 1,\n    in local order.\n\n" +
        "Both arrays are copied once into the mesh, which keeps no reference to them: changing "
        "them\nafterwards changes nothing here. The copy runs with the GIL released.\n\n"
        "Raises ValueError when an array has another shape or dtype (the message names the "
        "expected\nand the actual shape), IndexError when a vertex index is negative or not "
        "below n (the message\nnames the row and the value); no mesh is built then.";
    py::class_<Mesh>(module, class_name<Mesh>, doc.c_str())
        .def(py::init(&mesh_from_arrays<Mesh>), py::arg("points"),
             py::arg(Traits<Mesh>::element_name))
        .def_property_readonly_static(
            "dimension", [](const py::object&) { return dimension; },
            ("The dimension D of the space and of the elements: " + d + ".").c_str())
        .def_property_readonly(
            "n_points", [](const Mesh& mesh) { return mesh.nb_vertices(); },
            "The number of points.")
        .def_property_readonly(
            "n_elements", [](const Mesh& mesh) { return Traits<Mesh>::nb_elements(mesh); },
            ("The number of " + elements + ".").c_str())
        .def_property_readonly(
            "points", &points_of<Mesh>,
            ("A new float64 array of shape (n, " + d + "): a copy of the points.").c_str())
        .def_property_readonly("elements", &elements_of<Mesh>,
                               ("A new int64 array of shape (m, " + k + "): a copy of the "
                                + elements + "' vertex indices.")
                                   .c_str())
        .def("__repr__", [elements](const Mesh& mesh) {
            return std::string{class_name<Mesh>} + "(" + std::to_string(mesh.nb_vertices())
                   + " points, " + std::to_string(Traits<Mesh>::nb_elements(mesh)) + " " + elements
                   + ")";
        });
}

}  // namespace

void register_meshes(py::module_& module) {
    register_mesh<EdgedCurve<1>>(module, "curve of edges on the line", "edges");
    register_mesh<TriangulatedSurface<2>>(module, "triangulated surface of the plane", "triangles");
    register_mesh<TetrahedralSolid<3>>(module, "tetrahedral solid", "tetrahedra");
}

}  // namespace orvex::python
