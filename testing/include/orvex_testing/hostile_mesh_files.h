#pragma once

// Mesh files built to make a careless reader slow, shared by the reader tests (which count
// what the reader made of them) and the reader benchmark (which times it).

#include <cstddef>
#include <string>

namespace orvex::test {

/// A legacy VTK file of one point and `n` cells of one point each, of `n` distinct unknown
/// types (100, 101, ...) when `distinct`, else all of type 100: about 10 bytes per cell.
inline std::string vtk_of_unknown_cell_types(std::size_t n, bool distinct) {
    std::string text =
        "# vtk DataFile Version 3.0\nkinds\nASCII\nDATASET UNSTRUCTURED_GRID\n"
        "POINTS 1 float\n0 0 0\nCELLS "
        + std::to_string(n) + " " + std::to_string(2 * n) + "\n";
    for (std::size_t k = 0; k < n; ++k) {
        text += "1 0\n";
    }
    text += "CELL_TYPES " + std::to_string(n) + "\n";
    for (std::size_t k = 0; k < n; ++k) {
        text += std::to_string(distinct ? 100 + k : 100) + "\n";
    }
    return text;
}

/// A Gmsh file with one skipped section named "$" and `pieces` - 1 times "$End", so that its
/// end marker is `pieces` times "$End"; its content is about `bytes` bytes of lines of
/// `pieces` - 1 such pieces, each a near miss of the marker, then the marker and one node.
inline std::string gmsh_with_repeated_section(std::size_t pieces, std::size_t bytes) {
    std::string line;
    for (std::size_t k = 0; k + 1 < pieces; ++k) {
        line += "$End";
    }
    std::string text = "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n$" + line + "\n";
    for (std::size_t size = 0; size < bytes; size += line.size() + 1) {
        text += line + "\n";
    }
    return text + "$End" + line + "\n$Nodes\n1\n1 0 0 0\n$EndNodes\n";
}

}  // namespace orvex::test
