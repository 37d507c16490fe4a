#pragma once

#include <array>
#include <memory>

#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/segment.h"
#include "polvane/mesh/element_identifiers.h"
#include "polvane/mesh/export.h"

namespace orvex {
namespace detail {
template <index_t D, index_t N>
class SimplexStorage;
class StorageAccess;
}  // namespace detail

/// A curve of edges in dimension D. Provided for D = 1 only.
template <index_t D>
class EdgedCurve;

/// A curve made of edges between points of the line. Vertices and edges are numbered from 0
/// without gaps; an edge has two local vertices, 0 and 1.
///
/// The vertex manager holds one element per vertex and the edge manager one per edge, at
/// every step (creations, deletions, permutations). Changes go through
/// `EdgedCurveBuilder<1>`. Queries do not check their indices; they are safe to call from
/// several threads while nobody changes the curve.
template <>
class POLVANE_MESH_EXPORT EdgedCurve<1> {
public:
    static constexpr index_t dimension = 1;

    EdgedCurve();
    virtual ~EdgedCurve();

    EdgedCurve(const EdgedCurve&) = delete;
    EdgedCurve& operator=(const EdgedCurve&) = delete;
    EdgedCurve(EdgedCurve&& other) noexcept;
    EdgedCurve& operator=(EdgedCurve&& other) noexcept;

    [[nodiscard]] index_t nb_vertices() const;

    [[nodiscard]] const Point<1>& point(index_t vertex) const;

    [[nodiscard]] index_t nb_edges() const;

    [[nodiscard]] index_t edge_vertex(const EdgeVertex& edge_vertex) const;

    /// The two vertices of `edge` in local order, by reference into the storage; valid until
    /// the curve changes.
    [[nodiscard]] const std::array<index_t, 2>& edge_vertices(index_t edge) const;

    /// The edge as a segment referring to the curve's points; valid until the points change.
    [[nodiscard]] Segment<1> segment(index_t edge) const;

    [[nodiscard]] AttributeManager& vertex_attribute_manager();

    [[nodiscard]] const AttributeManager& vertex_attribute_manager() const;

    [[nodiscard]] AttributeManager& edge_attribute_manager();

    [[nodiscard]] const AttributeManager& edge_attribute_manager() const;

    /// An independent copy: same indices, attribute values copied.
    [[nodiscard]] std::unique_ptr<EdgedCurve> clone() const;

private:
    friend class detail::StorageAccess;

    std::unique_ptr<detail::SimplexStorage<1, 2>> impl_;
};

}  // namespace orvex
