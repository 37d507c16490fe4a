#pragma once

#include <memory>

#include "polvane/basic/index.h"
#include "polvane/geometry/triangle.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/surface_mesh.h"

namespace orvex {

/// A triangulated surface of dimension D. Provided for D = 2 only.
template <index_t D>
class TriangulatedSurface;

/// A surface of triangles of the plane (see `SurfaceMesh<2>` for the contract).
template <>
class POLVANE_MESH_EXPORT TriangulatedSurface<2> : public SurfaceMesh<2> {
public:
    TriangulatedSurface();
    ~TriangulatedSurface() override;

    TriangulatedSurface(TriangulatedSurface&& other) noexcept;
    TriangulatedSurface& operator=(TriangulatedSurface&& other) noexcept;

    /// The triangle `polygon`, referring to the mesh's points in local vertex order; valid
    /// until the mesh's points change.
    [[nodiscard]] Triangle<2> triangle(index_t polygon) const;

    /// An independent copy: same indices, adjacencies and edges, attribute values copied.
    /// A class derived from this one gets a `TriangulatedSurface<2>` copy of its surface part.
    [[nodiscard]] std::unique_ptr<TriangulatedSurface> clone() const;
};

}  // namespace orvex
