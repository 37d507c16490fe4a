#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/aabb_tree.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/mesh_changes.h"
#include "polvane/mesh/mesh_fwd.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex {

/// A copy of a mesh's geometry laid out for point location, with the bounding-box tree over
/// it, that can follow the source mesh's changes. Provided for `EdgedCurve<1>`,
/// `TriangulatedSurface<2>` and `TetrahedralSolid<3>`.
///
/// - `mesh()` holds the points and elements of the source mesh and nothing else: no
///   attribute, no edges, no adjacency. The copy's element at leaf position i is the source
///   element `tree().leaf_element(i)`, with its vertices in the same local order, so that
///   every distance to it is computed on the same numbers. The copy's vertices are numbered in
///   the order in which its elements first use them; source vertices of no element are left
///   out.
/// - `tree()` is the bounding-box tree over the source's elements (the one `create_aabb_tree`
///   builds), built over the copy: its leaf position i is the copy's element i, and it names
///   that element by its source index.
///
/// A nearest-element query meets the elements of a few neighbouring leaves: here their vertex
/// lists and coordinates lie side by side in memory, which saves cache misses on every element
/// measured (see `AABBTree::closest_position_within`).
///
/// The copy has one element per leaf position, empty positions included (their vertex lists
/// name some vertex of the copy; no query measures them): one position in 16 is left empty at
/// a build, so that new elements find room near where they lie. After `update` it may hold
/// points that no element uses any more.
template <typename Mesh>
class POLVANE_MESH_EXPORT LeafOrderedCopy {
public:
    /// The dimension of the mesh's space.
    static constexpr index_t dimension = MeshDimension<Mesh>::value;

    /// The copy of `source` and its tree.
    /// \throw PolvaneException "[Range] Invalid range: ..." when the source has more elements
    /// than `index_t` can number.
    explicit LeafOrderedCopy(const Mesh& source);

    /// Takes over the other copy, which is left without a mesh.
    LeafOrderedCopy(LeafOrderedCopy&& other) noexcept;
    /// Takes over the other copy, which is left without a mesh.
    LeafOrderedCopy& operator=(LeafOrderedCopy&& other) noexcept;
    /// Not copyable: a copy can be large.
    LeafOrderedCopy(const LeafOrderedCopy&) = delete;
    /// Not copyable: a copy can be large.
    LeafOrderedCopy& operator=(const LeafOrderedCopy&) = delete;
    /// Releases the tree, then the mesh copy.
    ~LeafOrderedCopy();

    /// The copy, in leaf order.
    [[nodiscard]] const Mesh& mesh() const { return *mesh_; }

    /// The tree over the copy's elements, naming them by their source indices.
    [[nodiscard]] const AABBTree<dimension>& tree() const { return tree_; }

    /// The number of vertices of the source at the copy's last build or update.
    [[nodiscard]] index_t nb_source_vertices() const {
        return static_cast<index_t>(copy_vertices_.size());
    }

    /// Brings the copy and its tree to the state of `source` after `changes` (see
    /// `MeshChanges`), reading only what changed: the renumbered indices (one pass over them),
    /// the created and modified elements, the moved vertices and the elements around them
    /// (found through the tree at the vertices' old positions). A change of more than a
    /// quarter of the elements, or one that follows as many insertions and deletions as the
    /// copy had elements when it was built, builds the copy again instead, since that is then
    /// cheaper or restores the tree's order. The mesh object that `mesh()` refers to stays the
    /// same.
    ///
    /// Everything it allocates is allocated before anything changes: when it throws, the copy
    /// is exactly as before the call.
    /// \pre `changes` describes `source`'s state from the copy's (the caller checks it).
    void update(const Mesh& source, const MeshChanges& changes);

private:
    // Per copy vertex, from the first update that moves vertices on: how many elements use it,
    // and where they lie in the leaf order, so that a moved vertex's elements are found by
    // scanning a few short stretches of the copy's element array rather than through the
    // tree (measured on 1e6 tetrahedra: 4.7 microseconds for a vertex through the tree, whose
    // lower levels are out of the caches for a random vertex). A vertex's elements lie in a
    // few runs of the leaf order (the curve crosses its neighbourhood a few times): `runs`
    // holds a position in each of up to four of them (NO_ID for none). The count is exact, so
    // a scan knows when it has them all; when it does not (an element laid out elsewhere, or
    // more runs), the tree is asked, and the runs are read off its answer.
    struct VertexElements {
        std::array<index_t, 4> runs{NO_ID, NO_ID, NO_ID, NO_ID};
        std::uint32_t count = 0;
    };

    // A run's elements are looked for from `run_before` positions before its noted position
    // to `run_after` after it (the first of them was noted, and layouts move them a little);
    // an element farther than `run_noted` after a noted position starts a new run.
    static constexpr index_t run_before = 8;
    // One leaf position in this many is left empty at a build (for copies of at least that
    // many elements).
    static constexpr std::size_t empty_share = 16;
    static constexpr index_t run_after = 56;
    static constexpr index_t run_noted = 48;

    void rebuild(const Mesh& source);

    template <typename Storage>
    static std::vector<VertexElements> incidence_of(const Storage& copy,
                                                    const AABBTree<dimension>& tree);

    template <typename Element>
    static void count_element(std::vector<VertexElements>& incidence, const Element& element,
                              index_t position, int change);

    template <typename Storage>
    void incident_positions(const Storage& copy, index_t vertex, VertexElements& entry,
                            std::vector<index_t>& positions) const;

    std::unique_ptr<Mesh> mesh_;
    AABBTree<dimension> tree_;
    // The copy's vertex of each source vertex (NO_ID: none).
    std::vector<index_t> copy_vertices_;
    std::vector<VertexElements> incidence_;
    // From the first update that creates elements on: per copy vertex, the position of an
    // element that used it when last seen (NO_ID: none), where new elements that use it go.
    std::vector<index_t> beside_;
    // Elements inserted and deleted since the last build, and the elements then.
    std::size_t churn_ = 0;
    std::size_t built_elements_ = 0;
};

extern template class LeafOrderedCopy<EdgedCurve<1>>;
extern template class LeafOrderedCopy<TriangulatedSurface<2>>;
extern template class LeafOrderedCopy<TetrahedralSolid<3>>;

}  // namespace orvex
