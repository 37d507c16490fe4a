#pragma once

#include <memory>
#include <optional>

#include "orvex/background_common/export.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"

namespace orvex {

template <index_t D>
class EdgedCurve;
template <index_t D>
class TriangulatedSurface;
template <index_t D>
class TetrahedralSolid;

namespace internal {
namespace element_search_internal {

template <typename Mesh>
struct MeshDimension;

template <>
struct MeshDimension<EdgedCurve<1>> {
    static constexpr index_t value = 1;
};

template <>
struct MeshDimension<TriangulatedSurface<2>> {
    static constexpr index_t value = 2;
};

template <>
struct MeshDimension<TetrahedralSolid<3>> {
    static constexpr index_t value = 3;
};

}  // namespace element_search_internal

/// Finds which element of a mesh contains a point, up to an absolute tolerance of 1e-6 (in the
/// mesh's units of length). Provided for `EdgedCurve<1>`, `TriangulatedSurface<2>` and
/// `TetrahedralSolid<3>`.
///
/// It works on a snapshot: `reinitialize_elements_tree` takes a private copy of the mesh and
/// builds a bounding-box tree over the copy's elements, so later edits or the destruction of
/// the caller's mesh change no answer until the next rebuild. Answers are element indices of
/// the mesh as it was at the last rebuild.
///
/// Thread safety: queries are const, take no lock and allocate nothing on the heap, so many
/// threads may query one search at once; a rebuild, a move or the destructor needs exclusive
/// access.
template <typename Mesh>
class ORVEX_BACKGROUND_COMMON_EXPORT ElementSearch {
public:
    /// The dimension of the mesh's points (2 or 3), as the queries take them.
    static constexpr index_t dimension = element_search_internal::MeshDimension<Mesh>::value;

    /// A search with no snapshot: every query answers an empty optional until the first
    /// rebuild.
    ElementSearch();

    /// Releases the tree, then the mesh copy.
    ~ElementSearch();

    ElementSearch(const ElementSearch&) = delete;
    ElementSearch& operator=(const ElementSearch&) = delete;

    /// Takes a new snapshot of `mesh` (a full copy) and builds a new tree over it. The new
    /// snapshot is complete before the previous one is released: if copying or building throws,
    /// the search keeps answering from its previous snapshot.
    void reinitialize_elements_tree(const Mesh& mesh);

    /// The element nearest to `point`, if it lies within 1e-6 of it (bound included):
    /// - a snapshot without elements answers `NO_ID` (4294967295) in the optional;
    /// - an empty optional when no element lies within 1e-6, when the point or the elements
    ///   near it have a NaN coordinate (a NaN distance counts as farther than any number), and
    ///   on a search never rebuilt or moved from;
    /// - on a tie (a point on a face shared by several elements) the seed of the greedy descent
    ///   if it is among them, else the first of them met by the depth-first search.
    [[nodiscard]] std::optional<index_t> initial_containing_element(
        const Point<dimension>& point) const;

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
