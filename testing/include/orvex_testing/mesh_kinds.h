#pragma once

// The three simplicial mesh kinds as GoogleTest type lists, for tests written once for all
// three: TYPED_TEST_SUITE(Suite, test::MeshKinds, test::MeshKindNames).

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "orvex_testing/mesh_generators.h"
#include "orvex_testing/random_points.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/mesh_traits.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"

namespace orvex::test {

/// Curves, surfaces and solids.
using MeshKinds = testing::Types<EdgedCurve<1>, TriangulatedSurface<2>, TetrahedralSolid<3>>;

/// Names the typed tests by mesh kind (and gives the macro its optional argument, which clang
/// requires under -Wpedantic).
struct MeshKindNames {
    template <typename Mesh>
    static std::string GetName(int /*index*/) {
        if constexpr (std::is_same_v<Mesh, EdgedCurve<1>>) {
            return "Curve";
        } else if constexpr (std::is_same_v<Mesh, TriangulatedSurface<2>>) {
            return "Surface";
        } else {
            return "Solid";
        }
    }
};

/// The base of a typed test over `MeshKinds`: the mesh kind's vocabulary, a grid of a few
/// hundred elements, and random points.
template <typename Mesh>
class MeshKindTest : public testing::Test {
public:
    using Traits = MeshTraits<Mesh>;
    static constexpr index_t D = Traits::dimension;

    /// The jittered grid of 300 edges, 288 triangles or 384 tetrahedra.
    static Mesh grid() { return jittered_grid<Mesh>(D == 1 ? 300 : D == 2 ? 12 : 4); }

    /// A random point of [low, high)^D.
    template <typename Random>
    static Point<D> random_point(Random& random, double low, double high) {
        return test::random_point<D>(random, low, high);
    }
};

}  // namespace orvex::test
