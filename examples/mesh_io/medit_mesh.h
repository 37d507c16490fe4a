#pragma once

// Reading and writing meshes in the Medit ASCII format (`.mesh`), for the examples and the
// benchmarks. This is not part of the library.
//
// The format is a stream of whitespace-separated tokens; `#` starts a comment that runs to the
// end of the line. Keywords and their data:
//   MeshVersionFormatted <1..4>      (the precision of binary files; any of them reads the same)
//   Dimension <1, 2 or 3>            (coordinates per vertex; must come before Vertices)
//   Vertices <n>    then n times: <d coordinates> <reference>
//   Edges <n>       then n times: <2 vertex indices> <reference>
//   Triangles <n>   then n times: <3 vertex indices> <reference>
//   Tetrahedra <n>  then n times: <4 vertex indices> <reference>
//   End             (optional: the end of the file ends the mesh too)
// Vertex indices are 1-based in the file and 0-based in memory. Sections may come in any order
// but each at most once. Sections of known layout that these meshes cannot hold (Corners,
// Ridges, Required*, Quadrilaterals, Hexahedra, Prisms, Pyramids, Normals, Tangents,
// NormalAtVertices, ...) are skipped and listed in `MeditMesh::skipped_sections`; any other
// keyword is an error, since its entries could not be told from the next section's.
//
// Every malformed input throws `MeditError`, whose message starts with "<source>:<line>: " and
// names what was expected and what was found: a truncated section, a count that is negative or
// too large, a token that is not a number (or not an integer where one is needed), a
// non-finite coordinate, a vertex index out of range, an unknown keyword, a repeated section.
// A token quoted in a message is cut at 40 bytes, its bytes outside printable ASCII written `?`,
// as the other readers do.

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex::examples {

/// A malformed mesh file, whatever its format. `what()` reads "<source>:<line>: <message>" for
/// a fault found in text, or "<source>: byte <offset>: <message>" for one found in binary data
/// (where lines mean nothing).
class MeshFileError : public std::runtime_error {
public:
    /// A fault at a 1-based line of the text.
    MeshFileError(const std::string& source, std::size_t line, const std::string& message);

    /// A fault at a 0-based byte offset of binary data.
    [[nodiscard]] static MeshFileError at_byte(const std::string& source, std::size_t offset,
                                               const std::string& message);

    /// A fault of the file as a whole, not of a place in its content (a directory given as a
    /// mesh file): `what()` reads "<source>: <message>", `line()` and `byte_offset()` are 0.
    [[nodiscard]] static MeshFileError about_file(const std::string& source,
                                                  const std::string& message);

    /// Whether the fault is of the file as a whole (`about_file`) rather than of its content.
    [[nodiscard]] bool whole_file() const { return whole_file_; }

    /// The 1-based line of the file where the fault was found, or 0 for a byte offset (or a
    /// fault of the whole file).
    [[nodiscard]] std::size_t line() const { return line_; }

    /// The byte offset where the fault was found, meaningful only when `line()` is 0.
    [[nodiscard]] std::size_t byte_offset() const { return offset_; }

private:
    MeshFileError(const std::string& what, std::size_t line, std::size_t offset, bool whole_file);

    std::size_t line_;
    std::size_t offset_;
    bool whole_file_;
};

/// A malformed Medit file. `what()` reads "<source>:<line>: <message>".
class MeditError : public MeshFileError {
public:
    MeditError(const std::string& source, std::size_t line, const std::string& message)
        : MeshFileError{source, line, message} {}
};

/// A section that was read over without being kept.
struct MeditSkippedSection {
    std::string keyword;
    std::size_t count{0};
    std::size_t line{0};
};

/// The content of a mesh file, as plain arrays (vertex indices 0-based). Every reader of
/// `mesh_readers.h` fills it the same way; `MeditMesh` is its historical name, kept as an alias.
struct MeshFile {
    /// Coordinates per vertex: 1, 2 or 3.
    index_t dimension{3};
    /// `dimension` values per vertex.
    std::vector<double> coordinates;
    std::vector<std::int32_t> vertex_references;
    std::vector<std::array<index_t, 2>> edges;
    std::vector<std::int32_t> edge_references;
    std::vector<std::array<index_t, 3>> triangles;
    std::vector<std::int32_t> triangle_references;
    std::vector<std::array<index_t, 4>> tetrahedra;
    std::vector<std::int32_t> tetrahedron_references;
    /// Sections read over (empty when writing).
    std::vector<MeditSkippedSection> skipped_sections;
    /// What a reader left out and why (for instance the boundary triangles of a solid), one
    /// sentence each, for the user to see.
    std::vector<std::string> notes;

    [[nodiscard]] index_t nb_vertices() const {
        return static_cast<index_t>(coordinates.size() / dimension);
    }

    /// The elements of dimension D: `edges` (1), `triangles` (2) or `tetrahedra` (3).
    template <index_t D>
    [[nodiscard]] auto& elements_of_dimension() {
        return std::get<D - 1>(std::tie(edges, triangles, tetrahedra));
    }

    /// The elements of dimension D: `edges` (1), `triangles` (2) or `tetrahedra` (3).
    template <index_t D>
    [[nodiscard]] const auto& elements_of_dimension() const {
        return std::get<D - 1>(std::tie(edges, triangles, tetrahedra));
    }

    /// The references of the elements of dimension D.
    template <index_t D>
    [[nodiscard]] auto& references_of_dimension() {
        return std::get<D - 1>(
            std::tie(edge_references, triangle_references, tetrahedron_references));
    }
};

using MeditMesh = MeshFile;

/// Parses the text of a Medit file; `source` names it in error messages.
/// \throw MeditError on malformed text.
[[nodiscard]] MeditMesh parse_medit(std::string_view text, const std::string& source = "<text>");

/// Reads a Medit file (a regular file only, as `read_file_bytes` of `mesh_readers.h` reads it).
/// \throw MeditError on malformed content, MeshFileError when the file is not regular,
/// std::runtime_error when it cannot be opened or read.
[[nodiscard]] MeditMesh read_medit(const std::string& path);

/// The Medit text of `mesh` (MeshVersionFormatted 2): coordinates in the shortest form that
/// reads back to the same doubles, indices 1-based, empty sections left out.
/// \throw std::invalid_argument when the dimension is not 1, 2 or 3, an index refers to a
/// missing vertex, or a reference list is neither empty nor one per entry.
[[nodiscard]] std::string format_medit(const MeditMesh& mesh);

/// Writes `format_medit(mesh)` to `path`.
/// \throw std::runtime_error when the file cannot be written.
void write_medit(const MeditMesh& mesh, const std::string& path);

/// The curve of a dimension 1 file's vertices and edges (references dropped).
/// \throw std::invalid_argument when the file is not of dimension 1.
[[nodiscard]] EdgedCurve<1> to_edged_curve(const MeditMesh& mesh);

/// The surface of a file's vertices and triangles (references dropped). A dimension 2 file is
/// taken as it is; a dimension 3 file is accepted only when every z coordinate is exactly 0
/// (a planar mesh written by a 3D tool), and its z is dropped: projecting a surface that is not
/// planar would silently fold it.
/// \throw std::invalid_argument for dimension 1, or dimension 3 with a non-zero z.
[[nodiscard]] TriangulatedSurface<2> to_triangulated_surface(const MeditMesh& mesh,
                                                             bool adjacencies = true);

/// The solid of a dimension 3 file's vertices and tetrahedra (references dropped).
/// \throw std::invalid_argument when the file is not of dimension 3.
[[nodiscard]] TetrahedralSolid<3> to_tetrahedral_solid(const MeditMesh& mesh,
                                                       bool adjacencies = true);

/// The Medit content of a mesh, every reference 0.
[[nodiscard]] MeditMesh to_medit(const EdgedCurve<1>& curve);
[[nodiscard]] MeditMesh to_medit(const TriangulatedSurface<2>& surface);
[[nodiscard]] MeditMesh to_medit(const TetrahedralSolid<3>& solid);

/// The mesh of kind `Mesh` (`EdgedCurve<1>`, `TriangulatedSurface<2>` or
/// `TetrahedralSolid<3>`) of a file, as `to_edged_curve`, `to_triangulated_surface` and
/// `to_tetrahedral_solid` make it (`adjacencies` plays no part for curves).
template <typename Mesh>
[[nodiscard]] Mesh to_mesh(const MeditMesh& mesh, bool adjacencies = true);

extern template EdgedCurve<1> to_mesh<EdgedCurve<1>>(const MeditMesh&, bool);
extern template TriangulatedSurface<2> to_mesh<TriangulatedSurface<2>>(const MeditMesh&, bool);
extern template TetrahedralSolid<3> to_mesh<TetrahedralSolid<3>>(const MeditMesh&, bool);

/// Points with a reference each, as in the query files of the benchmarks (a vertex-only file;
/// reference 1 marks a point inside the domain, 2 one outside).
template <index_t D>
struct QueryPoints {
    std::vector<Point<D>> points;
    std::vector<std::int32_t> references;
};

/// The vertices of a vertex-only file of dimension D.
/// \throw std::invalid_argument when the dimension differs or the file has elements.
template <index_t D>
[[nodiscard]] QueryPoints<D> to_query_points(const MeditMesh& mesh);

/// A vertex-only file written from the points (with reference 0 where `references` is empty).
template <index_t D>
[[nodiscard]] MeditMesh to_medit(const QueryPoints<D>& queries);

extern template QueryPoints<1> to_query_points<1>(const MeditMesh&);
extern template QueryPoints<2> to_query_points<2>(const MeditMesh&);
extern template QueryPoints<3> to_query_points<3>(const MeditMesh&);
extern template MeditMesh to_medit<1>(const QueryPoints<1>&);
extern template MeditMesh to_medit<2>(const QueryPoints<2>&);
extern template MeditMesh to_medit<3>(const QueryPoints<3>&);

}  // namespace orvex::examples
