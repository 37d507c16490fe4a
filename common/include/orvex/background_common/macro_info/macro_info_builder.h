#pragma once

#include <absl/types/span.h>

#include <memory>

#include "orvex/background_common/export.h"
#include "polvane/basic/index.h"
#include "polvane/basic/mapping.h"
#include "polvane/basic/mesh_element.h"
#include "polvane/basic/uuid.h"

namespace orvex {
namespace internal {

class MacroInfo;

/// The only editor of a `MacroInfo` store: records and forgets macro vertices and macro
/// elements, marks components as mandatory, and carries recorded entries over from old to new
/// indices after the background mesh was modified.
///
/// Adds never make duplicates; removing an absent entry does nothing. In the renumbering
/// records the new index's list receives entries and the old indices' lists are only read: they
/// keep their entries until the mesh deletes the old elements. `NO_ID` as an old index means "no
/// old index". Plural operations apply their records one after the other on the live tables.
///
/// Derived builders may override `update_vertex`; `update_vertices` calls it through the
/// virtual table.
///
/// Not checked: indices, of mappings too. No operation reports an error.
///
/// Thread safety: none; one builder edits one store from one thread at a time. The store must
/// outlive the builder.
class ORVEX_BACKGROUND_COMMON_EXPORT MacroInfoBuilder {
public:
    MacroInfoBuilder(const MacroInfoBuilder&) = delete;
    MacroInfoBuilder& operator=(const MacroInfoBuilder&) = delete;
    MacroInfoBuilder& operator=(MacroInfoBuilder&&) = delete;

    /// Takes the other builder's store; the other is left with none (destroy it only).
    MacroInfoBuilder(MacroInfoBuilder&& other) noexcept;

    virtual ~MacroInfoBuilder();

    /// Adds `macro_vertex` to the list of `vertex` unless it is there already.
    void add_macro_vertex_info(const MeshVertex& macro_vertex, index_t vertex);

    /// Removes `macro_vertex` from the list of `vertex`.
    void remove_macro_vertex_info(const MeshVertex& macro_vertex, index_t vertex);

    /// Adds `macro_element` to the list of `element` unless it is there already.
    void add_macro_element_info(const MeshElement& macro_element, index_t element);

    /// Removes `macro_element` from the list of `element`.
    void remove_macro_element_info(const MeshElement& macro_element, index_t element);

    /// Marks `component` as mandatory in the store.
    void set_macro_info_mandatory(const uuid& component);

    /// Adds the entries of each old vertex in order (skipping `NO_ID` old indices and going on
    /// with the next) to the list of the new vertex. An old index equal to the new one adds
    /// nothing.
    virtual void update_vertex(const MultiMapping<index_t>& mapping);

    /// Calls `update_vertex` (the most derived override) for each mapping in order.
    void update_vertices(absl::Span<const MultiMapping<index_t>> mappings);

    /// Unless the old index is `NO_ID` or equals the new index: adds the entries of the old
    /// element in order to the list of the new element.
    void update_element(const Mapping<index_t>& mapping);

    /// Each mapping in order, as `update_element` (no virtual call).
    void update_elements(absl::Span<const Mapping<index_t>> mappings);

protected:
    /// An editor of `macro_info`, which must outlive it.
    explicit MacroInfoBuilder(MacroInfo& macro_info);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace internal
}  // namespace orvex
