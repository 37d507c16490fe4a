#include "orvex/background_common/macro_info/macro_info_builder.h"

#include <vector>

#include "orvex/background_common/macro_info/macro_info.h"

namespace orvex {
namespace internal {

class MacroInfoBuilder::Impl {
public:
    explicit Impl(MacroInfo& store_in) : store(store_in) {}

    MacroInfo& store;
};

MacroInfoBuilder::MacroInfoBuilder(MacroInfo& macro_info)
    : impl_{std::make_unique<Impl>(macro_info)} {}

MacroInfoBuilder::MacroInfoBuilder(MacroInfoBuilder&& other) noexcept = default;

MacroInfoBuilder::~MacroInfoBuilder() = default;

void MacroInfoBuilder::add_macro_vertex_info(const MeshVertex& macro_vertex, index_t vertex) {
    impl_->store.add_macro_vertex_to_background_mesh_vertex(macro_vertex, vertex, {});
}

void MacroInfoBuilder::remove_macro_vertex_info(const MeshVertex& macro_vertex, index_t vertex) {
    impl_->store.remove_macro_vertex_from_background_mesh_vertex(macro_vertex, vertex, {});
}

void MacroInfoBuilder::add_macro_element_info(const MeshElement& macro_element, index_t element) {
    impl_->store.add_macro_element_to_background_mesh_element(macro_element, element, {});
}

void MacroInfoBuilder::remove_macro_element_info(const MeshElement& macro_element,
                                                 index_t element) {
    impl_->store.remove_macro_element_from_background_mesh_element(macro_element, element, {});
}

void MacroInfoBuilder::set_macro_info_mandatory(const uuid& component) {
    impl_->store.set_macro_info_mandatory(component, {});
}

void MacroInfoBuilder::update_vertex(const MultiMapping<index_t>& mapping) {
    MacroInfo& store = impl_->store;
    // "No old index" is a gap in the list of old vertices, not its end. The old lists are read
    // in place: adding to another vertex's list never moves them, and an old index equal to the
    // new one finds every entry already there, so nothing is appended while it is read.
    for (const index_t old_vertex : mapping.old_indices) {
        if (old_vertex == NO_ID) {
            continue;
        }
        for (const auto& macro_vertex : store.macro_vertices(old_vertex)) {
            store.add_macro_vertex_to_background_mesh_vertex(macro_vertex, mapping.new_index, {});
        }
    }
}

void MacroInfoBuilder::update_vertices(absl::Span<const MultiMapping<index_t>> mappings) {
    for (const auto& mapping : mappings) {
        update_vertex(mapping);
    }
}

void MacroInfoBuilder::update_element(const Mapping<index_t>& mapping) {
    if (mapping.old_index == NO_ID || mapping.old_index == mapping.new_index) {
        return;
    }
    MacroInfo& store = impl_->store;
    for (const auto& macro_element : store.macro_elements(mapping.old_index)) {
        store.add_macro_element_to_background_mesh_element(macro_element, mapping.new_index, {});
    }
}

void MacroInfoBuilder::update_elements(absl::Span<const Mapping<index_t>> mappings) {
    for (const auto& mapping : mappings) {
        update_element(mapping);
    }
}

}  // namespace internal
}  // namespace orvex
