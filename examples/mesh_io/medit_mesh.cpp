#include "medit_mesh.h"

#include <absl/types/span.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <system_error>

#include "mesh_readers.h"
#include "polvane/mesh/mesh_traits.h"
#include "reader_input.h"
#include "reader_text.h"

namespace orvex::examples {

MeshFileError::MeshFileError(const std::string& what, std::size_t line, std::size_t offset,
                             bool whole_file)
    : std::runtime_error{what}, line_{line}, offset_{offset}, whole_file_{whole_file} {}

MeshFileError::MeshFileError(const std::string& source, std::size_t line,
                             const std::string& message)
    : MeshFileError{source + ":" + std::to_string(line) + ": " + message, line, 0, false} {}

MeshFileError MeshFileError::at_byte(const std::string& source, std::size_t offset,
                                     const std::string& message) {
    return MeshFileError{source + ": byte " + std::to_string(offset) + ": " + message, 0, offset,
                         false};
}

MeshFileError MeshFileError::about_file(const std::string& source, const std::string& message) {
    return MeshFileError{source + ": " + message, 0, 0, true};
}

namespace {

using detail::concat;
using detail::max_count;
using detail::number_error;
using detail::NumberRead;
using detail::read_number;
using detail::shorten;

// Splits the text into tokens, skipping white space and `#` comments (the readers' cursor), and
// fails with `MeditError` at the line of the last token returned.
class Tokenizer {
public:
    Tokenizer(std::string_view text, const std::string& source)
        : input_{text, source, true}, source_{source} {}

    // The next token, or an empty view at the end of the text (the line stays that of the last
    // token, so that a truncation is reported where the content stops).
    std::string_view next() { return input_.token(); }

    [[nodiscard]] std::size_t line() const { return input_.mark().line; }

    [[nodiscard]] std::size_t remaining_bytes() const { return input_.remaining(); }

    [[noreturn]] void fail(const std::string& message) const { fail_at(line(), message); }

