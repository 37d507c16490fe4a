#include "mesh_readers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

#include "reader_text.h"

namespace orvex::examples {
namespace {

using detail::concat;
using detail::is_space;
using detail::max_count;

// A cursor over a file's bytes: whitespace-separated tokens (with `#` comments when asked),
// whole lines, and binary values of either byte order. Errors name the line of the last token
// in text, or the byte offset of the value at fault once the content is binary.
class Input {
public:
    Input(std::string_view bytes, const std::string& source, bool comments = false)
        : begin_{bytes.data()},
          p_{bytes.data()},
          end_{bytes.data() + bytes.size()},
          source_{source},
          comments_{comments} {}

    // From here on errors give byte offsets; binary values are big-endian when `big_endian`.
    void set_binary(bool big_endian) {
        binary_ = true;
        big_endian_ = big_endian;
    }

    [[nodiscard]] bool binary() const { return binary_; }

    [[nodiscard]] std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }

    // The next token, or an empty view at the end.
    std::string_view token() {
        while (p_ < end_) {
            if (*p_ == '\n') {
                ++line_;
                ++p_;
            } else if (comments_ && *p_ == '#') {
                while (p_ < end_ && *p_ != '\n') {
                    ++p_;
                }
            } else if (is_space(*p_)) {
                ++p_;
            } else {
                break;
            }
        }
        const char* start = p_;
        while (p_ < end_ && !is_space(*p_) && !(comments_ && *p_ == '#')) {
            ++p_;
        }
        if (p_ != start) {
            token_line_ = line_;
            token_offset_ = offset(start);
        }
        return {start, static_cast<std::size_t>(p_ - start)};
    }

    // The rest of the current line without its end (and without a trailing '\r').
    std::string_view line() {
        token_line_ = line_;
        token_offset_ = offset(p_);
        const char* start = p_;
        while (p_ < end_ && *p_ != '\n') {
            ++p_;
        }
        std::string_view text{start, static_cast<std::size_t>(p_ - start)};
        if (p_ < end_) {
            ++p_;
            ++line_;
        }
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
        return text;
    }

