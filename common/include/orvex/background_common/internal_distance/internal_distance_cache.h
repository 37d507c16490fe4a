#pragma once

#include <memory>

#include "orvex/background_common/export.h"
#include "polvane/geometry/tetrahedron.h"
#include "polvane/geometry/triangle.h"

/// Per-object memories of internal distances, so that each distinct element is measured once.
///
/// Both classes key their memory on the element's point coordinates, whatever the order of its
/// vertices: the same element met with its vertices permuted, or with the opposite orientation,
/// finds the same entry; an element whose points moved (a mirror image included) is a new one.
/// Keys match when they hold the same points with the same multiplicities, so a collapsed
/// element such as (A, A, A) never answers for a valid one. A lookup reads the points in place;
/// they are copied only when an entry is inserted.
///
/// Entries are never updated or removed: the memory grows by one entry per distinct element
/// until the object is destroyed. Elements with a NaN or infinite coordinate are measured on
/// every call and never remembered. Entries do not depend on mesh indices, so renumbering a mesh
/// leaves them valid.
///
/// A hit costs a hash of the points and one probe of the table. While the memory fits in the
/// processor's caches (some thousands of elements), a tetrahedron hit is about three times
/// faster than measuring the tetrahedron afresh; a memory of 1e5 elements or more answers each
/// hit from main memory, more slowly than measuring the element afresh.
///
/// Not thread-safe: every call may insert. Separate objects are independent. Neither class can
/// be copied or moved. Nothing here throws on its own, beyond `std::bad_alloc` when the memory
/// grows.
namespace orvex {
namespace internal {

/// Remembers the internal distance of triangles of the plane.
class ORVEX_BACKGROUND_COMMON_EXPORT ThreePointsInternalDistance {
public:
    ThreePointsInternalDistance();
    ~ThreePointsInternalDistance();

    ThreePointsInternalDistance(const ThreePointsInternalDistance&) = delete;
    ThreePointsInternalDistance& operator=(const ThreePointsInternalDistance&) = delete;
    ThreePointsInternalDistance(ThreePointsInternalDistance&&) = delete;
    ThreePointsInternalDistance& operator=(ThreePointsInternalDistance&&) = delete;

    /// The `distance` of `minimal_triangle_internal_distance(triangle)`: remembered when the
    /// triangle was met before, otherwise computed and remembered. The largest finite double
    /// when no distance is a number.
    [[nodiscard]] double smallest_internal_distance(const Triangle<2>& triangle);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

/// Remembers the internal distance of tetrahedra.
class ORVEX_BACKGROUND_COMMON_EXPORT FourPointsInternalDistance {
public:
    FourPointsInternalDistance();
    ~FourPointsInternalDistance();

    FourPointsInternalDistance(const FourPointsInternalDistance&) = delete;
    FourPointsInternalDistance& operator=(const FourPointsInternalDistance&) = delete;
    FourPointsInternalDistance(FourPointsInternalDistance&&) = delete;
    FourPointsInternalDistance& operator=(FourPointsInternalDistance&&) = delete;

    /// The `distance` of `minimal_tetrahedron_internal_distance(tetrahedron)`: remembered when
    /// the tetrahedron was met before, otherwise computed and remembered.
    [[nodiscard]] double smallest_internal_distance(const Tetrahedron& tetrahedron);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace internal
}  // namespace orvex