    [[noreturn]] void fail_at(std::size_t line, const std::string& message) const {
        throw MeditError{source_, line, message};
    }

private:
    detail::Input input_;
    const std::string& source_;
};

// Where a number is read: a keyword's argument (entry == npos) or a field of a section entry.
struct Place {
    std::string_view section;
    std::size_t section_line;
    std::size_t count;
    std::size_t entry;

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    [[nodiscard]] std::string describe() const {
        if (entry == npos) {
            return concat(section);
        }
        return concat(section, " entry ", entry + 1, " of ", count);
    }
};

std::string_view token_or_fail(Tokenizer& tokens, const Place& place, std::string_view what) {
    const std::string_view token = tokens.next();
    if (token.empty()) {
        if (place.entry == Place::npos) {
            tokens.fail(concat("the file ends before the ", what, " of ", place.section));
        }
        tokens.fail(concat("the file ends inside the ", place.section, " section (line ",
                           place.section_line, " declares ", place.count, " entries): entry ",
                           place.entry + 1, " lacks its ", what));
    }
    return token;
}

std::int64_t read_integer(Tokenizer& tokens, const Place& place, std::string_view what) {
    const std::string_view token = token_or_fail(tokens, place, what);
    std::int64_t value = 0;
    if (const NumberRead result = read_number(token, value); result != NumberRead::ok) {
        tokens.fail(
            concat(place.describe(), ": ", number_error<std::int64_t>(result, what, token)));
    }
    return value;
}

double read_real(Tokenizer& tokens, const Place& place, std::string_view what) {
    const std::string_view token = token_or_fail(tokens, place, what);
    double value = 0;
    if (const NumberRead result = read_number(token, value); result != NumberRead::ok) {
        tokens.fail(concat(place.describe(), ": ", number_error<double>(result, what, token)));
    }
    return value;
}

std::int32_t read_reference(Tokenizer& tokens, const Place& place) {
    const std::int64_t value = read_integer(tokens, place, "reference");
    if (value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max()) {
        tokens.fail(
            concat(place.describe(), ": the reference ", value, " does not fit in 32 bits"));
    }
    return static_cast<std::int32_t>(value);
}

// Reads the count after a section keyword; returns the place of the section's entries.
Place read_count(Tokenizer& tokens, std::string_view keyword) {
    const std::size_t line = tokens.line();
    const std::int64_t count =
        read_integer(tokens, Place{keyword, line, 0, Place::npos}, "entry count");
    if (count < 0) {
        tokens.fail(concat(keyword, ": negative entry count ", count));
    }
    if (count > max_count) {
        tokens.fail(concat(keyword, ": entry count ", count, " exceeds ", max_count));
    }
    return Place{keyword, line, static_cast<std::size_t>(count), 0};
}

// Reserves for the entries of a section, but never more than the rest of the text could hold
// (each token takes at least two bytes with its separator), so that a huge count in a short
// file fails on its truncation, not on an allocation.
std::size_t plausible_count(const Tokenizer& tokens, const Place& place,
                            std::size_t tokens_per_entry) {
    return std::min(place.count, tokens.remaining_bytes() / (2 * tokens_per_entry) + 1);
}

// The largest vertex index (1-based) met in an element section, checked once every vertex is
// known, whatever the order of the sections.
struct LargestIndex {
    std::int64_t value{0};
    std::size_t line{0};
    std::size_t entry{0};
    std::size_t count{0};
    std::string_view section;
};

template <std::size_t N>
void read_elements(Tokenizer& tokens, const Place& section,
                   std::vector<std::array<index_t, N>>& elements,
                   std::vector<std::int32_t>& references, LargestIndex& largest) {
    static constexpr std::array<std::string_view, 4> names{"vertex index 1", "vertex index 2",
                                                           "vertex index 3", "vertex index 4"};
    const std::size_t reserved = plausible_count(tokens, section, N + 1);
    elements.reserve(reserved);
    references.reserve(reserved);
    Place place = section;
    for (place.entry = 0; place.entry < section.count; ++place.entry) {
        std::array<index_t, N> element;
        for (std::size_t k = 0; k < N; ++k) {
            const std::int64_t index = read_integer(tokens, place, names[k]);
            if (index < 1) {
                tokens.fail(concat(place.describe(), ": ", names[k], " is ", index,
                                   ", but indices start at 1"));
            }
            if (index > largest.value) {
                largest = {index, tokens.line(), place.entry, section.count, section.section};
            }
            element[k] = static_cast<index_t>(std::min<std::int64_t>(index - 1, NO_ID));
        }
        elements.push_back(element);
        references.push_back(read_reference(tokens, place));
    }
}

// Sections of known layout that these meshes have no use for: the number of values per entry
// (0 meaning one per coordinate).
struct SkippableSection {
    std::string_view keyword;
    std::size_t values;
};

constexpr std::array<SkippableSection, 20> skippable_sections{{
    {"Corners", 1},
    {"Ridges", 1},
    {"RequiredVertices", 1},
    {"RequiredEdges", 1},
    {"RequiredTriangles", 1},
    {"RequiredQuadrilaterals", 1},
    {"RequiredTetrahedra", 1},
    {"RequiredHexahedra", 1},
    {"Quadrilaterals", 5},
    {"Hexahedra", 9},
    {"Prisms", 7},
    {"Pyramids", 6},
    {"Normals", 0},
    {"Tangents", 0},
    {"NormalAtVertices", 2},
    {"TangentAtVertices", 2},
    {"NormalAtTriangleVertices", 3},
    {"NormalAtQuadrilateralVertices", 3},
    {"TangentAtEdges", 3},
    {"Crack", 2},
}};

void skip_section(Tokenizer& tokens, const Place& section, std::size_t values) {
    Place place = section;
    for (place.entry = 0; place.entry < section.count; ++place.entry) {
        for (std::size_t k = 0; k < values; ++k) {
            read_real(tokens, place, "value");
        }
    }
}

// A token that reads as a number, even one out of range or not finite.
bool is_number(std::string_view token) {
    double value = 0;
    return read_number(token, value) != NumberRead::invalid;
}

void check_references(std::size_t nb_entries, std::size_t nb_references, const char* section) {
    if (nb_references != 0 && nb_references != nb_entries) {
        throw std::invalid_argument{concat("Medit ", section, ": ", nb_references,
                                           " references for ", nb_entries, " entries")};
    }
}

template <std::size_t N>
void format_elements(std::string& out, const char* keyword,
                     const std::vector<std::array<index_t, N>>& elements,
                     const std::vector<std::int32_t>& references, index_t nb_vertices) {
    if (elements.empty()) {
        return;
    }
    check_references(elements.size(), references.size(), keyword);
    char buffer[32];
    const auto append = [&](auto value) {
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out.append(buffer, result.ptr);
    };
    out += '\n';
    out += keyword;
    out += '\n';
    append(elements.size());
    out += '\n';
    for (std::size_t e = 0; e < elements.size(); ++e) {
        for (const index_t vertex : elements[e]) {
            if (vertex >= nb_vertices) {
                throw std::invalid_argument{concat("Medit ", keyword, " entry ", e + 1,
                                                   " refers to vertex ", vertex, " of ",
                                                   nb_vertices)};
            }
            append(static_cast<std::uint64_t>(vertex) + 1);
            out += ' ';
        }
        append(references.empty() ? 0 : references[e]);
        out += '\n';
    }
}

void require_dimension(const MeditMesh& mesh, index_t dimension, const char* what) {
    if (mesh.dimension != dimension) {
        throw std::invalid_argument{concat("a ", what, " needs a Medit file of dimension ",
                                           dimension, ", this one has dimension ", mesh.dimension)};
    }
}

template <index_t D>
Point<D> vertex_point(const MeditMesh& mesh, index_t vertex) {
    std::array<double, D> values;
    for (index_t axis = 0; axis < D; ++axis) {
        values[axis] = mesh.coordinates[static_cast<std::size_t>(vertex) * mesh.dimension + axis];
    }
    return Point<D>{values};
}

template <index_t D, typename Mesh>
void append_points(MeditMesh& medit, const Mesh& mesh) {
    medit.dimension = D;
    medit.coordinates.reserve(static_cast<std::size_t>(mesh.nb_vertices()) * D);
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        for (index_t axis = 0; axis < D; ++axis) {
            medit.coordinates.push_back(mesh.point(v).value(axis));
        }
    }
    medit.vertex_references.assign(mesh.nb_vertices(), 0);
}

// Checks that the file suits a mesh of dimension D. A surface of the plane also accepts a
// dimension 3 file whose every z is exactly 0 (a planar mesh written by a 3D tool); projecting
// a surface that is not planar would silently fold it.
template <index_t D>
void require_mesh_dimension(const MeditMesh& mesh, const char* what) {
    if constexpr (D == 2) {
        if (mesh.dimension == 3) {
            for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
                if (mesh.coordinates[3 * static_cast<std::size_t>(v) + 2] != 0) {
                    throw std::invalid_argument{concat(
                        "a triangulated surface of the plane needs a Medit file of dimension "
                        "2, or of dimension 3 with every z equal to 0; vertex ",
                        v + 1, " has z = ", mesh.coordinates[3 * static_cast<std::size_t>(v) + 2])};
                }
            }
            return;
        }
    }
    require_dimension(mesh, D, what);
}