    // Ends a header line before binary data: only blanks may remain before its '\n'.
    void end_line() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r')) {
            ++p_;
        }
        if (p_ == end_) {
            fail_here("the file ends before the binary data");
        }
        if (*p_ != '\n') {
            fail_here(concat("expected the end of the line before the binary data, found '",
                             std::string_view{p_, 1}, "'"));
        }
        ++p_;
        ++line_;
    }

    // Skips past the next occurrence of `marker`; false (at the end) when there is none.
    bool skip_past(std::string_view marker) {
        const std::string_view rest{p_, remaining()};
        const std::size_t at = rest.find(marker);
        if (at == std::string_view::npos) {
            return false;
        }
        line_ += static_cast<std::size_t>(std::count(p_, p_ + at, '\n'));
        p_ += at + marker.size();
        return true;
    }

    // An unsigned value of `size` bytes (1 to 8) in the file's byte order.
    std::uint64_t raw(std::size_t size, std::string_view what) {
        token_offset_ = offset(p_);
        if (remaining() < size) {
            fail(concat("the file ends inside the binary data: the ", what, " needs ", size,
                        " bytes, ", remaining(), " remain"));
        }
        std::uint64_t value = 0;
        for (std::size_t k = 0; k < size; ++k) {
            const auto byte = static_cast<std::uint64_t>(static_cast<unsigned char>(p_[k]));
            value |= byte << (8 * (big_endian_ ? size - 1 - k : k));
        }
        p_ += size;
        return value;
    }

    std::int64_t binary_int(std::size_t size, std::string_view what) {
        const std::uint64_t value = raw(size, what);
        if (size == 4) {
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        }
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            fail(concat("the ", what, " ", value, " is out of range"));
        }
        return static_cast<std::int64_t>(value);
    }

    double binary_real(std::size_t size, std::string_view what) {
        const std::uint64_t bits = raw(size, what);
        double value = 0;
        if (size == 4) {
            const auto narrow = static_cast<std::uint32_t>(bits);
            float single = 0;
            std::memcpy(&single, &narrow, sizeof single);
            value = single;
        } else {
            std::memcpy(&value, &bits, sizeof value);
        }
        if (!std::isfinite(value)) {
            fail(concat("the ", what, " is not finite"));
        }
        return value;
    }

    std::string_view token_or_fail(std::string_view what) {
        const std::string_view t = token();
        if (t.empty()) {
            fail_here(concat("the file ends before the ", what));
        }
        return t;
    }

    std::int64_t integer(std::string_view what) {
        const std::string_view t = token_or_fail(what);
        const char* last = t.data() + t.size();
        const char* first = t.size() > 1 && t[0] == '+' ? t.data() + 1 : t.data();
        std::int64_t value = 0;
        const auto [ptr, error] = std::from_chars(first, last, value);
        if (error == std::errc::result_out_of_range) {
            fail(concat("the ", what, " '", t, "' is out of range"));
        }
        if (error != std::errc{} || ptr != last) {
            fail(concat("expected an integer for the ", what, ", found '", t, "'"));
        }
        return value;
    }

    double real(std::string_view what) {
        const std::string_view t = token_or_fail(what);
        const char* last = t.data() + t.size();
        const char* first = t.size() > 1 && t[0] == '+' ? t.data() + 1 : t.data();
        double value = 0;
        const auto [ptr, error] = std::from_chars(first, last, value);
        if (error == std::errc::result_out_of_range) {
            fail(concat("the ", what, " '", t, "' is out of range"));
        }
        if (error != std::errc{} || ptr != last) {
            fail(concat("expected a number for the ", what, ", found '", t, "'"));
        }
        if (!std::isfinite(value)) {
            fail(concat("the ", what, " '", t, "' is not finite"));
        }
        return value;
    }

    void expect(std::string_view keyword, std::string_view context) {
        const std::string_view t = token();
        if (t != keyword) {
            if (t.empty()) {
                fail_here(concat("the file ends where ", keyword, " should come ", context));
            }
            fail(concat("expected ", keyword, " ", context, ", found '", shorten(t), "'"));
        }
    }

    // Fails at the last token (text) or value (binary).
    [[noreturn]] void fail(const std::string& message) const {
        if (binary_) {
            throw MeshFileError::at_byte(source_, token_offset_, message);
        }
        throw MeshFileError{source_, token_line_, message};
    }

    // Fails where the cursor stands: at its byte in binary content, at the line of the last
    // token in text (so that a truncation is reported where the content stops).
    [[noreturn]] void fail_here(const std::string& message) const {
        if (binary_) {
            throw MeshFileError::at_byte(source_, offset(p_), message);
        }
        throw MeshFileError{source_, token_line_, message};
    }

    // The place of the last token, to fail there later.
    struct Mark {
        std::size_t line;
        std::size_t offset;
    };

    [[nodiscard]] Mark mark() const { return {token_line_, token_offset_}; }

    [[noreturn]] void fail_at(Mark mark, const std::string& message) const {
        if (binary_) {
            throw MeshFileError::at_byte(source_, mark.offset, message);
        }
        throw MeshFileError{source_, mark.line, message};
    }

    static std::string shorten(std::string_view token) {
        std::string out{token.substr(0, 40)};
        for (char& c : out) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
                c = '?';
            }
        }
        return token.size() > 40 ? out + "..." : out;
    }

private:
    [[nodiscard]] std::size_t offset(const char* at) const {
        return static_cast<std::size_t>(at - begin_);
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    const std::string& source_;
    bool comments_;
    bool binary_{false};
    bool big_endian_{false};
    std::size_t line_{1};
    std::size_t token_line_{1};
    std::size_t token_offset_{0};
};

// Checks a declared count and returns it; `reserve_for` is what the rest of the file could
// hold at `min_bytes` per entry, the most a reader may reserve for it.
std::size_t checked_count(Input& in, std::int64_t count, std::string_view what) {
    if (count < 0) {
        in.fail(concat("negative ", what, " ", count));
    }
    if (count > max_count) {
        in.fail(concat(what, " ", count, " exceeds ", max_count));
    }
    return static_cast<std::size_t>(count);
}

