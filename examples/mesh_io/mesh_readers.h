#pragma once

// Readers of the mesh files users bring, for the examples: Gmsh, legacy VTK and TetGen, next
// to the Medit reader of `medit_mesh.h`, and one entry point that picks the format. This is not
// part of the library.
//
// Every reader fills the same `MeshFile` as the Medit reader: coordinates, and the triangles,
// tetrahedra and edges as 0-based vertex indices with a reference each. Only the elements of
// the highest dimension present in the file are kept; the lower-dimensional ones (the boundary
// triangles of a solid, lines, points) and the elements a `MeshFile` cannot hold (quadrangles,
// hexahedra, prisms, third-order elements, ...) are skipped, each kind with a sentence in
// `MeshFile::notes`: the first eight kinds met, then one sentence for all the others, so that a
// file of many kinds reads in linear time and with a few notes. Of second-order lines, triangles
// and tetrahedra the corners are kept, with a note too.
//
//   Gmsh `.msh` 2.x and 4.1, ASCII and binary (either byte order: binary files record it with
//     the integer 1 after the header). Node tags are mapped to vertices in the order of the
//     `$Nodes` section. The reference of an element is its first tag (the physical group) in
//     2.x and its entity tag in 4.1. Coordinates are 3D (`dimension` 3). Other sections
//     (`$PhysicalNames`, `$Entities`, `$NodeData`, ...) are skipped.
//   Legacy VTK `.vtk` versions 1.0 to 5.1, ASCII or BINARY (big-endian), `DATASET
//     UNSTRUCTURED_GRID` (cell types 5 = triangle, 10 = tetrahedron, 3 = line) or `POLYDATA`
//     (`POLYGONS` of three vertices, `LINES` of two), points as `float` or `double`; the cell
//     arrays in the count-then-indices layout, or 5.x's `OFFSETS`/`CONNECTIVITY`. Every cell
//     of a known type must have that type's point count (a vertex 1, a hexahedron 8, a polygon
//     at least 3, ...); cells of unknown types are skipped whatever their count. Reading
//     stops at the first `POINT_DATA`, `CELL_DATA` or `FIELD`. References are 0.
//   TetGen `.node` and `.ele` (read together): 2D or 3D nodes numbered from 0 or 1, elements of
//     4 or 10 nodes (3 or 6 in 2D: triangles) of which the first corners are kept; the first
//     element attribute is the reference when it is an integer of 32 bits (-2147483648 to
//     2147483647), otherwise 0.
//
// A malformed file throws `MeshFileError` whose message starts with "<file>:<line>: " for text
// or "<file>: byte <offset>: " for binary content, and names what was expected and what was
// found; a token of the file quoted in a message is cut at 40 bytes, its bytes outside printable
// ASCII written `?`. No reader allocates for a declared count more than the rest of the file
// could hold, and every reader takes time linear in the size of its input.

#include <string>
#include <string_view>

#include "medit_mesh.h"

namespace orvex::examples {

enum class MeshFormat { medit, gmsh, vtk, tetgen };

/// The format of a file from its first bytes (`$MeshFormat`, `# vtk DataFile`,
/// `MeshVersionFormatted` or `Dimension`), else from the extension of `path` (`.mesh`, `.msh`,
/// `.vtk`, `.node` or `.ele`).
/// \throw MeshFileError when neither tells.
[[nodiscard]] MeshFormat mesh_format(const std::string& path, std::string_view head);

/// Parses Gmsh content (text or binary); `source` names it in error messages.
/// \throw MeshFileError on malformed content.
[[nodiscard]] MeshFile parse_gmsh(std::string_view bytes, const std::string& source = "<gmsh>");

/// Parses legacy VTK content (ASCII or BINARY).
/// \throw MeshFileError on malformed content.
[[nodiscard]] MeshFile parse_vtk(std::string_view bytes, const std::string& source = "<vtk>");

/// Parses a TetGen pair: the text of the `.node` file and of the `.ele` file.
/// \throw MeshFileError on malformed content, naming the file at fault.
[[nodiscard]] MeshFile parse_tetgen(std::string_view node_text, std::string_view ele_text,
                                    const std::string& node_source = "<node>",
                                    const std::string& ele_source = "<ele>");

/// The bytes of a regular file. Anything else (a directory, a pipe, a device such as
/// /dev/zero) is refused before a byte is read: a pipe would block until a writer comes, a
/// device might never end.
/// \throw MeshFileError ("<path>: is a directory, not a regular file: ...") for a file that is
/// not regular, std::runtime_error when the file cannot be opened or read.
[[nodiscard]] std::string read_file_bytes(const std::string& path);

/// Reads a mesh file of any of the formats above or Medit, chosen by `mesh_format`, through
/// `read_file_bytes`. For TetGen, `path` names either file of the pair; the other has the same
/// stem and the other extension, looked up first in the case of the given one (`.node`/`.ele`,
/// `.NODE`/`.ELE`, `.Node`/`.Ele`), then in any case among the directory's files.
/// \throw MeshFileError on malformed content, an unknown format or a file that is not regular,
/// std::runtime_error when a file cannot be opened or read.
[[nodiscard]] MeshFile read_mesh(const std::string& path);

}  // namespace orvex::examples
