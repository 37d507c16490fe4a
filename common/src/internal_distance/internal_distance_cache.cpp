#include "orvex/background_common/internal_distance/internal_distance_cache.h"

#include "internal_distance/points_key.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"

namespace orvex {
namespace internal {

class ThreePointsInternalDistance::Impl : public detail::DistanceMemory<2, 3> {};

class FourPointsInternalDistance::Impl : public detail::DistanceMemory<3, 4> {};

ThreePointsInternalDistance::ThreePointsInternalDistance() : impl_(std::make_unique<Impl>()) {}

ThreePointsInternalDistance::~ThreePointsInternalDistance() = default;

double ThreePointsInternalDistance::smallest_internal_distance(const Triangle<2>& triangle) {
    const auto& points = triangle.vertices();
    const detail::PointsKeyView<2, 3> element{
        {&points[0].get(), &points[1].get(), &points[2].get()}};
    return impl_->find_or_compute(
        element, [&triangle] { return minimal_triangle_internal_distance(triangle).distance; });
}

FourPointsInternalDistance::FourPointsInternalDistance() : impl_(std::make_unique<Impl>()) {}

FourPointsInternalDistance::~FourPointsInternalDistance() = default;

double FourPointsInternalDistance::smallest_internal_distance(const Tetrahedron& tetrahedron) {
    const auto& points = tetrahedron.vertices();
    const detail::PointsKeyView<3, 4> element{
        {&points[0].get(), &points[1].get(), &points[2].get(), &points[3].get()}};
    return impl_->find_or_compute(element, [&tetrahedron] {
        return minimal_tetrahedron_internal_distance(tetrahedron).distance;
    });
}

}  // namespace internal
}  // namespace orvex
