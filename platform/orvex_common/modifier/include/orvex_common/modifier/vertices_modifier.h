#pragma once

#include <absl/types/span.h>

#include <memory>
#include <optional>

#include "orvex_common/modifier/export.h"
#include "polvane/basic/index.h"

namespace orvex {

/// Tells where each vertex of a mesh went while the mesh's vertices are merged, deleted and
/// renumbered.
///
/// The *initial* vertices are the `nb_vertices` vertices given at construction; the *current*
/// vertices are those of the caller's mesh now, numbered as the mesh numbers them. Each
/// initial vertex resolves to one current vertex or to none (deleted). The caller reports
/// every change of its mesh, in current indices:
/// - `merge(from, into)`: the mesh replaced vertex `from` by `into`. Every initial vertex that
///   resolved to `from` now resolves to `into`, and to whatever `into` becomes later. Chains of
///   merges resolve transitively. Vertex `from` stays a current vertex (the mesh may keep it,
///   isolated, until it compacts), but no initial vertex resolves to it any more.
/// - `delete_vertex(v)`: every initial vertex that resolved to `v` is deleted. Deletion is
///   final: merging a deleted vertex elsewhere changes nothing, and merging a vertex *into* a
///   deleted one deletes what resolved to it.
/// - `add_vertices(count)`: the mesh appended `count` vertices (no initial vertex resolves to
///   them; they may take part in merges).
/// - `apply_renumbering(old2new)`: the mesh renumbered its vertices, for instance when it
///   compacted them; `NO_ID` drops a vertex, which deletes what resolved to it.
///
/// Union-find over the initial and the added vertices (union by size, paths flattened at each
/// renumbering): merges and deletions take constant time, a renumbering linear time, and a
/// query the length of a path, which is one step after a renumbering.
///
/// Queries are const and safe from several threads while nobody changes the modifier. Not
/// copyable; movable.
class ORVEX_COMMON_MODIFIER_EXPORT VerticesModifier {
public:
    /// A modifier for a mesh of `nb_vertices` vertices, each resolving to itself.
    explicit VerticesModifier(index_t nb_vertices);

    ~VerticesModifier();

    VerticesModifier(const VerticesModifier&) = delete;
    VerticesModifier& operator=(const VerticesModifier&) = delete;
    VerticesModifier(VerticesModifier&& other) noexcept;
    VerticesModifier& operator=(VerticesModifier&& other) noexcept;

    /// The number of current vertices of the caller's mesh.
    [[nodiscard]] index_t nb_vertices() const;

    /// The number of initial vertices (given at construction).
    [[nodiscard]] index_t nb_initial_vertices() const;

    /// The current index of initial vertex `vertex`, or empty when it was deleted. Indices that
    /// are not initial vertices (`NO_ID` included) give an empty result too.
    [[nodiscard]] std::optional<index_t> updated_vertex(index_t vertex) const;

    /// Records that current vertex `from` was replaced by current vertex `into`; nothing
    /// happens when they are equal.
    /// \throw PolvaneException when either index is not below `nb_vertices()`.
    void merge(index_t from, index_t into);

    /// Records that current vertex `vertex` was deleted.
    /// \throw PolvaneException when `vertex` is not below `nb_vertices()`.
    void delete_vertex(index_t vertex);

    /// Records that the mesh appended `count` vertices.
    /// \throw PolvaneException when the count of vertices would not fit in `index_t`.
    void add_vertices(index_t count);

    /// Records that current vertex i became vertex old2new[i] (`NO_ID`: removed). The new
    /// number of current vertices is the largest new index plus one (0 when all are removed).
    /// \throw PolvaneException, before any change, when `old2new` has not one entry per
    /// current vertex or gives one new index twice.
    void apply_renumbering(absl::Span<const index_t> old2new);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvex
