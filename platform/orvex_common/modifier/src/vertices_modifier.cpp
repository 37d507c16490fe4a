#include "orvex_common/modifier/vertices_modifier.h"

#include <utility>
#include <vector>

#include "polvane/basic/polvane_exception.h"

namespace orvex {

// Nodes of the union-find: first the initial vertices (node i = initial vertex i), then nodes
// made on demand for current vertices that no node stands for yet (added vertices, or vertices
// emptied by a merge that later receive merges or deletions). Each class has a root, and the
// root's `position` is the class's current vertex (NO_ID: deleted). `slot_node` gives, for each
// current vertex, the root standing for it (NO_ID: none; nothing resolves to that vertex).
class VerticesModifier::Impl {
public:
    explicit Impl(index_t nb_vertices)
        : parent(nb_vertices),
          size(nb_vertices, 1),
          position(nb_vertices),
          slot_node(nb_vertices),
          nb_initial(nb_vertices) {
        for (index_t v = 0; v < nb_vertices; ++v) {
            parent[v] = v;
            position[v] = v;
            slot_node[v] = v;
        }
    }

    [[nodiscard]] index_t root(index_t node) const {
        while (parent[node] != node) {
            node = parent[node];
        }
        return node;
    }

    index_t make_node(index_t current_position) {
        const auto node = static_cast<index_t>(parent.size());
        parent.push_back(node);
        size.push_back(1);
        position.push_back(current_position);
        return node;
    }

    void check_vertex(index_t vertex, const char* operation) const {
        if (vertex >= slot_node.size()) {
            throw PolvaneException{"[VerticesModifier::", operation,        "] Vertex ",  vertex,
                                   " does not exist (",   slot_node.size(), " vertices)."};
        }
    }

    std::vector<index_t> parent;
    std::vector<index_t> size;
    std::vector<index_t> position;
    std::vector<index_t> slot_node;
    index_t nb_initial;
};

VerticesModifier::VerticesModifier(index_t nb_vertices)
    : impl_{std::make_unique<Impl>(nb_vertices)} {}

VerticesModifier::~VerticesModifier() = default;

VerticesModifier::VerticesModifier(VerticesModifier&& other) noexcept = default;

VerticesModifier& VerticesModifier::operator=(VerticesModifier&& other) noexcept = default;

index_t VerticesModifier::nb_vertices() const {
    return static_cast<index_t>(impl_->slot_node.size());
}

index_t VerticesModifier::nb_initial_vertices() const {
    return impl_->nb_initial;
}

std::optional<index_t> VerticesModifier::updated_vertex(index_t vertex) const {
    if (vertex >= impl_->nb_initial) {
        return std::nullopt;
    }
    const index_t current = impl_->position[impl_->root(vertex)];
    if (current == NO_ID) {
        return std::nullopt;
    }
    return current;
}

void VerticesModifier::merge(index_t from, index_t into) {
    impl_->check_vertex(from, "merge");
    impl_->check_vertex(into, "merge");
    if (from == into) {
        return;
    }
    const index_t from_node = impl_->slot_node[from];
    // Nothing resolves to `from`, or what resolved to it is deleted for good.
    if (from_node == NO_ID || impl_->position[from_node] == NO_ID) {
        return;
    }
    index_t into_node = impl_->slot_node[into];
    if (into_node == NO_ID) {
        into_node = impl_->make_node(into);
    }
    const index_t into_position = impl_->position[into_node];
    // Union by size keeps paths logarithmic between renumberings; whichever root survives
    // takes `into`'s position (NO_ID when `into` is deleted).
    auto [big, small] = impl_->size[from_node] > impl_->size[into_node]
                            ? std::pair{from_node, into_node}
                            : std::pair{into_node, from_node};
    impl_->parent[small] = big;
    impl_->size[big] += impl_->size[small];
    impl_->position[big] = into_position;
    impl_->slot_node[into] = big;
    impl_->slot_node[from] = NO_ID;
}

void VerticesModifier::delete_vertex(index_t vertex) {
    impl_->check_vertex(vertex, "delete_vertex");
    const index_t node = impl_->slot_node[vertex];
    if (node == NO_ID) {
        // Keep a deleted node here so that later merges into this vertex delete too.
        impl_->slot_node[vertex] = impl_->make_node(NO_ID);
    } else {
        impl_->position[node] = NO_ID;
    }
}

void VerticesModifier::add_vertices(index_t count) {
    if (count > NO_ID - impl_->slot_node.size()) {
        throw PolvaneException{"[VerticesModifier::add_vertices] Too many vertices: ",
                               impl_->slot_node.size(), " + ", count};
    }
    impl_->slot_node.resize(impl_->slot_node.size() + count, NO_ID);
}

void VerticesModifier::apply_renumbering(absl::Span<const index_t> old2new) {
    if (old2new.size() != impl_->slot_node.size()) {
        throw PolvaneException{"[VerticesModifier::apply_renumbering] Expected ",
                               impl_->slot_node.size(), " entries, got ", old2new.size(), "."};
    }
    std::size_t nb_new = 0;
    for (const index_t new_index : old2new) {
        if (new_index != NO_ID && new_index >= nb_new) {
            nb_new = static_cast<std::size_t>(new_index) + 1;
        }
    }
    std::vector<index_t> new_slot_node(nb_new, NO_ID);
    std::vector<bool> taken(nb_new, false);
    for (const index_t new_index : old2new) {
        if (new_index == NO_ID) {
            continue;
        }
        if (taken[new_index]) {
            throw PolvaneException{"[VerticesModifier::apply_renumbering] New index ", new_index,
                                   " is given twice."};
        }
        taken[new_index] = true;
    }
    for (index_t old_index = 0; old_index < old2new.size(); ++old_index) {
        const index_t node = impl_->slot_node[old_index];
        if (node == NO_ID) {
            continue;
        }
        const index_t new_index = old2new[old_index];
        if (new_index == NO_ID) {
            impl_->position[node] = NO_ID;
            continue;
        }
        new_slot_node[new_index] = node;
        if (impl_->position[node] != NO_ID) {
            impl_->position[node] = new_index;
        }
    }
    impl_->slot_node = std::move(new_slot_node);
    // Flatten every path: queries until the next merge then take one step.
    for (index_t node = 0; node < impl_->parent.size(); ++node) {
        impl_->parent[node] = impl_->root(node);
    }
}

}  // namespace orvex
