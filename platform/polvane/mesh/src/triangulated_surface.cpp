#include "polvane/mesh/triangulated_surface.h"

#include "simplex_storage.h"

namespace orvex {

TriangulatedSurface<2>::TriangulatedSurface() = default;

TriangulatedSurface<2>::~TriangulatedSurface() = default;

TriangulatedSurface<2>::TriangulatedSurface(TriangulatedSurface&& other) noexcept = default;

TriangulatedSurface<2>& TriangulatedSurface<2>::operator=(TriangulatedSurface&& other) noexcept =
    default;

Triangle<2> TriangulatedSurface<2>::triangle(index_t polygon) const {
    const auto& storage = detail::StorageAccess::storage(*this);
    const auto& vertices = storage.element(polygon);
    return Triangle<2>{storage.point(vertices[0]), storage.point(vertices[1]),
                       storage.point(vertices[2])};
}

std::unique_ptr<TriangulatedSurface<2>> TriangulatedSurface<2>::clone() const {
    auto result = std::make_unique<TriangulatedSurface>();
    result->copy(*this);
    return result;
}

}  // namespace orvex