std::size_t reserve_for(const Input& in, std::size_t count, std::size_t min_bytes) {
    return std::min(count, in.remaining() / min_bytes + 1);
}

std::int32_t checked_reference(Input& in, std::int64_t value) {
    if (value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max()) {
        in.fail(concat("the reference ", value, " does not fit in 32 bits"));
    }
    return static_cast<std::int32_t>(value);
}

// Collects the elements of a file, keeps those of the highest dimension met and writes a note
// for every kind it leaves out.
class Elements {
public:
    explicit Elements(MeshFile& mesh) : mesh_{mesh} {}

    void add_triangle(const std::array<index_t, 3>& vertices, std::int32_t reference) {
        top_ = std::max(top_, 2);
        mesh_.triangles.push_back(vertices);
        mesh_.triangle_references.push_back(reference);
    }

    void add_tetrahedron(const std::array<index_t, 4>& vertices, std::int32_t reference) {
        top_ = std::max(top_, 3);
        mesh_.tetrahedra.push_back(vertices);
        mesh_.tetrahedron_references.push_back(reference);
    }

    void add_edge(const std::array<index_t, 2>& vertices, std::int32_t reference) {
        top_ = std::max(top_, 1);
        mesh_.edges.push_back(vertices);
        mesh_.edge_references.push_back(reference);
    }

    // An element that is not kept; `dimension` -1 when unknown.
    void skip(const std::string& kind, int dimension) {
        top_ = std::max(top_, dimension);
        count(skipped_, kind, dimension);
    }

    // A higher-order element that was just added by its corners.
    void corners_of(const std::string& kind, int dimension) { count(cornered_, kind, dimension); }

    void finish() {
        mesh_.vertex_references.assign(mesh_.nb_vertices(), 0);
        const auto drop = [this](auto& elements, auto& references, const char* kind, int dim) {
            if (!elements.empty() && dim < top_) {
                skipped_.insert(skipped_.begin(), {kind, dim, elements.size()});
                elements.clear();
                elements.shrink_to_fit();
                references.clear();
                references.shrink_to_fit();
            }
        };
        drop(mesh_.triangles, mesh_.triangle_references, "triangles", 2);
        drop(mesh_.edges, mesh_.edge_references, "lines", 1);
        for (const Skipped& s : skipped_) {
            mesh_.notes.push_back(s.dimension >= 0 && s.dimension < top_
                                      ? concat("skipped ", s.count, " ", s.kind,
                                               " (of lower dimension than the mesh)")
                                      : concat("skipped ", s.count, " ", s.kind,
                                               " (only triangles, tetrahedra and edges are read)"));
        }
        for (const Skipped& s : cornered_) {
            if (s.dimension == top_) {
                mesh_.notes.push_back(concat("kept only the corners of ", s.count, " ", s.kind,
                                             " (the mesh is linear)"));
            }
        }
    }

private:
    struct Skipped {
        std::string kind;
        int dimension;
        std::size_t count;
    };

    static void count(std::vector<Skipped>& list, const std::string& kind, int dimension) {
        const auto found = std::find_if(list.begin(), list.end(),
                                        [&kind](const Skipped& s) { return s.kind == kind; });
        if (found == list.end()) {
            list.push_back({kind, dimension, 1});
        } else {
            ++found->count;
        }
    }

    MeshFile& mesh_;
    std::vector<Skipped> skipped_;
    std::vector<Skipped> cornered_;
    int top_{-1};
};

