#pragma once

#include <absl/types/span.h>

#include <array>
#include <vector>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/edged_curve.h"
#include "polvane/mesh/export.h"

namespace orvex {

/// The editor of a curve of dimension D. Provided for D = 1 only.
template <index_t D>
class EdgedCurveBuilder;

/// The only way to change an `EdgedCurve<1>`. It holds a reference to the curve, which must
/// outlive it. Every operation keeps both attribute managers in step and throws
/// `PolvaneException` before changing anything when its arguments are invalid.
template <>
class POLVANE_MESH_EXPORT EdgedCurveBuilder<1> {
public:
    explicit EdgedCurveBuilder(EdgedCurve<1>& curve) : curve_(curve) {}

    index_t create_point(const Point<1>& point);

    /// Appends `count` vertices at the origin and returns the index of the first.
    index_t create_points(index_t count);

    void set_point(index_t vertex, const Point<1>& point);

    /// \throw PolvaneException when a vertex does not exist.
    index_t create_edge(index_t v0, index_t v1);

    /// Appends the edges in order and returns the index of the first.
    index_t create_edges(absl::Span<const std::array<index_t, 2>> edges);

    /// Replaces the vertices of `edge` in place (a local edit: a split keeps the split edge's
    /// index for one of its halves and appends the other). Its attributes stay.
    /// \throw PolvaneException when the edge or a vertex does not exist (nothing changes).
    void set_edge_vertices(index_t edge, const std::array<index_t, 2>& vertices);

    /// Removes the flagged edges, keeping the others in order; returns the old-to-new list.
    std::vector<index_t> delete_edges(const std::vector<bool>& to_delete);

    /// Removes the flagged vertices; returns the old-to-new list.
    /// \throw PolvaneException when a flagged vertex is still used by an edge.
    std::vector<index_t> delete_vertices(const std::vector<bool>& to_delete);

    std::vector<index_t> delete_isolated_vertices();

    /// Afterwards vertex k is the one that was `permutation[k]`.
    void permute_vertices(absl::Span<const index_t> permutation);

    /// Afterwards edge k is the one that was `permutation[k]`.
    void permute_edges(absl::Span<const index_t> permutation);

private:
    EdgedCurve<1>& curve_;
};

}  // namespace orvex
