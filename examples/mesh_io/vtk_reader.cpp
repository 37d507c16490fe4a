// The legacy VTK reader (`.vtk`, ASCII or BINARY); see mesh_readers.h.

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "element_kinds.h"
#include "mesh_readers.h"
#include "reader_input.h"
#include "reader_text.h"

namespace orvex::examples {
namespace {

using detail::checked_count;
using detail::concat;
using detail::Elements;
using detail::Input;
using detail::is_space;
using detail::reserve_for;
using detail::shorten;

// A cell type of the format: its name in notes, its dimension and its point count (`points`
// exactly, or at least `points` when `at_least`).
struct VtkKind {
    std::int64_t type;
    int dimension;
    std::size_t points;
    bool at_least;
    const char* name;
};

// The kind of a cell type, or nullptr for a type the format does not define.
const VtkKind* vtk_kind(std::int64_t type) {
    static constexpr std::array<VtkKind, 20> kinds{{
        {1, 0, 1, false, "vertex cells"},
        {2, 0, 1, true, "poly-vertex cells"},
        {3, 1, 2, false, "line cells"},
        {4, 1, 2, true, "polyline cells"},
        {5, 2, 3, false, "triangle cells"},
        {6, 2, 3, true, "triangle strip cells"},
        {7, 2, 3, true, "polygon cells"},
        {8, 2, 4, false, "pixel cells"},
        {9, 2, 4, false, "quad cells"},
        {10, 3, 4, false, "tetra cells"},
        {11, 3, 8, false, "voxel cells"},
        {12, 3, 8, false, "hexahedron cells"},
        {13, 3, 6, false, "wedge cells"},
        {14, 3, 5, false, "pyramid cells"},
        {21, 1, 3, false, "quadratic edge cells"},
        {22, 2, 6, false, "quadratic triangle cells"},
        {23, 2, 8, false, "quadratic quad cells"},
        {24, 3, 10, false, "quadratic tetra cells"},
        {25, 3, 20, false, "quadratic hexahedron cells"},
        // A polyhedron lists its faces (a count, then each face's point count and points).
        {42, 3, 1, true, "polyhedron cells"},
    }};
    for (const VtkKind& kind : kinds) {
        if (kind.type == type) {
            return &kind;
        }
    }
    return nullptr;
}

// A cell array: cell c has the vertices connectivity[offsets[c] .. offsets[c + 1]).
struct CellArray {
    std::vector<std::size_t> offsets{0};
    std::vector<index_t> connectivity;
    Input::Mark mark{};

    [[nodiscard]] std::size_t size() const { return offsets.size() - 1; }
};

class VtkReader {
public:
    VtkReader(std::string_view bytes, const std::string& source)
        : in_{bytes, source}, elements_{mesh_} {}

    MeshFile read() {
        read_header();
        for (;;) {
            const std::string_view keyword = in_.token();
            if (keyword.empty() || keyword == "POINT_DATA" || keyword == "CELL_DATA"
                || keyword == "FIELD") {
                break;
            }
            if (keyword == "POINTS") {
                if (has_points_) {
                    in_.fail("a second POINTS section");
                }
                read_points();
            } else if (keyword == "METADATA") {
                // Lines of information up to an empty line.
                in_.line();
                while (!in_.line().empty()) {
                }
            } else if (!polydata_ && keyword == "CELLS") {
                if (has_cells_) {
                    in_.fail("a second CELLS section");
                }
                has_cells_ = true;
                cells_ = read_cells(keyword);
            } else if (!polydata_ && keyword == "CELL_TYPES") {
                read_cell_types();
            } else if (polydata_
                       && (keyword == "POLYGONS" || keyword == "LINES" || keyword == "VERTICES"
                           || keyword == "TRIANGLE_STRIPS")) {
                add_polydata(keyword, read_cells(keyword));
            } else {
                in_.fail(concat("unknown keyword '", shorten(keyword), "'"));
            }
        }
        if (!has_points_) {
            in_.fail_here("no POINTS section");
        }
        if (has_cells_ && !has_types_) {
            in_.fail_at(cells_.mark, "CELLS without CELL_TYPES");
        }
        elements_.finish();
        return std::move(mesh_);
    }

private:
    void read_header() {
        const std::string_view first = in_.line();
        constexpr std::string_view signature = "# vtk DataFile Version ";
        if (first.substr(0, signature.size()) != signature) {
            in_.fail(concat("a legacy VTK file starts with '", signature, "'"));
        }
        const std::string_view version = first.substr(signature.size());
        const char* end = version.data() + version.size();
        const auto [ptr, error] = std::from_chars(version.data(), end, major_);
        if (error != std::errc{} || major_ < 1 || major_ > 5 || (ptr != end && *ptr != '.')) {
            in_.fail(concat("version '", shorten(version), "' is not read (1 to 5 are)"));
        }
        in_.line();  // the title
        std::string_view mode = in_.line();
        while (!mode.empty() && is_space(mode.back())) {
            mode.remove_suffix(1);
        }
        if (mode == "BINARY") {
            in_.set_binary(true);
        } else if (mode != "ASCII") {
            in_.fail(concat("expected ASCII or BINARY on line 3, found '", shorten(mode), "'"));
        }
        in_.expect("DATASET", "after the header");
        const std::string_view dataset = in_.token_or_fail("dataset type");
        if (dataset == "POLYDATA") {
            polydata_ = true;
        } else if (dataset != "UNSTRUCTURED_GRID") {
            in_.fail(concat("DATASET ", shorten(dataset),
                            " is not read (UNSTRUCTURED_GRID and POLYDATA are)"));
        }
    }

