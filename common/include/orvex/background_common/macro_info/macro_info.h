#pragma once

#include <memory>
#include <vector>

#include "orvex/background_common/export.h"
#include "polvane/basic/index.h"
#include "polvane/basic/mesh_element.h"
#include "polvane/basic/pass_key.h"
#include "polvane/basic/uuid.h"

namespace orvex {
class AttributeManager;

namespace internal {

class MacroInfoBuilder;

/// Records, on a background mesh, which macro vertices each background vertex carries and which
/// macro elements each background element belongs to, and keeps the set of macro-model
/// components marked as mandatory.
///
/// The two tables are attributes: "orvex macro vertex" (`std::vector<MeshVertex>`) on the
/// mesh's vertex attribute manager and "orvex macro element" (`std::vector<MeshElement>`) on its
/// element attribute manager, so that the managers carry them through every modification of
/// the mesh. Lists hold no entry twice and keep the order of first addition; a removal keeps the
/// order of the others.
///
/// The mandatory set belongs to the store alone: it only grows, does not travel with the mesh's
/// attributes, and moves with the store. It is usable from construction on, also before
/// initialisation and after cleaning (not after a move out of the store).
///
/// A background-mesh class derives from `MacroInfo` and calls `initialize_macro_info_data_base`
/// with its managers. Only `MacroInfoBuilder` can change the store: the modifying operations
/// take a `PassKey<MacroInfoBuilder>`.
///
/// Not checked: indices (below the size of the vertex or element attribute); use of the tables
/// before initialisation or after a move.
///
/// Thread safety: initialisation takes each manager's lock while it finds or creates the
/// attribute. Queries, edits and the mandatory set take no lock: the caller serialises the
/// changes of one mesh.
class ORVEX_BACKGROUND_COMMON_EXPORT MacroInfo {
public:
    MacroInfo(const MacroInfo&) = delete;
    MacroInfo& operator=(const MacroInfo&) = delete;

    /// Releases the store's references; the attributes stay in the managers unless
    /// `clean_macro_info_data_base` removed them.
    ~MacroInfo();

    /// The macro vertices carried by background vertex `vertex`. The reference stays valid until
    /// that list is edited or the mesh resizes, permutes or compacts its vertices.
    [[nodiscard]] const std::vector<MeshVertex>& macro_vertices(index_t vertex) const;

    /// The macro elements that background element `element` belongs to; validity as above.
    [[nodiscard]] const std::vector<MeshElement>& macro_elements(index_t element) const;

    /// Adds `macro_vertex` to the list of `vertex` unless it is there already.
    void add_macro_vertex_to_background_mesh_vertex(const MeshVertex& macro_vertex, index_t vertex,
                                                    PassKey<MacroInfoBuilder> key);

    /// Removes `macro_vertex` from the list of `vertex`; an absent entry changes nothing.
    void remove_macro_vertex_from_background_mesh_vertex(const MeshVertex& macro_vertex,
                                                         index_t vertex,
                                                         PassKey<MacroInfoBuilder> key);

    /// Adds `macro_element` to the list of `element` unless it is there already.
    void add_macro_element_to_background_mesh_element(const MeshElement& macro_element,
                                                      index_t element,
                                                      PassKey<MacroInfoBuilder> key);

    /// Removes `macro_element` from the list of `element`; an absent entry changes nothing.
    void remove_macro_element_from_background_mesh_element(const MeshElement& macro_element,
                                                           index_t element,
                                                           PassKey<MacroInfoBuilder> key);

    /// Whether `component` was marked as mandatory.
    [[nodiscard]] bool is_macro_info_mandatory(const uuid& component) const;

    /// Marks `component` as mandatory; marking it again changes nothing.
    void set_macro_info_mandatory(const uuid& component, PassKey<MacroInfoBuilder> key);

protected:
    /// A store with no table and an empty mandatory set.
    MacroInfo();

    /// Takes the other store's tables and mandatory set; the other is left with none (destroy
    /// it or move into it).
    MacroInfo(MacroInfo&& other) noexcept;
    /// Takes the other store's tables and mandatory set; the other is left with none.
    MacroInfo& operator=(MacroInfo&& other) noexcept;

    /// Finds or creates "orvex macro vertex" on `vertex_manager` (properties: not assignable,
    /// not interpolable, transferable), then "orvex macro element" on `element_manager`
    /// (assignable, not interpolable, transferable), both with empty lists by default, and
    /// keeps both. Attributes already there with these value types are adopted with their
    /// contents. The mandatory set is untouched.
    /// \throw PolvaneException (the manager's find-or-create refusal) when a manager holds the
    /// name with another value type. If the element manager refuses, the vertex table is
    /// already the new one.
    void initialize_macro_info_data_base(AttributeManager& vertex_manager,
                                         AttributeManager& element_manager);

    /// Deletes "orvex macro vertex" from `vertex_manager`, then "orvex macro element" from
    /// `element_manager`, whether they hold them or not. The store keeps its references and its
    /// mandatory set: its lists remain readable and editable but no longer follow the mesh
    /// until it is initialised again.
    void clean_macro_info_data_base(AttributeManager& vertex_manager,
                                    AttributeManager& element_manager);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace internal
}  // namespace orvex
