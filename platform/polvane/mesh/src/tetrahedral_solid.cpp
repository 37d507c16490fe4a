#include "polvane/mesh/tetrahedral_solid.h"

#include "simplex_storage.h"

namespace orvex {

TetrahedralSolid<3>::TetrahedralSolid() = default;

TetrahedralSolid<3>::~TetrahedralSolid() = default;

TetrahedralSolid<3>::TetrahedralSolid(TetrahedralSolid&& other) noexcept = default;

TetrahedralSolid<3>& TetrahedralSolid<3>::operator=(TetrahedralSolid&& other) noexcept = default;

Tetrahedron TetrahedralSolid<3>::tetrahedron(index_t polyhedron) const {
    const auto& storage = detail::StorageAccess::storage(*this);
    const auto& vertices = storage.element(polyhedron);
    return Tetrahedron{storage.point(vertices[0]), storage.point(vertices[1]),
                       storage.point(vertices[2]), storage.point(vertices[3])};
}

std::unique_ptr<TetrahedralSolid<3>> TetrahedralSolid<3>::clone() const {
    auto result = std::make_unique<TetrahedralSolid>();
    result->copy(*this);
    return result;
}

}  // namespace orvex