// The file of a mesh's points and elements, every reference 0.
template <typename Mesh>
MeditMesh mesh_to_medit(const Mesh& mesh) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    MeditMesh medit;
    append_points<D>(medit, mesh);
    auto& elements = medit.elements_of_dimension<D>();
    elements.reserve(Traits::nb_elements(mesh));
    for (index_t e = 0; e < Traits::nb_elements(mesh); ++e) {
        elements.push_back(Traits::element_vertices(mesh, e));
    }
    medit.references_of_dimension<D>().assign(elements.size(), 0);
    return medit;
}

}  // namespace

MeditMesh parse_medit(std::string_view text, const std::string& source) {
    Tokenizer tokens{text, source};
    MeditMesh mesh;
    bool has_dimension = false;
    bool has_version = false;
    bool has_vertices = false;
    bool has_edges = false;
    bool has_triangles = false;
    bool has_tetrahedra = false;
    LargestIndex largest;

    const auto once = [&tokens](bool& seen, std::string_view keyword) {
        if (seen) {
            tokens.fail(concat("a second ", keyword, " section"));
        }
        seen = true;
    };

    for (;;) {
        const std::string_view keyword = tokens.next();
        if (keyword.empty() || keyword == "End") {
            break;
        }
        const Place argument{keyword, tokens.line(), 0, Place::npos};
        if (keyword == "MeshVersionFormatted") {
            once(has_version, keyword);
            const std::int64_t version = read_integer(tokens, argument, "version");
            if (version < 1 || version > 4) {
                tokens.fail(
                    concat("unsupported MeshVersionFormatted ", version, " (1 to 4 are known)"));
            }
        } else if (keyword == "Dimension") {
            once(has_dimension, keyword);
            if (has_vertices) {
                tokens.fail("Dimension comes after Vertices");
            }
            const std::int64_t dimension = read_integer(tokens, argument, "value");
            if (dimension < 1 || dimension > 3) {
                tokens.fail(concat("Dimension ", dimension, " is not 1, 2 or 3"));
            }
            mesh.dimension = static_cast<index_t>(dimension);
        } else if (keyword == "Vertices") {
            if (!has_dimension) {
                tokens.fail("Vertices come before Dimension");
            }
            once(has_vertices, keyword);
            const Place section = read_count(tokens, keyword);
            static constexpr std::array<std::string_view, 3> axes{"x coordinate", "y coordinate",
                                                                  "z coordinate"};
            const std::size_t reserved = plausible_count(tokens, section, mesh.dimension + 1);
            mesh.coordinates.reserve(reserved * mesh.dimension);
            mesh.vertex_references.reserve(reserved);
            Place place = section;
            for (place.entry = 0; place.entry < section.count; ++place.entry) {
                for (index_t axis = 0; axis < mesh.dimension; ++axis) {
                    mesh.coordinates.push_back(read_real(tokens, place, axes[axis]));
                }
                mesh.vertex_references.push_back(read_reference(tokens, place));
            }
        } else if (keyword == "Edges") {
            once(has_edges, keyword);
            read_elements(tokens, read_count(tokens, keyword), mesh.edges, mesh.edge_references,
                          largest);
        } else if (keyword == "Triangles") {
            once(has_triangles, keyword);
            read_elements(tokens, read_count(tokens, keyword), mesh.triangles,
                          mesh.triangle_references, largest);
        } else if (keyword == "Tetrahedra") {
            once(has_tetrahedra, keyword);
            read_elements(tokens, read_count(tokens, keyword), mesh.tetrahedra,
                          mesh.tetrahedron_references, largest);
        } else {
            const auto skippable =
                std::find_if(skippable_sections.begin(), skippable_sections.end(),
                             [keyword](const SkippableSection& s) { return s.keyword == keyword; });
            if (skippable == skippable_sections.end()) {
                if (is_number(keyword)) {
                    tokens.fail(concat("expected a keyword, found the number '", shorten(keyword),
                                       "' (does the previous section hold more entries than "
                                       "its count?)"));
                }
                tokens.fail(concat("unknown keyword '", shorten(keyword), "'"));
            }
            if (!has_dimension) {
                tokens.fail(concat(keyword, " comes before Dimension"));
            }
            const Place section = read_count(tokens, keyword);
            skip_section(tokens, section,
                         skippable->values == 0 ? mesh.dimension : skippable->values);
            mesh.skipped_sections.push_back(
                MeditSkippedSection{std::string{keyword}, section.count, section.section_line});
        }
    }
    if (!has_dimension) {
        tokens.fail("no Dimension keyword: this is not a Medit mesh");
    }
    if (largest.value > static_cast<std::int64_t>(mesh.nb_vertices())) {
        tokens.fail_at(largest.line,
                       concat(largest.section, " entry ", largest.entry + 1, " of ", largest.count,
                              ": vertex index ", largest.value, " is out of range (the file has ",
                              mesh.nb_vertices(), " vertices)"));
    }
    return mesh;
}

