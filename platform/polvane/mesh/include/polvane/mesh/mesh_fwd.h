#pragma once

// The declarations of the three simplicial mesh kinds and their dimensions, for headers that
// only name them; their own headers define them.

#include "polvane/basic/index.h"

namespace orvex {

template <index_t D>
class EdgedCurve;

template <index_t D>
class TriangulatedSurface;

template <index_t D>
class TetrahedralSolid;

/// The dimension D of a simplicial mesh kind (of its space and of its elements), defined for
/// `EdgedCurve<D>`, `TriangulatedSurface<D>` and `TetrahedralSolid<D>`.
template <typename Mesh>
struct MeshDimension;

template <index_t D>
struct MeshDimension<EdgedCurve<D>> {
    static constexpr index_t value = D;
};

template <index_t D>
struct MeshDimension<TriangulatedSurface<D>> {
    static constexpr index_t value = D;
};

template <index_t D>
struct MeshDimension<TetrahedralSolid<D>> {
    static constexpr index_t value = D;
};

}  // namespace orvex