    // The byte size of a binary value of a type name; 0 when the type is not read.
    static std::size_t size_of(std::string_view type, bool real) {
        if (real) {
            return type == "float" ? 4 : type == "double" ? 8 : 0;
        }
        if (type == "int" || type == "unsigned_int" || type == "vtktypeint32") {
            return 4;
        }
        return type == "vtktypeint64" ? 8 : 0;
    }

    std::size_t read_type(bool real) {
        const std::string_view type = in_.token_or_fail("data type");
        const std::size_t size = size_of(type, real);
        if (size == 0) {
            in_.fail(concat("data type '", shorten(type), "' is not read (",
                            real ? "float and double are" : "int and vtktypeint64 are", ")"));
        }
        if (in_.binary()) {
            in_.end_line();
        }
        return size;
    }

    std::int64_t read_int(std::size_t size, std::string_view what) {
        return in_.binary() ? in_.binary_int(size, what) : in_.integer(what);
    }

    void read_points() {
        const std::size_t count = checked_count(in_, in_.integer("point count"), "point count");
        const std::size_t size = read_type(true);
        mesh_.coordinates.reserve(3 * reserve_for(in_, count, in_.binary() ? 3 * size : 6));
        for (std::size_t k = 0; k < 3 * count; ++k) {
            mesh_.coordinates.push_back(in_.binary() ? in_.binary_real(size, "coordinate")
                                                     : in_.real("coordinate"));
        }
        has_points_ = true;
    }

    index_t read_index(std::size_t size) {
        const std::int64_t index = read_int(size, "point index");
        if (index < 0 || index >= static_cast<std::int64_t>(mesh_.nb_vertices())) {
            in_.fail(concat("point index ", index, " is out of range (the file has ",
                            mesh_.nb_vertices(), " points)"));
        }
        return static_cast<index_t>(index);
    }

    CellArray read_cells(std::string_view keyword) {
        CellArray cells;
        cells.mark = in_.mark();
        if (!has_points_) {
            in_.fail(concat(keyword, " comes before POINTS"));
        }
        const std::size_t first = checked_count(in_, in_.integer("cell count"), "cell count");
        const std::size_t second = checked_count(in_, in_.integer("size"), "size");
        if (major_ >= 5) {
            // Offsets (one more than the cells) and connectivity.
            in_.expect("OFFSETS", "after the cell counts");
            std::size_t size = read_type(false);
            cells.offsets.clear();
            cells.offsets.reserve(reserve_for(in_, first, in_.binary() ? size : 2));
            for (std::size_t k = 0; k < first; ++k) {
                const std::int64_t offset = read_int(size, "offset");
                const std::int64_t previous =
                    k == 0 ? 0 : static_cast<std::int64_t>(cells.offsets.back());
                if (k == 0 ? offset != 0
                           : offset < previous || offset > static_cast<std::int64_t>(second)) {
                    in_.fail(concat("offset ", k + 1, " of ", first, " is ", offset,
                                    ": offsets start at 0 and grow up to the connectivity size ",
                                    second));
                }
                cells.offsets.push_back(static_cast<std::size_t>(offset));
            }
            if (first == 0) {
                cells.offsets.push_back(0);
            }
            if (cells.offsets.back() != second) {
                in_.fail(concat("the last offset is ", cells.offsets.back(),
                                ", not the connectivity size ", second));
            }
            in_.expect("CONNECTIVITY", "after the offsets");
            size = read_type(false);
            cells.connectivity.reserve(reserve_for(in_, second, in_.binary() ? size : 2));
            for (std::size_t k = 0; k < second; ++k) {
                cells.connectivity.push_back(read_index(size));
            }
            return cells;
        }
        // Each cell as its vertex count and its vertices, `second` integers in all.
        const std::size_t bytes = in_.binary() ? 4 : 2;
        if (in_.binary()) {
            in_.end_line();
        }
        cells.offsets.reserve(reserve_for(in_, first, bytes) + 1);
        cells.connectivity.reserve(reserve_for(in_, second, bytes));
        std::size_t used = 0;
        for (std::size_t c = 0; c < first; ++c) {
            const std::int64_t n = read_int(4, "vertex count");
            if (n < 0 || static_cast<std::uint64_t>(n) + 1 > second - used) {
                in_.fail(concat("cell ", c + 1, " of ", first, " has ", n,
                                " vertices, more than the size ", second, " leaves"));
            }
            for (std::int64_t k = 0; k < n; ++k) {
                cells.connectivity.push_back(read_index(4));
            }
            used += static_cast<std::size_t>(n) + 1;
            cells.offsets.push_back(cells.connectivity.size());
        }
        if (used != second) {
            in_.fail(concat("the cells hold ", used, " integers, not the size ", second));
        }
        return cells;
    }