MeditMesh read_medit(const std::string& path) {
    return parse_medit(read_file_bytes(path), path);
}

std::string format_medit(const MeditMesh& mesh) {
    if (mesh.dimension < 1 || mesh.dimension > 3) {
        throw std::invalid_argument{
            concat("Medit dimension ", mesh.dimension, " is not 1, 2 or 3")};
    }
    if (mesh.coordinates.size() % mesh.dimension != 0) {
        throw std::invalid_argument{"Medit coordinates are not a whole number of vertices"};
    }
    const index_t nb_vertices = mesh.nb_vertices();
    check_references(nb_vertices, mesh.vertex_references.size(), "Vertices");
    std::string out;
    out.reserve(mesh.coordinates.size() * 24 + mesh.edges.size() * 24 + mesh.triangles.size() * 32
                + mesh.tetrahedra.size() * 40 + 128);
    char buffer[32];
    const auto append = [&](auto value) {
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out.append(buffer, result.ptr);
    };
    out += "MeshVersionFormatted 2\n\nDimension ";
    append(mesh.dimension);
    out += "\n\nVertices\n";
    append(nb_vertices);
    out += '\n';
    for (index_t v = 0; v < nb_vertices; ++v) {
        for (index_t axis = 0; axis < mesh.dimension; ++axis) {
            append(mesh.coordinates[static_cast<std::size_t>(v) * mesh.dimension + axis]);
            out += ' ';
        }
        append(mesh.vertex_references.empty() ? 0 : mesh.vertex_references[v]);
        out += '\n';
    }
    format_elements(out, "Edges", mesh.edges, mesh.edge_references, nb_vertices);
    format_elements(out, "Triangles", mesh.triangles, mesh.triangle_references, nb_vertices);
    format_elements(out, "Tetrahedra", mesh.tetrahedra, mesh.tetrahedron_references, nb_vertices);
    out += "\nEnd\n";
    return out;
}

