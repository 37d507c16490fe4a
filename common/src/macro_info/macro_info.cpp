#include "orvex/background_common/macro_info/macro_info.h"

#include <absl/container/flat_hash_set.h>

#include <functional>

#include "macro_info/list_steps.h"
#include "polvane/basic/assert.h"
#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/attribute_properties.h"
#include "polvane/basic/variable_attribute.h"

namespace orvex {
namespace internal {
namespace {

constexpr const char* MACRO_VERTEX_ATTRIBUTE = "orvex macro vertex";
constexpr const char* MACRO_ELEMENT_ATTRIBUTE = "orvex macro element";

}  // namespace

class MacroInfo::Impl {
public:
    // Indices are the caller's responsibility (below the attribute sizes, store initialised);
    // debug builds check them here, release builds do not.

    VariableAttribute<std::vector<MeshVertex>>& vertices(
        index_t vertex, [[maybe_unused]] const char* operation) const {
        POLVANE_DEBUG_ASSERT(vertex_lists != nullptr, "[MacroInfo::", operation,
                             "] The store is not initialised");
        POLVANE_DEBUG_ASSERT(vertex < vertex_lists->size(), "[MacroInfo::", operation, "] Vertex ",
                             vertex, " is not below the vertex attribute's size (",
                             vertex_lists->size(), ")");
        return *vertex_lists;
    }

    VariableAttribute<std::vector<MeshElement>>& elements(
        index_t element, [[maybe_unused]] const char* operation) const {
        POLVANE_DEBUG_ASSERT(element_lists != nullptr, "[MacroInfo::", operation,
                             "] The store is not initialised");
        POLVANE_DEBUG_ASSERT(element < element_lists->size(), "[MacroInfo::", operation,
                             "] Element ", element, " is not below the element attribute's size (",
                             element_lists->size(), ")");
        return *element_lists;
    }

    std::shared_ptr<VariableAttribute<std::vector<MeshVertex>>> vertex_lists;
    std::shared_ptr<VariableAttribute<std::vector<MeshElement>>> element_lists;
    absl::flat_hash_set<uuid, std::hash<uuid>> mandatory_components;
};

MacroInfo::MacroInfo() : impl_{std::make_unique<Impl>()} {}

MacroInfo::MacroInfo(MacroInfo&& other) noexcept = default;

MacroInfo& MacroInfo::operator=(MacroInfo&& other) noexcept = default;

MacroInfo::~MacroInfo() = default;

const std::vector<MeshVertex>& MacroInfo::macro_vertices(index_t vertex) const {
    return impl_->vertices(vertex, "macro_vertices").value(vertex);
}

const std::vector<MeshElement>& MacroInfo::macro_elements(index_t element) const {
    return impl_->elements(element, "macro_elements").value(element);
}

void MacroInfo::add_macro_vertex_to_background_mesh_vertex(const MeshVertex& macro_vertex,
                                                           index_t vertex,
                                                           PassKey<MacroInfoBuilder> /*key*/) {
    impl_->vertices(vertex, "add_macro_vertex_to_background_mesh_vertex")
        .modify_value(vertex, [&macro_vertex](std::vector<MeshVertex>& list) {
            detail::add_to_list(list, macro_vertex);
        });
}

void MacroInfo::remove_macro_vertex_from_background_mesh_vertex(const MeshVertex& macro_vertex,
                                                                index_t vertex,
                                                                PassKey<MacroInfoBuilder> /*key*/) {
    impl_->vertices(vertex, "remove_macro_vertex_from_background_mesh_vertex")
        .modify_value(vertex, [&macro_vertex](std::vector<MeshVertex>& list) {
            detail::remove_from_list(list, macro_vertex);
        });
}

void MacroInfo::add_macro_element_to_background_mesh_element(const MeshElement& macro_element,
                                                             index_t element,
                                                             PassKey<MacroInfoBuilder> /*key*/) {
    impl_->elements(element, "add_macro_element_to_background_mesh_element")
        .modify_value(element, [&macro_element](std::vector<MeshElement>& list) {
            detail::add_to_list(list, macro_element);
        });
}

void MacroInfo::remove_macro_element_from_background_mesh_element(
    const MeshElement& macro_element, index_t element, PassKey<MacroInfoBuilder> /*key*/) {
    impl_->elements(element, "remove_macro_element_from_background_mesh_element")
        .modify_value(element, [&macro_element](std::vector<MeshElement>& list) {
            detail::remove_from_list(list, macro_element);
        });
}

bool MacroInfo::is_macro_info_mandatory(const uuid& component) const {
    return impl_->mandatory_components.contains(component);
}

void MacroInfo::set_macro_info_mandatory(const uuid& component, PassKey<MacroInfoBuilder> /*key*/) {
    impl_->mandatory_components.insert(component);
}

void MacroInfo::initialize_macro_info_data_base(AttributeManager& vertex_manager,
                                                AttributeManager& element_manager) {
    // Only the element lists may be copied by the mesh from one element to another
    // (assignable); a macro vertex belongs to one background vertex only. Neither is
    // interpolable, and both go with the elements when the mesh is copied or extracted.
    impl_->vertex_lists =
        vertex_manager.find_or_create_attribute<VariableAttribute, std::vector<MeshVertex>>(
            MACRO_VERTEX_ATTRIBUTE, {}, AttributeProperties{false, false, true});
    impl_->element_lists =
        element_manager.find_or_create_attribute<VariableAttribute, std::vector<MeshElement>>(
            MACRO_ELEMENT_ATTRIBUTE, {}, AttributeProperties{true, false, true});
}

void MacroInfo::clean_macro_info_data_base(AttributeManager& vertex_manager,
                                           AttributeManager& element_manager) {
    vertex_manager.delete_attribute(MACRO_VERTEX_ATTRIBUTE);
    element_manager.delete_attribute(MACRO_ELEMENT_ATTRIBUTE);
}

}  // namespace internal
}  // namespace orvex
