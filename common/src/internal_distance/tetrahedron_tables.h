#pragma once

#include <array>
#include <cstddef>

// The fixed local tables of a tetrahedron, in the order in which configurations are examined
// and reported.
namespace orvex::internal::detail {

using LocalPair = std::array<unsigned char, 2>;

/// Vertex pairs, which are also the edges: (0, 1), (0, 2), (0, 3), (1, 2), (1, 3), (2, 3).
inline constexpr std::array<LocalPair, 6> kVertexPairs{
    {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}};

/// The two vertices off each edge of kVertexPairs, in increasing order: entry 2 k + i of the
/// edge-and-vertex table is edge k with the i-th of them.
inline constexpr std::array<LocalPair, 6> kVerticesOffEdge{
    {{2, 3}, {1, 3}, {1, 2}, {0, 3}, {0, 2}, {0, 1}}};

/// The facet opposite each vertex, in the order its points are handed to the triangle distance.
inline constexpr std::array<std::array<unsigned char, 3>, 4> kFacetOfVertex{
    {{1, 2, 3}, {2, 3, 0}, {3, 0, 1}, {0, 1, 2}}};

/// Opposite edges, as indices into kVertexPairs: (0, 1) with (2, 3), (0, 2) with (1, 3), (0, 3)
/// with (1, 2).
inline constexpr std::array<std::array<std::size_t, 2>, 3> kOppositeEdges{{{0, 5}, {1, 4}, {2, 3}}};

}  // namespace orvex::internal::detail
