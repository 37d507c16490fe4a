// The Gmsh reader (`.msh` 2.x and 4.1, ASCII and binary); see mesh_readers.h.

#include <algorithm>
#include <array>
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
using detail::checked_reference;
using detail::concat;
using detail::Elements;
using detail::Input;
using detail::reserve_for;
using detail::shorten;

// Node tags to vertex indices: the identity shift when the tags run on without a gap (the
// usual case), a sorted table otherwise.
class NodeTags {
public:
    void reserve(std::size_t count) { tags_.reserve(count); }

    void add(Input& in, std::int64_t tag) {
        if (tag < 1) {
            in.fail(concat("node tag ", tag, " is not positive"));
        }
        if (!tags_.empty() && tag - 1 != tags_.back()) {
            contiguous_ = false;
        }
        tags_.push_back(tag);
    }

    void finish(Input& in) {
        if (contiguous_) {
            return;
        }
        sorted_.reserve(tags_.size());
        for (std::size_t k = 0; k < tags_.size(); ++k) {
            sorted_.emplace_back(tags_[k], static_cast<index_t>(k));
        }
        std::sort(sorted_.begin(), sorted_.end());
        for (std::size_t k = 1; k < sorted_.size(); ++k) {
            if (sorted_[k].first == sorted_[k - 1].first) {
                in.fail(concat("node tag ", sorted_[k].first, " appears twice"));
            }
        }
    }

    [[nodiscard]] index_t find(std::int64_t tag) const {
        if (tags_.empty()) {
            return NO_ID;
        }
        if (contiguous_) {
            if (tag < tags_.front()) {
                return NO_ID;
            }
            const std::int64_t k = tag - tags_.front();
            return k >= 0 && k < static_cast<std::int64_t>(tags_.size()) ? static_cast<index_t>(k)
                                                                         : NO_ID;
        }
        const auto at = std::lower_bound(sorted_.begin(), sorted_.end(),
                                         std::pair<std::int64_t, index_t>{tag, 0});
        return at != sorted_.end() && at->first == tag ? at->second : NO_ID;
    }

    [[nodiscard]] std::size_t size() const { return tags_.size(); }

private:
    std::vector<std::int64_t> tags_;
    std::vector<std::pair<std::int64_t, index_t>> sorted_;
    bool contiguous_{true};
};

struct GmshType {
    int nodes;
    int dimension;
    const char* name;
};

// Nodes and dimension of each element type; nodes 0 for an unknown type.
GmshType gmsh_type(std::int64_t type) {
    static constexpr std::array<GmshType, 32> types{{
        {0, 0, ""},
        {2, 1, "lines"},
        {3, 2, "triangles"},
        {4, 2, "quadrangles"},
        {4, 3, "tetrahedra"},
        {8, 3, "hexahedra"},
        {6, 3, "prisms"},
        {5, 3, "pyramids"},
        {3, 1, "3-node lines"},
        {6, 2, "6-node triangles"},
        {9, 2, "9-node quadrangles"},
        {10, 3, "10-node tetrahedra"},
        {27, 3, "27-node hexahedra"},
        {18, 3, "18-node prisms"},
        {14, 3, "14-node pyramids"},
        {1, 0, "points"},
        {8, 2, "8-node quadrangles"},
        {20, 3, "20-node hexahedra"},
        {15, 3, "15-node prisms"},
        {13, 3, "13-node pyramids"},
        {9, 2, "9-node triangles"},
        {10, 2, "10-node triangles"},
        {12, 2, "12-node triangles"},
        {15, 2, "15-node triangles"},
        {15, 2, "15-node incomplete triangles"},
        {21, 2, "21-node triangles"},
        {4, 1, "4-node lines"},
        {5, 1, "5-node lines"},
        {6, 1, "6-node lines"},
        {20, 3, "20-node tetrahedra"},
        {35, 3, "35-node tetrahedra"},
        {56, 3, "56-node tetrahedra"},
    }};
    if (type >= 1 && type < static_cast<std::int64_t>(types.size())) {
        return types[static_cast<std::size_t>(type)];
    }
    if (type == 92) {
        return {64, 3, "64-node hexahedra"};
    }
    if (type == 93) {
        return {125, 3, "125-node hexahedra"};
    }
    return {0, 0, ""};
}

class GmshReader {
public:
    GmshReader(std::string_view bytes, const std::string& source)
        : in_{bytes, source}, elements_{mesh_} {}