    void read_cell_types() {
        const Input::Mark mark = in_.mark();
        if (!has_cells_) {
            in_.fail("CELL_TYPES comes before CELLS");
        }
        if (has_types_) {
            in_.fail("a second CELL_TYPES section");
        }
        has_types_ = true;
        const std::int64_t count = in_.integer("cell count");
        if (count != static_cast<std::int64_t>(cells_.size())) {
            in_.fail_at(mark,
                        concat("CELL_TYPES declares ", count, " cells, CELLS ", cells_.size()));
        }
        if (in_.binary()) {
            in_.end_line();
        }
        for (std::size_t c = 0; c < cells_.size(); ++c) {
            const std::int64_t type = read_int(4, "cell type");
            const std::size_t first = cells_.offsets[c];
            const std::size_t n = cells_.offsets[c + 1] - first;
            const index_t* v = cells_.connectivity.data() + first;
            const VtkKind* kind = vtk_kind(type);
            if (kind != nullptr && (kind->at_least ? n < kind->points : n != kind->points)) {
                in_.fail(concat("cell ", c + 1, " of type ", type, " has ", n, " points, not ",
                                kind->at_least ? "at least " : "", kind->points));
            }
            // Quadratic edges, triangles and tetrahedra (21, 22, 24) list their corners first.
            if (type == 5 || type == 22) {
                elements_.add_triangle({v[0], v[1], v[2]}, 0);
            } else if (type == 10 || type == 24) {
                elements_.add_tetrahedron({v[0], v[1], v[2], v[3]}, 0);
            } else if (type == 3 || type == 21) {
                elements_.add_edge({v[0], v[1]}, 0);
            } else if (kind != nullptr) {
                elements_.skip(kind->name, kind->dimension);
            } else {
                elements_.skip("cells of type " + std::to_string(type), -1);
            }
            if (type == 21 || type == 22 || type == 24) {
                elements_.corners_of(kind->name, kind->dimension);
            }
        }
        cells_ = CellArray{};
    }

    void add_polydata(std::string_view keyword, const CellArray& cells) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const std::size_t first = cells.offsets[c];
            const std::size_t n = cells.offsets[c + 1] - first;
            const index_t* v = cells.connectivity.data() + first;
            if (keyword == "POLYGONS" && n == 3) {
                elements_.add_triangle({v[0], v[1], v[2]}, 0);
            } else if (keyword == "LINES" && n == 2) {
                elements_.add_edge({v[0], v[1]}, 0);
            } else if (keyword == "POLYGONS") {
                elements_.skip("polygons of other than three vertices", 2);
            } else if (keyword == "LINES") {
                elements_.skip("polylines", 1);
            } else if (keyword == "VERTICES") {
                elements_.skip("vertex cells", 0);
            } else {
                elements_.skip("triangle strips", 2);
            }
        }
    }

    Input in_;
    MeshFile mesh_;
    Elements elements_;
    CellArray cells_;
    int major_{0};
    bool polydata_{false};
    bool has_points_{false};
    bool has_cells_{false};
    bool has_types_{false};
};

}  // namespace

MeshFile parse_vtk(std::string_view bytes, const std::string& source) {
    return VtkReader{bytes, source}.read();
}

}  // namespace orvex::examples
