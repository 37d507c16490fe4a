#pragma once

// Brute-force references for the mesh tests: adjacencies found by comparing every facet with
// every other, and the set of unique edges read off the elements; and `Topology`, the mesh
// vocabulary of `MeshTraits` with the few things only the tests need, so that a test written
// once runs on surfaces and solids.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <numeric>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <vector>

#include "orvex_testing/mesh_generators.h"
#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/basic/variable_attribute.h"
#include "polvane/geometry/orientation.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex {

// Failing tests print identifiers as "p3 e1" rather than as raw bytes.
inline void PrintTo(const PolygonEdge& value, std::ostream* out) {
    *out << value.string();
}

inline void PrintTo(const PolyhedronFacet& value, std::ostream* out) {
    *out << value.string();
}

inline void PrintTo(const PolyhedronFacetEdge& value, std::ostream* out) {
    *out << value.string();
}

}  // namespace orvex

namespace orvex::test {

/// The pairs (i, j), i < j, of N local vertices: the local edges of a simplex of N vertices.
template <index_t N>
constexpr std::array<std::array<local_index_t, 2>, N*(N - 1) / 2> local_vertex_pairs() {
    std::array<std::array<local_index_t, 2>, N*(N - 1) / 2> pairs{};
    std::size_t k = 0;
    for (local_index_t i = 0; i < N; ++i) {
        for (local_index_t j = i + 1; j < N; ++j) {
            pairs[k++] = {i, j};
        }
    }
    return pairs;
}

/// The vocabulary of `MeshTraits` for surfaces and solids, with what the mesh tests add: the
/// local edges of an element, `grid(n)`, the jittered grid of n cells per side of
/// mesh_generators.h, and `small_grid`, the cells per side that make about a hundred elements
/// (98 triangles, 162 tetrahedra: few enough for the brute-force checks).
template <typename Mesh>
struct Topology : MeshTraits<Mesh> {
    static constexpr index_t small_grid = MeshTraits<Mesh>::dimension == 2 ? 7 : 3;
    static constexpr auto edges = local_vertex_pairs<MeshTraits<Mesh>::nb_element_vertices>();

    static Mesh grid(index_t n, bool adjacencies = true) {
        return jittered_grid<Mesh>(n, 0.1, adjacencies);
    }

    static std::vector<index_t> sorted_facet(const Mesh& mesh, index_t e, local_index_t f) {
        const auto vertices = MeshTraits<Mesh>::facet_vertices(mesh, e, f);
        std::vector<index_t> result(vertices.begin(), vertices.end());
        std::sort(result.begin(), result.end());
        return result;
    }
};

/// Gives every element of the manager an attribute "original" holding its own index, to follow
/// the elements through edits.
inline std::shared_ptr<VariableAttribute<index_t>> tag_with_indices(AttributeManager& manager) {
    auto attribute =
        manager.find_or_create_attribute<VariableAttribute, index_t>("original", NO_ID, {});
    for (index_t i = 0; i < manager.nb_elements(); ++i) {
        attribute->set_value(i, i);
    }
    return attribute;
}

/// Checks every stored adjacency against a search of all facets of all other elements
/// (meshes whose facets are shared by at most two elements).
template <typename Mesh>
void expect_brute_force_adjacencies(const Mesh& mesh) {
    using T = Topology<Mesh>;
    const index_t n = T::nb_elements(mesh);
    std::vector<std::vector<index_t>> facets;
    for (index_t e = 0; e < n; ++e) {
        for (local_index_t f = 0; f < T::nb_facets; ++f) {
            facets.push_back(T::sorted_facet(mesh, e, f));
        }
    }
    for (index_t e = 0; e < n; ++e) {
        for (local_index_t f = 0; f < T::nb_facets; ++f) {
            const auto& facet = facets[e * T::nb_facets + f];
            std::optional<index_t> expected;
            for (index_t other = 0; other < n && !expected; ++other) {
                for (local_index_t g = 0; g < T::nb_facets && other != e; ++g) {
                    if (facets[other * T::nb_facets + g] == facet) {
                        expected = other;
                    }
                }
            }
            ASSERT_EQ(T::adjacent(mesh, e, f), expected) << "element " << e << " facet " << +f;
        }
    }
}

/// Checks that the mesh's edges are exactly the edges of its elements, each once, and that
/// `edge_from_vertices` finds them.
template <typename Mesh>
void expect_edges_match_elements(const Mesh& mesh) {
    using T = Topology<Mesh>;
    std::set<std::array<index_t, 2>> from_elements;
    for (index_t e = 0; e < T::nb_elements(mesh); ++e) {
        const auto& vertices = T::element_vertices(mesh, e);
        for (const auto& local : T::edges) {
            const index_t a = vertices[local[0]];
            const index_t b = vertices[local[1]];
            from_elements.insert({std::min(a, b), std::max(a, b)});
            ASSERT_TRUE(mesh.edges().edge_from_vertices(b, a).has_value());
        }
    }
    const MeshEdges& edges = mesh.edges();
    ASSERT_EQ(edges.nb_edges(), from_elements.size());
    ASSERT_EQ(edges.edge_attribute_manager().nb_elements(), edges.nb_edges());
    std::set<std::array<index_t, 2>> stored;
    for (index_t edge = 0; edge < edges.nb_edges(); ++edge) {
        const auto& vertices = edges.edge_vertices(edge);
        stored.insert({std::min(vertices[0], vertices[1]), std::max(vertices[0], vertices[1])});
        ASSERT_EQ(edges.edge_from_vertices(vertices), edge);
    }
    EXPECT_EQ(stored, from_elements);
}

inline std::vector<index_t> random_permutation(index_t size, std::mt19937_64& random) {
    std::vector<index_t> permutation(size);
    std::iota(permutation.begin(), permutation.end(), 0);
    std::shuffle(permutation.begin(), permutation.end(), random);
    return permutation;
}

inline std::vector<bool> random_flags(index_t size, double probability, std::mt19937_64& random) {
    std::bernoulli_distribution flag{probability};
    std::vector<bool> flags(size);
    for (index_t i = 0; i < size; ++i) {
        flags[i] = flag(random);
    }
    return flags;
}

}  // namespace orvex::test