    MeshFile read() {
        read_header();
        bool has_nodes = false;
        bool has_elements = false;
        for (;;) {
            const std::string_view section = in_.token();
            if (section.empty()) {
                break;
            }
            if (section == "$Nodes") {
                if (has_nodes) {
                    in_.fail("a second $Nodes section");
                }
                has_nodes = true;
                version4_ ? read_nodes4() : read_nodes2();
                in_.expect("$EndNodes", "after the nodes");
                tags_.finish(in_);
            } else if (section == "$Elements") {
                if (has_elements) {
                    in_.fail("a second $Elements section");
                }
                if (!has_nodes) {
                    in_.fail("$Elements comes before $Nodes");
                }
                has_elements = true;
                version4_ ? read_elements4() : read_elements2();
                in_.expect("$EndElements", "after the elements");
            } else if (section.size() > 1 && section[0] == '$') {
                const std::string end = "$End" + std::string{section.substr(1)};
                if (!in_.skip_past(end)) {
                    in_.fail(concat("section ", shorten(section), " has no ", shorten(end)));
                }
            } else {
                in_.fail(concat("expected a section ($Nodes, $Elements, ...), found '",
                                shorten(section), "'"));
            }
        }
        if (!has_nodes) {
            in_.fail_here("no $Nodes section");
        }
        elements_.finish();
        return std::move(mesh_);
    }

private:
    void read_header() {
        const std::string_view first = in_.token();
        if (first != "$MeshFormat") {
            in_.fail(concat("a Gmsh file starts with $MeshFormat, found '", shorten(first), "'"));
        }
        const std::string_view version = in_.token_or_fail("version");
        if (version == "4.1") {
            version4_ = true;
        } else if (!(version == "2" || version.substr(0, 2) == "2.")) {
            in_.fail(concat("Gmsh version ", shorten(version), " is not read (2.x and 4.1 are)"));
        }
        const std::int64_t file_type = in_.integer("file type");
        if (file_type != 0 && file_type != 1) {
            in_.fail(concat("file type ", file_type, " is neither 0 (ASCII) nor 1 (binary)"));
        }
        const std::int64_t data_size = in_.integer("data size");
        if (file_type == 1) {
            if (version4_ ? data_size != 4 && data_size != 8 : data_size != 8) {
                in_.fail(concat("binary data size ", data_size, " is not read (",
                                version4_ ? "4 or 8" : "8", " is)"));
            }
            size_bytes_ = static_cast<std::size_t>(data_size);
            in_.end_line();
            in_.set_binary(false);
            const std::uint64_t one = in_.raw(4, "byte-order mark");
            if (one == 0x01000000U) {
                in_.set_binary(true);
            } else if (one != 1) {
                in_.fail(concat("the byte-order mark is ", one, ", neither 1 nor 1 swapped"));
            }
        }
        in_.expect("$EndMeshFormat", "after the format line");
    }

    // An int of a block or element header: 4 bytes in binary.
    std::int64_t read_int(std::string_view what) {
        return in_.binary() ? in_.binary_int(4, what) : in_.integer(what);
    }

    // A size_t of a 4.1 file: `size_bytes_` bytes in binary, never negative.
    std::int64_t read_size(std::string_view what) {
        const std::int64_t value =
            in_.binary() ? in_.binary_int(size_bytes_, what) : in_.integer(what);
        if (value < 0) {
            in_.fail(concat("negative ", what, " ", value));
        }
        return value;
    }

    double read_real(std::string_view what) {
        return in_.binary() ? in_.binary_real(8, what) : in_.real(what);
    }

    void add_node(std::int64_t tag) {
        tags_.add(in_, tag);
        for (const char* axis : {"x coordinate", "y coordinate", "z coordinate"}) {
            mesh_.coordinates.push_back(read_real(axis));
        }
    }

    void reserve_nodes(std::size_t count, std::size_t min_bytes) {
        const std::size_t reserved = reserve_for(in_, count, min_bytes);
        mesh_.coordinates.reserve(3 * reserved);
        tags_.reserve(reserved);
    }

    void read_nodes2() {
        const std::size_t count = checked_count(in_, in_.integer("node count"), "node count");
        reserve_nodes(count, in_.binary() ? 28 : 8);
        if (in_.binary()) {
            in_.end_line();
        }
        for (std::size_t k = 0; k < count; ++k) {
            add_node(read_int("node tag"));
        }
    }

    void read_nodes4() {
        if (in_.binary()) {
            in_.end_line();
        }
        read_size("entity block count");
        const std::size_t count = checked_count(in_, read_size("node count"), "node count");
        read_size("smallest node tag");
        read_size("largest node tag");
        reserve_nodes(count, in_.binary() ? size_bytes_ + 24 : 8);
        while (tags_.size() < count) {
            const std::int64_t dimension = read_int("entity dimension");
            read_int("entity tag");
            const std::int64_t parametric = read_int("parametric flag");
            const std::int64_t in_block = read_size("node count of the block");
            if (dimension < 0 || dimension > 3) {
                in_.fail(concat("entity dimension ", dimension, " is not 0 to 3"));
            }
            if (in_block > static_cast<std::int64_t>(count - tags_.size())) {
                in_.fail(concat("the blocks hold more nodes than the ", count, " declared"));
            }
            const auto n = static_cast<std::size_t>(in_block);
            for (std::size_t k = 0; k < n; ++k) {
                tags_.add(in_, read_size("node tag"));
            }
            for (std::size_t k = 0; k < n; ++k) {
                for (const char* axis : {"x coordinate", "y coordinate", "z coordinate"}) {
                    mesh_.coordinates.push_back(read_real(axis));
                }
                if (parametric != 0) {
                    for (std::int64_t p = 0; p < dimension; ++p) {
                        read_real("parametric coordinate");
                    }
                }
            }
        }
    }

