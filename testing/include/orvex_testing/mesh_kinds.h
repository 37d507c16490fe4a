#pragma once

// The three simplicial mesh kinds as GoogleTest type lists, for tests written once for all
// three: TYPED_TEST_SUITE(Suite, test::MeshKinds, test::MeshKindNames).

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "polvane/mesh/edged_curve.h"
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

}  // namespace orvex::test
