// The TetGen reader (a `.node` and an `.ele` file); see mesh_readers.h.

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "mesh_readers.h"
#include "reader_input.h"
#include "reader_text.h"

namespace orvex::examples {
namespace {

using detail::checked_count;
using detail::concat;
using detail::Input;
using detail::reserve_for;
using detail::shorten;

}  // namespace

MeshFile parse_tetgen(std::string_view node_text, std::string_view ele_text,
                      const std::string& node_source, const std::string& ele_source) {
    MeshFile mesh;
    Input nodes{node_text, node_source, true};
    const std::size_t count = checked_count(nodes, nodes.integer("node count"), "node count");
    const std::int64_t dimension = nodes.integer("dimension");
    if (dimension != 2 && dimension != 3) {
        nodes.fail(concat("dimension ", dimension, " is neither 2 nor 3"));
    }
    const std::int64_t nb_attributes = nodes.integer("attribute count");
    const std::int64_t markers = nodes.integer("boundary marker flag");
    if (nb_attributes < 0) {
        nodes.fail(concat("negative attribute count ", nb_attributes));
    }
    if (markers != 0 && markers != 1) {
        nodes.fail(concat("boundary marker flag ", markers, " is neither 0 nor 1"));
    }
    mesh.dimension = static_cast<index_t>(dimension);
    mesh.coordinates.reserve(
        static_cast<std::size_t>(dimension)
        * reserve_for(nodes, count, 2 * static_cast<std::size_t>(1 + dimension)));
    std::int64_t base = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::int64_t id = nodes.integer("node number");
        if (k == 0 && id != 0 && id != 1) {
            nodes.fail(concat("the first node is numbered ", id, ", neither 0 nor 1"));
        }
        base = k == 0 ? id : base;
        if (id != base + static_cast<std::int64_t>(k)) {
            nodes.fail(concat("node ", k + 1, " is numbered ", id, ", not ",
                              base + static_cast<std::int64_t>(k)));
        }
        for (std::int64_t axis = 0; axis < dimension; ++axis) {
            mesh.coordinates.push_back(nodes.real("coordinate"));
        }
        for (std::int64_t a = 0; a < nb_attributes; ++a) {
            nodes.real("attribute");
        }
        if (markers == 1) {
            nodes.integer("boundary marker");
        }
    }
    if (const std::string_view extra = nodes.token(); !extra.empty()) {
        nodes.fail(
            concat("unexpected '", shorten(extra), "' after the ", count, " declared nodes"));
    }

    Input elements{ele_text, ele_source, true};
    const std::size_t nb_elements =
        checked_count(elements, elements.integer("element count"), "element count");
    const std::int64_t per_element = elements.integer("nodes per element");
    const std::int64_t corners = dimension + 1;
    if (per_element != corners && per_element != (dimension == 3 ? 10 : 6)) {
        elements.fail(concat("elements of ", per_element, " nodes are not read in dimension ",
                             dimension, " (", corners, " or ", dimension == 3 ? 10 : 6, " are)"));
    }
    const std::int64_t nb_element_attributes = elements.integer("attribute count");
    if (nb_element_attributes < 0) {
        elements.fail(concat("negative attribute count ", nb_element_attributes));
    }
    const std::size_t reserved =
        reserve_for(elements, nb_elements, 2 * static_cast<std::size_t>(1 + per_element));
    if (dimension == 3) {
        mesh.tetrahedra.reserve(reserved);
        mesh.tetrahedron_references.reserve(reserved);
    } else {
        mesh.triangles.reserve(reserved);
        mesh.triangle_references.reserve(reserved);
    }
    for (std::size_t e = 0; e < nb_elements; ++e) {
        elements.integer("element number");
        std::array<index_t, 4> vertices{};
        for (std::int64_t k = 0; k < per_element; ++k) {
            const std::int64_t node = elements.integer("node number");
            if (node < base || node - base >= static_cast<std::int64_t>(count)) {
                elements.fail(concat("element ", e + 1, ": node ", node,
                                     " is out of range (nodes are numbered from ", base, " to ",
                                     base + static_cast<std::int64_t>(count) - 1, ")"));
            }
            if (k < corners) {
                vertices[static_cast<std::size_t>(k)] = static_cast<index_t>(node - base);
            }
        }
        std::int32_t reference = 0;
        for (std::int64_t a = 0; a < nb_element_attributes; ++a) {
            const double value = elements.real("attribute");
            if (a == 0 && value == std::floor(value) && value >= -2147483648.0
                && value <= 2147483647.0) {
                reference = static_cast<std::int32_t>(value);
            }
        }
        if (dimension == 3) {
            mesh.tetrahedra.push_back(vertices);
            mesh.tetrahedron_references.push_back(reference);
        } else {
            mesh.triangles.push_back({vertices[0], vertices[1], vertices[2]});
            mesh.triangle_references.push_back(reference);
        }
    }
    if (const std::string_view extra = elements.token(); !extra.empty()) {
        elements.fail(concat("unexpected '", shorten(extra), "' after the ", nb_elements,
                             " declared elements"));
    }
    if (per_element > corners) {
        mesh.notes.push_back(
            concat("kept the ", corners, " corners of each ", per_element, "-node element"));
    }
    mesh.vertex_references.assign(count, 0);
    return mesh;
}

}  // namespace orvex::examples