    // Reads the node tags of an element of `type` and keeps it or notes it.
    void read_element(std::int64_t type, const GmshType& info, std::int32_t reference) {
        std::array<index_t, 4> vertices{};
        for (int k = 0; k < info.nodes; ++k) {
            const std::int64_t tag = in_.binary()
                                         ? (version4_ ? in_.binary_int(size_bytes_, "node tag")
                                                      : in_.binary_int(4, "node tag"))
                                         : in_.integer("node tag");
            const index_t vertex = tags_.find(tag);
            if (vertex == NO_ID) {
                in_.fail(concat("node tag ", tag, " is not among the ", tags_.size(), " nodes"));
            }
            if (k < 4) {
                vertices[static_cast<std::size_t>(k)] = vertex;
            }
        }
        // The first nodes of the second-order lines, triangles and tetrahedra are the corners.
        if (type == 2 || type == 9) {
            elements_.add_triangle({vertices[0], vertices[1], vertices[2]}, reference);
        } else if (type == 4 || type == 11) {
            elements_.add_tetrahedron(vertices, reference);
        } else if (type == 1 || type == 8) {
            elements_.add_edge({vertices[0], vertices[1]}, reference);
        } else {
            elements_.skip(info.name, info.dimension);
        }
        if (type == 8 || type == 9 || type == 11) {
            elements_.corners_of(info.name, info.dimension);
        }
    }

    GmshType checked_type(std::int64_t type) {
        const GmshType info = gmsh_type(type);
        if (info.nodes == 0) {
            in_.fail(concat("unknown element type ", type));
        }
        return info;
    }

    void read_elements2() {
        const std::size_t count = checked_count(in_, in_.integer("element count"), "element count");
        if (!in_.binary()) {
            for (std::size_t e = 0; e < count; ++e) {
                in_.integer("element tag");
                const std::int64_t type = in_.integer("element type");
                const GmshType info = checked_type(type);
                const std::int64_t nb_tags = in_.integer("tag count");
                if (nb_tags < 0) {
                    in_.fail(concat("negative tag count ", nb_tags));
                }
                std::int64_t reference = 0;
                for (std::int64_t t = 0; t < nb_tags; ++t) {
                    const std::int64_t tag = in_.integer("element tag");
                    reference = t == 0 ? tag : reference;
                }
                read_element(type, info, checked_reference(in_, reference));
            }
            return;
        }
        in_.end_line();
        std::size_t read = 0;
        while (read < count) {
            const std::int64_t type = in_.binary_int(4, "element type");
            const GmshType info = checked_type(type);
            const std::int64_t following = in_.binary_int(4, "element count of the block");
            const std::int64_t nb_tags = in_.binary_int(4, "tag count");
            if (following < 1 || following > static_cast<std::int64_t>(count - read)) {
                in_.fail(concat("a block of ", following, " elements where ", count - read,
                                " remain to be read"));
            }
            if (nb_tags < 0) {
                in_.fail(concat("negative tag count ", nb_tags));
            }
            const auto entry_bytes = 4
                                     * (1 + static_cast<std::uint64_t>(nb_tags)
                                        + static_cast<std::uint64_t>(info.nodes));
            if (static_cast<std::uint64_t>(following) > in_.remaining() / entry_bytes) {
                in_.fail(concat("the file ends inside a block of ", following, " elements of ",
                                entry_bytes, " bytes each"));
            }
            for (std::int64_t e = 0; e < following; ++e) {
                in_.binary_int(4, "element tag");
                std::int64_t reference = 0;
                for (std::int64_t t = 0; t < nb_tags; ++t) {
                    const std::int64_t tag = in_.binary_int(4, "element tag");
                    reference = t == 0 ? tag : reference;
                }
                read_element(type, info, checked_reference(in_, reference));
            }
            read += static_cast<std::size_t>(following);
        }
    }

    void read_elements4() {
        if (in_.binary()) {
            in_.end_line();
        }
        read_size("entity block count");
        const std::size_t count = checked_count(in_, read_size("element count"), "element count");
        read_size("smallest element tag");
        read_size("largest element tag");
        std::size_t read = 0;
        while (read < count) {
            read_int("entity dimension");
            const std::int32_t reference = checked_reference(in_, read_int("entity tag"));
            const std::int64_t type = read_int("element type");
            const GmshType info = checked_type(type);
            const std::int64_t in_block = read_size("element count of the block");
            if (in_block > static_cast<std::int64_t>(count - read)) {
                in_.fail(concat("the blocks hold more elements than the ", count, " declared"));
            }
            for (std::int64_t e = 0; e < in_block; ++e) {
                read_size("element tag");
                read_element(type, info, reference);
            }
            read += static_cast<std::size_t>(in_block);
        }
    }

    Input in_;
    MeshFile mesh_;
    Elements elements_;
    NodeTags tags_;
    bool version4_{false};
    std::size_t size_bytes_{8};
};

}  // namespace

MeshFile parse_gmsh(std::string_view bytes, const std::string& source) {
    return GmshReader{bytes, source}.read();
}

}  // namespace orvex::examples
