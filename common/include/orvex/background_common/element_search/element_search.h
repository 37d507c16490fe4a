#pragma once

#include <absl/types/span.h>

#include <memory>
#include <optional>
#include <vector>

#include "orvex/background_common/export.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point_fwd.h"
#include "polvane/mesh/mesh_changes.h"
#include "polvane/mesh/mesh_fwd.h"

namespace orvex {
namespace internal {

/// Finds which element of a mesh contains a point, up to an absolute tolerance of 1e-6 (in the
/// mesh's units of length). Provided for `EdgedCurve<1>`, `TriangulatedSurface<2>` and
/// `TetrahedralSolid<3>`.
///
/// It works on a snapshot: `reinitialize_elements_tree` takes a private copy of the mesh's
/// points and elements and builds a bounding-box tree over the copy's elements, so later edits
/// or the destruction of the caller's mesh change no answer until the next rebuild. Answers are
/// element indices of the mesh as it was at the last rebuild. The copy keeps the elements in
/// the tree's own order, so that the elements one query measures lie side by side in memory,
/// and leaves out what no distance reads (attributes, adjacencies, edges, unused vertices).
///
/// Following the mesh: after the caller has changed its mesh, `update_elements_tree` brings
/// the snapshot to the mesh's new state from a description of the change (`MeshChanges`), at
/// the cost of the change rather than of the mesh; `reinitialize_elements_tree` takes a new
/// snapshot whole. Either way every answer is then one a new snapshot of the mesh would give:
/// the same element distance, the element differing at most among elements at that same
/// distance (the updated tree is laid out otherwise, so ties may go another way).
///
/// Thread safety: queries are const and take no lock (a single query allocates nothing on the
/// heap), so many threads may query one search at once; a rebuild, an update, a move or the
/// destructor needs exclusive access (nothing in the class enforces it).
///
/// Cost: a rebuild copies the mesh's points and elements and builds the tree in time linear
/// in the number of elements (a sort of 32-bit keys); the tree needs about 16 D + 4 bytes per
/// element besides the mesh copy.
template <typename Mesh>
class ORVEX_BACKGROUND_COMMON_EXPORT ElementSearch {
public:
    /// The dimension D of the mesh's space: queries take a `Point<D>`.
    static constexpr index_t dimension = MeshDimension<Mesh>::value;

    /// A search with no snapshot: every query answers an empty optional until the first
    /// rebuild.
    ElementSearch();

    /// Releases the tree, then the mesh copy.
    ~ElementSearch();

    /// Not copyable: a search owns a whole mesh copy.
    ElementSearch(const ElementSearch&) = delete;
    /// Not copyable: a search owns a whole mesh copy.
    ElementSearch& operator=(const ElementSearch&) = delete;

    /// Takes a new snapshot of `mesh` (a copy of its points and elements) and builds a new
    /// tree over it. The new snapshot is complete before the previous one is released: if
    /// copying or building throws, the search keeps answering from its previous snapshot.
    void reinitialize_elements_tree(const Mesh& mesh);

    /// Brings the snapshot to the state of `mesh` after `changes` (see `MeshChanges`: the
    /// renumberings of a deletion or permutation, then in the new numbering the created
    /// elements, the elements whose vertices changed and the vertices that moved), reading
    /// only what changed: the copies of the changed elements and points, the tree refitted
    /// along their paths, new elements placed in room kept near where they lie. A
    /// renumbering costs one pass over the snapshot's indices. A change of more than a quarter
    /// of the elements takes a new snapshot instead, as `reinitialize_elements_tree` does, and
    /// so does an update of a search without a snapshot (never built, or moved from), whose
    /// `changes` are then not read. Vertices may move anywhere, to NaN or infinite
    /// coordinates included, as a new snapshot accepts them.
    /// Costs, at 1e6 elements: per moved vertex about 0.3 to 1.3 microseconds on curves, 1 to
    /// 3 on surfaces and 4 to 9 on solids (its elements are found from counts kept per vertex
    /// and runs of their positions, or through the tree at its old position), a few per created
    /// element, and for a deletion with compaction about 5 milliseconds (passes over the
    /// snapshot's indices): a tenth to a twentieth of a new snapshot of a surface or a solid.
    /// \throw PolvaneException "[ElementSearch::update_elements_tree] ..." when `changes`
    /// cannot describe `mesh`'s state from the snapshot's: a renumbering whose size is not the
    /// snapshot's count or that maps two indices to one or past the kept ones, created
    /// elements that are not exactly the indices after the kept ones, an index out of range.
    /// The search is then exactly as before the call; so it is when an allocation fails
    /// (everything the update needs is allocated before anything changes).
    void update_elements_tree(const Mesh& mesh, const MeshChanges& changes);

    /// The element nearest to `point`, if it lies within 1e-6 of it (bound included):
    /// - a snapshot without elements answers `NO_ID` (4294967295) in the optional;
    /// - an empty optional when no element lies within 1e-6, when the point or the elements
    ///   near it have a NaN coordinate (a NaN distance counts as farther than any number), and
    ///   on a search never rebuilt or moved from;
    /// - on a tie (a point on a face shared by several elements) the seed of the greedy descent
    ///   if it is among them, else the first of them met by the depth-first search.
    [[nodiscard]] std::optional<index_t> initial_containing_element(
        const Point<dimension>& point) const;

    /// The answers of `initial_containing_element` for every point of `points`, in the order
    /// of `points`: answer i is exactly what `initial_containing_element(points[i])` gives
    /// (NaN, infinite or far points included). The points are answered in an order that
    /// follows the tree's own curve, so that neighbouring queries share cached nodes and
    /// vertices, and 256 at a time (64 for edges) they descend the tree together, level by
    /// level, so that their box tests and memory reads overlap instead of waiting on each other;
    /// that needs about 24 bytes per point plus 270 kilobytes (70 for edges) of heap during
    /// the call. Starts no thread; being const, it may be called from several threads at once, for
    /// instance on disjoint parts of one array. An empty span gives an empty vector.
    [[nodiscard]] std::vector<std::optional<index_t>> initial_containing_elements(
        absl::Span<const Point<dimension>> points) const;

protected:
    /// Takes over the other search's snapshot; the other is left without one.
    ElementSearch(ElementSearch&& other) noexcept;

    /// Takes over the other search's snapshot, then releases this search's previous one.
    /// Self-assignment changes nothing.
    ElementSearch& operator=(ElementSearch&& other) noexcept;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

extern template class ElementSearch<EdgedCurve<1>>;
extern template class ElementSearch<TriangulatedSurface<2>>;
extern template class ElementSearch<TetrahedralSolid<3>>;

}  // namespace internal
}  // namespace orvex
