#pragma once

#include <memory>

#include "polvane/basic/index.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/mesh/export.h"
#include "polvane/mesh/solid_mesh.h"

namespace orvex {

/// A tetrahedral solid of dimension D. Provided for D = 3 only.
template <index_t D>
class TetrahedralSolid;

/// A solid of tetrahedra (see `SolidMesh<3>` for the contract).
template <>
class POLVANE_MESH_EXPORT TetrahedralSolid<3> : public SolidMesh<3> {
public:
    TetrahedralSolid();
    ~TetrahedralSolid() override;

    TetrahedralSolid(TetrahedralSolid&& other) noexcept;
    TetrahedralSolid& operator=(TetrahedralSolid&& other) noexcept;

    /// The tetrahedron `polyhedron`, referring to the mesh's points in local vertex order;
    /// valid until the mesh's points change.
    [[nodiscard]] Tetrahedron tetrahedron(index_t polyhedron) const;

    /// An independent copy: same indices, adjacencies and edges, attribute values copied.
    /// A class derived from this one gets a `TetrahedralSolid<3>` copy of its solid part.
    [[nodiscard]] std::unique_ptr<TetrahedralSolid> clone() const;
};

}  // namespace orvex