void write_medit(const MeditMesh& mesh, const std::string& path) {
    const std::string text = format_medit(mesh);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error{
            concat("cannot open ", path, " for writing: ", std::strerror(errno))};
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) {
        throw std::runtime_error{concat("cannot write ", path)};
    }
}

template <typename Mesh>
Mesh to_mesh(const MeditMesh& mesh, bool adjacencies) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    require_mesh_dimension<D>(mesh, Traits::name);
    Mesh result;
    typename Traits::Builder builder{result};
    builder.create_points(mesh.nb_vertices());
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        builder.set_point(v, vertex_point<D>(mesh, v));
    }
    Traits::create_elements(builder, mesh.elements_of_dimension<D>());
    if constexpr (D > 1) {
        if (adjacencies) {
            Traits::compute_adjacencies(builder);
        }
    }
    return result;
}

template EdgedCurve<1> to_mesh<EdgedCurve<1>>(const MeditMesh&, bool);
template TriangulatedSurface<2> to_mesh<TriangulatedSurface<2>>(const MeditMesh&, bool);
template TetrahedralSolid<3> to_mesh<TetrahedralSolid<3>>(const MeditMesh&, bool);

EdgedCurve<1> to_edged_curve(const MeditMesh& mesh) {
    return to_mesh<EdgedCurve<1>>(mesh);
}

TriangulatedSurface<2> to_triangulated_surface(const MeditMesh& mesh, bool adjacencies) {
    return to_mesh<TriangulatedSurface<2>>(mesh, adjacencies);
}

TetrahedralSolid<3> to_tetrahedral_solid(const MeditMesh& mesh, bool adjacencies) {
    return to_mesh<TetrahedralSolid<3>>(mesh, adjacencies);
}

MeditMesh to_medit(const EdgedCurve<1>& curve) {
    return mesh_to_medit(curve);
}

MeditMesh to_medit(const TriangulatedSurface<2>& surface) {
    return mesh_to_medit(surface);
}

MeditMesh to_medit(const TetrahedralSolid<3>& solid) {
    return mesh_to_medit(solid);
}

template <index_t D>
QueryPoints<D> to_query_points(const MeditMesh& mesh) {
    require_dimension(mesh, D, "set of query points");
    if (!mesh.edges.empty() || !mesh.triangles.empty() || !mesh.tetrahedra.empty()) {
        throw std::invalid_argument{
            "a file of query points holds vertices only, this one has "
            "elements"};
    }
    QueryPoints<D> queries;
    queries.points.reserve(mesh.nb_vertices());
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        queries.points.push_back(vertex_point<D>(mesh, v));
    }
    queries.references = mesh.vertex_references;
    return queries;
}

template <index_t D>
MeditMesh to_medit(const QueryPoints<D>& queries) {
    MeditMesh medit;
    medit.dimension = D;
    medit.coordinates.reserve(queries.points.size() * D);
    for (const Point<D>& point : queries.points) {
        for (index_t axis = 0; axis < D; ++axis) {
            medit.coordinates.push_back(point.value(axis));
        }
    }
    medit.vertex_references = queries.references;
    if (medit.vertex_references.empty()) {
        medit.vertex_references.assign(queries.points.size(), 0);
    }
    return medit;
}

template QueryPoints<1> to_query_points<1>(const MeditMesh&);
template QueryPoints<2> to_query_points<2>(const MeditMesh&);
template QueryPoints<3> to_query_points<3>(const MeditMesh&);
template MeditMesh to_medit<1>(const QueryPoints<1>&);
template MeditMesh to_medit<2>(const QueryPoints<2>&);
template MeditMesh to_medit<3>(const QueryPoints<3>&);

}  // namespace orvex::examples