// ---------------------------------------------------------------------------------------------
// Gmsh

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
                    in_.fail(concat("section ", Input::shorten(section), " has no ",
                                    Input::shorten(end)));
                }
            } else {
                in_.fail(concat("expected a section ($Nodes, $Elements, ...), found '",
                                Input::shorten(section), "'"));
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
            in_.fail(
                concat("a Gmsh file starts with $MeshFormat, found '", Input::shorten(first), "'"));
        }
        const std::string_view version = in_.token_or_fail("version");
        if (version == "4.1") {
            version4_ = true;
        } else if (!(version == "2" || version.substr(0, 2) == "2.")) {
            in_.fail(
                concat("Gmsh version ", Input::shorten(version), " is not read (2.x and 4.1 are)"));
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

// ---------------------------------------------------------------------------------------------
// VTK

const char* vtk_cell_name(std::int64_t type, int& dimension) {
    struct Kind {
        std::int64_t type;
        int dimension;
        const char* name;
    };

    static constexpr std::array<Kind, 20> kinds{{
        {1, 0, "vertex cells"},
        {2, 0, "poly-vertex cells"},
        {3, 1, "line cells"},
        {4, 1, "polyline cells"},
        {5, 2, "triangle cells"},
        {6, 2, "triangle strip cells"},
        {7, 2, "polygon cells"},
        {8, 2, "pixel cells"},
        {9, 2, "quad cells"},
        {10, 3, "tetra cells"},
        {11, 3, "voxel cells"},
        {12, 3, "hexahedron cells"},
        {13, 3, "wedge cells"},
        {14, 3, "pyramid cells"},
        {21, 1, "quadratic edge cells"},
        {22, 2, "quadratic triangle cells"},
        {23, 2, "quadratic quad cells"},
        {24, 3, "quadratic tetra cells"},
        {25, 3, "quadratic hexahedron cells"},
        {42, 3, "polyhedron cells"},
    }};
    for (const Kind& kind : kinds) {
        if (kind.type == type) {
            dimension = kind.dimension;
            return kind.name;
        }
    }
    dimension = -1;
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
                in_.fail(concat("unknown keyword '", Input::shorten(keyword), "'"));
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
            in_.fail(concat("version '", Input::shorten(version), "' is not read (1 to 5 are)"));
        }
        in_.line();  // the title
        std::string_view mode = in_.line();
        while (!mode.empty() && is_space(mode.back())) {
            mode.remove_suffix(1);
        }
        if (mode == "BINARY") {
            in_.set_binary(true);
        } else if (mode != "ASCII") {
            in_.fail(
                concat("expected ASCII or BINARY on line 3, found '", Input::shorten(mode), "'"));
        }
        in_.expect("DATASET", "after the header");
        const std::string_view dataset = in_.token_or_fail("dataset type");
        if (dataset == "POLYDATA") {
            polydata_ = true;
        } else if (dataset != "UNSTRUCTURED_GRID") {
            in_.fail(concat("DATASET ", Input::shorten(dataset),
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
            in_.fail(concat("data type '", Input::shorten(type), "' is not read (",
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
            // Quadratic edges, triangles and tetrahedra (21, 22, 24) list their corners first.
            static constexpr std::array<std::array<std::int64_t, 2>, 6> counts{
                {{3, 2}, {5, 3}, {10, 4}, {21, 3}, {22, 6}, {24, 10}}};
            std::size_t expected = n;
            for (const auto& [kind, points] : counts) {
                expected = kind == type ? static_cast<std::size_t>(points) : expected;
            }
            if (n != expected) {
                in_.fail(concat("cell ", c + 1, " of type ", type, " has ", n, " points, not ",
                                expected));
            }
            int dimension = -1;
            const char* name = vtk_cell_name(type, dimension);
            if (type == 5 || type == 22) {
                elements_.add_triangle({v[0], v[1], v[2]}, 0);
            } else if (type == 10 || type == 24) {
                elements_.add_tetrahedron({v[0], v[1], v[2], v[3]}, 0);
            } else if (type == 3 || type == 21) {
                elements_.add_edge({v[0], v[1]}, 0);
            } else {
                elements_.skip(name != nullptr ? std::string{name} : concat("cells of type ", type),
                               dimension);
            }
            if (type == 21 || type == 22 || type == 24) {
                elements_.corners_of(name, dimension);
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

// ---------------------------------------------------------------------------------------------
// TetGen

MeshFile read_tetgen(std::string_view node_text, std::string_view ele_text,
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
        nodes.fail(concat("unexpected '", Input::shorten(extra), "' after the ", count,
                          " declared nodes"));
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
            if (a == 0 && value == std::floor(value) && std::abs(value) <= 2147483647.0) {
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
        elements.fail(concat("unexpected '", Input::shorten(extra), "' after the ", nb_elements,
                             " declared elements"));
    }
    if (per_element > corners) {
        mesh.notes.push_back(
            concat("kept the ", corners, " corners of each ", per_element, "-node element"));
    }
    mesh.vertex_references.assign(count, 0);
    return mesh;
}

std::string read_bytes(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{std::fopen(path.c_str(), "rb"),
                                                         &std::fclose};
    if (!file) {
        throw std::runtime_error{concat("cannot open ", path, ": ", std::strerror(errno))};
    }
    std::string bytes;
    char buffer[1 << 16];
    std::size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        bytes.append(buffer, read);
    }
    if (std::ferror(file.get()) != 0) {
        throw std::runtime_error{concat("cannot read ", path)};
    }
    return bytes;
}

bool ends_with(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size()
           && std::string_view{text}.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

MeshFormat mesh_format(const std::string& path, std::string_view head) {
    std::size_t start = 0;
    while (start < head.size() && is_space(head[start])) {
        ++start;
    }
    const std::string_view text = head.substr(start);
    if (text.substr(0, 11) == "$MeshFormat") {
        return MeshFormat::gmsh;
    }
    if (text.substr(0, 14) == "# vtk DataFile") {
        return MeshFormat::vtk;
    }
    if (text.substr(0, 20) == "MeshVersionFormatted" || text.substr(0, 9) == "Dimension") {
        return MeshFormat::medit;
    }
    std::string lower;
    const std::size_t dot = path.find_last_of('.');
    if (dot != std::string::npos) {
        for (std::size_t k = dot; k < path.size(); ++k) {
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(path[k])));
        }
    }
    if (lower == ".msh") {
        return MeshFormat::gmsh;
    }
    if (lower == ".vtk") {
        return MeshFormat::vtk;
    }
    if (lower == ".node" || lower == ".ele") {
        return MeshFormat::tetgen;
    }
    if (lower == ".mesh") {
        return MeshFormat::medit;
    }
    throw MeshFileError{path, 1,
                        "unknown mesh format: neither the content nor the extension names Medit "
                        "(.mesh), Gmsh (.msh), legacy VTK (.vtk) or TetGen (.node and .ele)"};
}

MeshFile parse_gmsh(std::string_view bytes, const std::string& source) {
    return GmshReader{bytes, source}.read();
}

MeshFile parse_vtk(std::string_view bytes, const std::string& source) {
    return VtkReader{bytes, source}.read();
}

MeshFile parse_tetgen(std::string_view node_text, std::string_view ele_text,
                      const std::string& node_source, const std::string& ele_source) {
    return read_tetgen(node_text, ele_text, node_source, ele_source);
}

MeshFile read_mesh(const std::string& path) {
    const std::string bytes = read_bytes(path);
    switch (mesh_format(path, std::string_view{bytes}.substr(0, 64))) {
        case MeshFormat::gmsh:
            return parse_gmsh(bytes, path);
        case MeshFormat::vtk:
            return parse_vtk(bytes, path);
        case MeshFormat::tetgen: {
            const std::string stem = path.substr(0, path.find_last_of('.'));
            const bool is_node = ends_with(path, ".node") || ends_with(path, ".NODE");
            const std::string node_path = is_node ? path : stem + ".node";
            const std::string ele_path = is_node ? stem + ".ele" : path;
            const std::string other = read_bytes(is_node ? ele_path : node_path);
            return is_node ? parse_tetgen(bytes, other, node_path, ele_path)
                           : parse_tetgen(other, bytes, node_path, ele_path);
        }
        case MeshFormat::medit:
            break;
    }
    return parse_medit(bytes, path);
}

}  // namespace orvex::examples
