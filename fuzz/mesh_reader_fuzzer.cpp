// Feeds the fuzzer's bytes to the mesh readers of examples/mesh_io. The first byte picks the
// reader (0: Medit, 1: Gmsh, 2: legacy VTK, 3: TetGen; modulo 4); the rest is the file. A TetGen
// input holds the .node text, a NUL byte, then the .ele text.
//
// Every input must end in a mesh whose indices and reference lists are consistent and whose
// notes are few, or in `MeshFileError` whose message is short and printable ASCII whatever the
// input holds; any other exception escapes and aborts. Run with a small -malloc_limit_mb to
// check that no declared count makes a reader allocate more than the input justifies.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_common.h"
#include "medit_mesh.h"
#include "mesh_readers.h"

namespace {

using orvex::index_t;
using orvex::examples::MeshFile;
using orvex::examples::MeshFileError;
using orvex::fuzz::check;

template <typename Elements, typename References>
void check_elements(const Elements& elements, const References& references, index_t nb_vertices,
                    const char* kind) {
    check(references.size() == elements.size(), std::string{kind} + ": one reference each");
    for (const auto& element : elements) {
        for (const index_t vertex : element) {
            check(vertex < nb_vertices, std::string{kind} + ": vertex index out of range");
        }
    }
}

void check_mesh(const MeshFile& mesh) {
    check(mesh.dimension >= 1 && mesh.dimension <= 3, "dimension 1 to 3");
    check(mesh.coordinates.size() % mesh.dimension == 0, "whole vertices");
    for (const double value : mesh.coordinates) {
        check(std::isfinite(value), "finite coordinates");
    }
    const index_t nb_vertices = mesh.nb_vertices();
    check(mesh.vertex_references.empty() || mesh.vertex_references.size() == nb_vertices,
          "one reference per vertex");
    check_elements(mesh.edges, mesh.edge_references, nb_vertices, "edges");
    check_elements(mesh.triangles, mesh.triangle_references, nb_vertices, "triangles");
    check_elements(mesh.tetrahedra, mesh.tetrahedron_references, nb_vertices, "tetrahedra");
    // The listed kinds, one sentence for the others, the dropped lower dimensions and the
    // corner-only kinds.
    check(mesh.notes.size() <= 16, "a few notes, however many kinds");
}

// A message quotes at most a few shortened tokens of the input.
void check_message(const MeshFileError& error) {
    const std::string_view message = error.what();
    check(message.size() < 400, "a short message");
    check(std::all_of(message.begin(), message.end(),
                      [](char c) {
                          return static_cast<unsigned char>(c) >= 0x20
                                 && static_cast<unsigned char>(c) < 0x7f;
                      }),
          "a printable message");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view bytes{reinterpret_cast<const char*>(data) + 1, size - 1};
    try {
        switch (data[0] % 4) {
            case 0:
                check_mesh(orvex::examples::parse_medit(bytes, "fuzz.mesh"));
                break;
            case 1:
                check_mesh(orvex::examples::parse_gmsh(bytes, "fuzz.msh"));
                break;
            case 2:
                check_mesh(orvex::examples::parse_vtk(bytes, "fuzz.vtk"));
                break;
            default: {
                const std::size_t split = bytes.find('\0');
                const std::string_view node = bytes.substr(0, split);
                const std::string_view ele =
                    split == std::string_view::npos ? std::string_view{} : bytes.substr(split + 1);
                check_mesh(orvex::examples::parse_tetgen(node, ele, "fuzz.node", "fuzz.ele"));
                break;
            }
        }
    } catch (const MeshFileError& error) {
        // The reader's refusal: the expected end of a malformed input.
        check_message(error);
    }
    try {
        (void)orvex::examples::mesh_format("fuzz", bytes);
    } catch (const MeshFileError&) {
    }
    return 0;
}
