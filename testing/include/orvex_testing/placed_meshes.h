#pragma once

// Meshes placed where real coordinates put them: far from the origin (geo-referenced meshes
// sit at eastings near 5e5 and northings up to 1e7 metres), at extreme scales, and with a
// few far-away stray elements in a shuffled element order, as files from other programs
// come. The bounding-box tree must keep its resolution on all of them.

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex::test {

/// A copy of the points and elements of `mesh` with every coordinate x replaced by
/// x * scale + offset (on every axis).
template <typename Mesh>
Mesh placed(const Mesh& mesh, double scale, double offset) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    Mesh result;
    typename Traits::Builder builder{result};
    builder.create_points(mesh.nb_vertices());
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        Point<D> point;
        for (index_t axis = 0; axis < D; ++axis) {
            point.set_value(axis, mesh.point(v).value(axis) * scale + offset);
        }
        builder.set_point(v, point);
    }
    std::vector<std::array<index_t, D + 1>> elements(Traits::nb_elements(mesh));
    for (index_t e = 0; e < elements.size(); ++e) {
        elements[e] = Traits::element_vertices(mesh, e);
    }
    Traits::create_elements(builder, elements);
    return result;
}

/// The far scales of the stray elements of `with_strays`.
inline constexpr std::array<double, 4> stray_scales{1e4, 1e8, 1e12, 1e16};

/// A copy of the points and elements of `mesh` plus 4 stray elements of size 0.01, one at
/// each of the nested far positions (s, ..., s) of `stray_scales`, with all the elements in
/// a random order (seeded with `seed`).
template <typename Mesh>
Mesh with_strays(const Mesh& mesh, std::uint64_t seed) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t D = Traits::dimension;
    Mesh result;
    typename Traits::Builder builder{result};
    builder.create_points(mesh.nb_vertices());
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        builder.set_point(v, mesh.point(v));
    }
    std::vector<std::array<index_t, D + 1>> elements(Traits::nb_elements(mesh));
    for (index_t e = 0; e < elements.size(); ++e) {
        elements[e] = Traits::element_vertices(mesh, e);
    }
    for (const double scale : stray_scales) {
        std::array<index_t, D + 1> stray{};
        for (index_t corner = 0; corner <= D; ++corner) {
            Point<D> point;
            for (index_t axis = 0; axis < D; ++axis) {
                point.set_value(axis, scale + (corner == axis + 1 ? 0.01 : 0.0));
            }
            stray[corner] = builder.create_point(point);
        }
        elements.push_back(stray);
    }
    std::mt19937_64 random{seed};
    std::shuffle(elements.begin(), elements.end(), random);
    Traits::create_elements(builder, elements);
    return result;
}

}  // namespace orvex::test
