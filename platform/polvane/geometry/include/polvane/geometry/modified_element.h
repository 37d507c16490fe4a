#pragma once

#include <utility>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"

namespace orvex {

/// An element of a mesh after a tentative move of its vertices: the moved element, owned by
/// value, and the index of the element in its mesh (`NO_ID` when it has none).
///
/// Design: the moved points belong to no mesh yet, so the object owns them
/// (`OwnerTriangle<D>`); `element()` hands out the referring `Triangle<D>` that the
/// geometric functions take, built on demand over the owned points. That view is valid while
/// this object lives and is not moved or assigned to; the object itself copies and moves
/// freely, since no stored reference points into it.
template <index_t D>
class ModifiedTriangle {
public:
    ModifiedTriangle(index_t element_index, OwnerTriangle<D> moved_triangle)
        : triangle_(std::move(moved_triangle)), element_index_(element_index) {}

    /// The moved triangle, referring to the points held here.
    [[nodiscard]] Triangle<D> element() const { return Triangle<D>{triangle_}; }

    [[nodiscard]] const OwnerTriangle<D>& owned_element() const { return triangle_; }

    /// The index of the element in its mesh, `NO_ID` when it has none.
    [[nodiscard]] index_t element_index() const { return element_index_; }

private:
    OwnerTriangle<D> triangle_;
    index_t element_index_;
};

/// The tetrahedral twin of `ModifiedTriangle`, with the same design.
class ModifiedTetrahedron {
public:
    ModifiedTetrahedron(index_t element_index, OwnerTetrahedron moved_tetrahedron)
        : tetrahedron_(std::move(moved_tetrahedron)), element_index_(element_index) {}

    /// The moved tetrahedron, referring to the points held here.
    [[nodiscard]] Tetrahedron element() const { return Tetrahedron{tetrahedron_}; }

    [[nodiscard]] const OwnerTetrahedron& owned_element() const { return tetrahedron_; }

    /// The index of the element in its mesh, `NO_ID` when it has none.
    [[nodiscard]] index_t element_index() const { return element_index_; }

private:
    OwnerTetrahedron tetrahedron_;
    index_t element_index_;
};

}  // namespace orvex
