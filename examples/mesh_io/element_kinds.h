#pragma once

// The collector of a file's elements that the Gmsh and VTK readers share (private to this
// folder): it keeps the elements of the highest dimension met and counts, by kind, those it
// leaves out, for the notes of a `MeshFile`.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "medit_mesh.h"

namespace orvex::examples::detail {

/// Collects the elements of a file, keeps those of the highest dimension met and writes a note
/// for the kinds it leaves out. Any number of kinds is counted in time linear in the elements;
/// the notes list the first `listed_kinds` of them, then one note sums up the others.
class Elements {
public:
    /// Kinds skipped that get a note of their own; the rest share one.
    static constexpr std::size_t listed_kinds = 8;

    explicit Elements(MeshFile& mesh) : mesh_{mesh} {}

    void add_triangle(const std::array<index_t, 3>& vertices, std::int32_t reference);

    void add_tetrahedron(const std::array<index_t, 4>& vertices, std::int32_t reference);

    void add_edge(const std::array<index_t, 2>& vertices, std::int32_t reference);

    /// An element that is not kept, of the kind named `kind` ("quadrangles"); `dimension` -1
    /// when unknown.
    void skip(std::string_view kind, int dimension);

    /// A higher-order element that was just added by its corners.
    void corners_of(std::string_view kind, int dimension);

    /// Drops the kept elements below the highest dimension met and writes the notes.
    void finish();

private:
    struct Kind {
        std::string name;
        int dimension;
        std::size_t count;
    };

    // Kinds in the order first met, found again by name in constant time.
    class Tally {
    public:
        void count(std::string_view kind, int dimension);

        std::vector<Kind> kinds;

    private:
        std::unordered_map<std::string, std::size_t> index_;
        std::size_t last_{0};
    };

    MeshFile& mesh_;
    Tally skipped_;
    Tally cornered_;
    int top_{-1};
};

}  // namespace orvex::examples::detail
