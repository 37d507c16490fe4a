#include "polvane/mesh/leaf_ordered_copy.h"

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include "polvane/basic/detail/huge_pages.h"
#include "simplex_storage.h"

namespace orvex {
namespace {

template <typename Mesh>
auto& storage_of(Mesh& mesh) {
    return detail::StorageAccess::storage(mesh);
}

// Grows `values`' capacity to at least `size`, by a quarter at least, so that a long series of
// small updates does not copy the whole array at each.
template <typename T>
void reserve_for(std::vector<T>& values, std::size_t size) {
    if (values.capacity() < size) {
        values.reserve(std::max(size, values.capacity() + values.capacity() / 4));
    }
}

// The copy's element data in leaf order, as the tree moves and measures it during an update:
// the copy's storage `to`, and new elements read from the source's storage `from` through the
// source-to-copy vertex map.
template <typename Storage>
class CopyData final : public AABBTree<Storage::dimension>::LeafData {
public:
    static constexpr index_t D = Storage::dimension;

    CopyData(Storage& to, const Storage& from, const std::vector<index_t>& copy_vertices)
        : to_(to), from_(from), copy_vertices_(copy_vertices) {}

    [[nodiscard]] BoundingBox<D> box(index_t position) const override {
        BoundingBox<D> result;
        for (const index_t vertex : to_.elements[position]) {
            result.add_point(to_.points[vertex]);
        }
        return result;
    }

    void move(index_t from, index_t to) override { to_.elements[to] = to_.elements[from]; }

    void place(index_t element, index_t position) override {
        to_.elements[position] = copied(element);
    }

    void prefetch(index_t position, bool late) const override {
        if (!late) {
            __builtin_prefetch(&to_.elements[position]);
            return;
        }
        for (const index_t vertex : to_.elements[position]) {
            __builtin_prefetch(&to_.points[vertex]);
        }
    }

    void resize(index_t nb_positions) override {
        typename Storage::Element any{};
        to_.elements.resize(nb_positions, any);
    }

    // The source element `element` with the copy's vertices.
    [[nodiscard]] typename Storage::Element copied(index_t element) const {
        typename Storage::Element result = from_.elements[element];
        for (index_t& vertex : result) {
            vertex = copy_vertices_[vertex];
        }
        return result;
    }

private:
    Storage& to_;
    const Storage& from_;
    const std::vector<index_t>& copy_vertices_;
};

}  // namespace

namespace {

// `vector` set to `size` copies of `value`, in memory advised to huge pages before it is
// written.
template <typename T>
void assign_advised(std::vector<T>& vector, std::size_t size, const T& value) {
    vector.clear();
    vector.reserve(size);
    detail::advise_huge_pages(vector.data(), vector.capacity() * sizeof(T));
    vector.assign(size, value);
}

}  // namespace

template <typename Mesh>
LeafOrderedCopy<Mesh>::LeafOrderedCopy(const Mesh& source) : mesh_(std::make_unique<Mesh>()) {
    constexpr index_t D = dimension;
    const auto& from = storage_of(source);
    auto& to = storage_of(*mesh_);
    std::vector<index_t> order = AABBTree<D>::leaf_order(from.points, from.elements);
    const std::size_t n = order.size();
    // One empty position in 16, evenly spread, for the elements that updates create: they then
    // find room near where they lie without laying the whole tree out again (which costs about
    // a rebuild). Small copies have none.
    const std::size_t nb_positions = n >= empty_share ? n + n / (empty_share - 1) : n;
    // The large arrays are fresh memory on every rebuild: huge pages spare most page faults.
    std::vector<index_t> leaves;
    assign_advised(leaves, nb_positions, NO_ID);
    assign_advised(copy_vertices_, from.points.size(), NO_ID);
    to.points.reserve(from.points.size());
    detail::advise_huge_pages(to.points.data(), to.points.capacity() * sizeof(to.points[0]));
    assign_advised(to.elements, nb_positions, typename std::decay_t<decltype(to)>::Element{});
    // The leaf order visits the source's elements out of their order: each read would wait on
    // memory, so the element a few leaves ahead is fetched early. (Writes the storage directly:
    // one exported call per point or element would cost more than the copy itself.)
    constexpr std::size_t lead = 16;
    for (std::size_t i = 0; i < n; ++i) {
        if (i + lead < n) {
            __builtin_prefetch(&from.elements[order[i + lead]]);
        }
        auto element = from.elements[order[i]];
        for (index_t& vertex : element) {
            index_t& number = copy_vertices_[vertex];
            if (number == NO_ID) {
                number = static_cast<index_t>(to.points.size());
                to.points.push_back(from.points[vertex]);
            }
            vertex = number;
        }
        const std::size_t position = i * nb_positions / n;
        to.elements[position] = element;
        leaves[position] = order[i];
    }
    order = std::vector<index_t>{};
    // No adjacency array: every neighbour unknown, in no memory.
    to.vertex_manager.resize(to.nb_vertices());
    to.element_manager.resize(to.nb_elements());
    tree_ = AABBTree<D>{to.points, to.elements, std::move(leaves)};
    built_elements_ = n;
}

template <typename Mesh>
LeafOrderedCopy<Mesh>::LeafOrderedCopy(LeafOrderedCopy&& other) noexcept = default;

template <typename Mesh>
LeafOrderedCopy<Mesh>& LeafOrderedCopy<Mesh>::operator=(LeafOrderedCopy&& other) noexcept = default;

// A body rather than `= default`: the destructor must be exported (see ElementSearch's).
template <typename Mesh>
LeafOrderedCopy<Mesh>::~LeafOrderedCopy() {}  // NOLINT(modernize-use-equals-default)

template <typename Mesh>
void LeafOrderedCopy<Mesh>::rebuild(const Mesh& source) {
    LeafOrderedCopy fresh{source};
    // The mesh object stays the one callers refer to.
    *mesh_ = std::move(*fresh.mesh_);
    tree_ = std::move(fresh.tree_);
    copy_vertices_ = std::move(fresh.copy_vertices_);
    incidence_ = std::vector<VertexElements>{};
    beside_ = std::vector<index_t>{};
    churn_ = 0;
    built_elements_ = fresh.built_elements_;
}

// Notes `position` among the runs of `entry`: a new run unless it lies within `before` before
// or `after` after a noted one (and there is room for it).
template <typename Entry>
void note_run(Entry& entry, index_t position, index_t before, index_t after) {
    for (index_t& run : entry.runs) {
        if (run == NO_ID) {
            run = position;
            return;
        }
        if (position + before >= run && position <= run + after) {
            return;
        }
    }
}

template <typename Mesh>
template <typename Storage>
std::vector<typename LeafOrderedCopy<Mesh>::VertexElements> LeafOrderedCopy<Mesh>::incidence_of(
    const Storage& copy, const AABBTree<dimension>& tree) {
    std::vector<VertexElements> incidence(copy.points.size());
    for (index_t position = 0; position < copy.nb_elements(); ++position) {
        if (tree.leaf_element(position) != NO_ID) {
            count_element(incidence, copy.elements[position], position, 1);
        }
    }
    return incidence;
}

template <typename Mesh>
template <typename Element>
void LeafOrderedCopy<Mesh>::count_element(std::vector<VertexElements>& incidence,
                                          const Element& element, index_t position, int change) {
    for (std::size_t k = 0; k < element.size(); ++k) {
        const index_t vertex = element[k];
        // A vertex listed twice by a degenerate element counts once.
        if (std::find(element.begin(), element.begin() + k, vertex) != element.begin() + k) {
            continue;
        }
        VertexElements& entry = incidence[vertex];
        entry.count += static_cast<std::uint32_t>(change);
        if (change > 0) {
            note_run(entry, position, run_before, run_noted);
        }
    }
}

template <typename Mesh>
template <typename Storage>
void LeafOrderedCopy<Mesh>::incident_positions(const Storage& copy, index_t vertex,
                                               VertexElements& entry,
                                               std::vector<index_t>& positions) const {
    const std::size_t first = positions.size();
    const auto holds = [&](index_t position) {
        if (tree_.leaf_element(position) == NO_ID) {
            return false;
        }
        const auto& element = copy.elements[position];
        return std::find(element.begin(), element.end(), vertex) != element.end();
    };
    const index_t size = tree_.nb_positions();
    std::size_t found = 0;
    for (const index_t run : entry.runs) {
        if (run == NO_ID || found == entry.count) {
            break;
        }
        const index_t begin = run > run_before ? run - run_before : 0;
        const index_t end = std::min<index_t>(size, run + run_after + 1);
        for (index_t position = begin; position < end && found < entry.count; ++position) {
            // Runs a little apart may reach over the same positions: each counts once.
            if (holds(position)
                && std::find(positions.begin() + first, positions.end(), position)
                       == positions.end()) {
                positions.push_back(position);
                ++found;
            }
        }
    }
    if (found == entry.count) {
        return;
    }
    // Not all of them where they were: through the tree, at the vertex's position, and the
    // runs noted again from what it finds (in leaf order).
    positions.resize(first);
    tree_.for_each_position_containing(copy.points[vertex], [&](index_t position) {
        if (holds(position)) {
            positions.push_back(position);
        }
    });
    entry.runs.fill(NO_ID);
    // In leaf order already (the tree reports its leaves so): the first of each run is noted.
    for (std::size_t k = first; k < positions.size(); ++k) {
        note_run(entry, positions[k], run_before, run_noted);
    }
}

template <typename Mesh>
void LeafOrderedCopy<Mesh>::update(const Mesh& source, const MeshChanges& changes) {
    constexpr index_t D = dimension;
    using Storage = std::remove_reference_t<decltype(storage_of(source))>;
    const Storage& from = storage_of(source);
    Storage& to = storage_of(*mesh_);
    const index_t nb_elements = from.nb_elements();
    const std::size_t nb_created = changes.created_elements.size();
    std::size_t nb_deleted = 0;
    for (const index_t renumbered : changes.element_renumbering) {
        nb_deleted += renumbered == NO_ID ? 1 : 0;
    }
    const std::size_t nb_changed = nb_created + nb_deleted + changes.modified_elements.size()
                                   + 8 * changes.moved_vertices.size();
    if (tree_.nb_bboxes() == 0 || nb_changed > tree_.nb_bboxes() / 4
        || churn_ + nb_created + nb_deleted > built_elements_) {
        rebuild(source);
        return;
    }

    // Everything is allocated first: the tree's update, the new vertex map (or room in the
    // old one), the source vertices that get a copy, the positions to refit and room for the
    // points and positions to come.
    const index_t nb_positions = tree_.prepare_update(changes.element_renumbering, nb_elements,
                                                      static_cast<index_t>(nb_created));
    try {
        const bool renumbered_vertices = !changes.vertex_renumbering.empty();
        std::vector<index_t> renumbered_map;
        if (renumbered_vertices) {
            renumbered_map.assign(from.nb_vertices(), NO_ID);
            for (index_t vertex = 0; vertex < changes.vertex_renumbering.size(); ++vertex) {
                const index_t renumbered = changes.vertex_renumbering[vertex];
                if (renumbered != NO_ID) {
                    renumbered_map[renumbered] = copy_vertices_[vertex];
                }
            }
        } else {
            reserve_for(copy_vertices_, from.nb_vertices());
        }
        const auto copy_vertex = [&](index_t vertex) {
            const std::vector<index_t>& map = renumbered_vertices ? renumbered_map : copy_vertices_;
            return vertex < map.size() ? map[vertex] : NO_ID;
        };
        // Source vertices of the new and modified elements that have no copy yet.
        std::vector<index_t> new_vertices;
        const auto note_vertices = [&](index_t element) {
            for (const index_t vertex : from.elements[element]) {
                if (copy_vertex(vertex) == NO_ID) {
                    new_vertices.push_back(vertex);
                }
            }
        };
        for (const index_t element : changes.created_elements) {
            note_vertices(element);
        }
        // Modified elements that are new are inserted as new ones.
        std::vector<std::pair<index_t, index_t>> modified;  // (element, position)
        for (const index_t element : changes.modified_elements) {
            const index_t position = tree_.element_position(element);
            if (position != NO_ID) {
                note_vertices(element);
                modified.emplace_back(element, position);
            }
        }
        std::sort(new_vertices.begin(), new_vertices.end());
        new_vertices.erase(std::unique(new_vertices.begin(), new_vertices.end()),
                           new_vertices.end());
        // The positions to refit: emptied, modified, and those whose element uses a moved
        // vertex, found through the tree at the vertex's old position.
        std::vector<index_t> refitted(tree_.emptied_positions().begin(),
                                      tree_.emptied_positions().end());
        for (const auto& entry : modified) {
            refitted.push_back(entry.second);
        }
        std::vector<std::pair<index_t, index_t>> moved;  // (copy vertex, source vertex)
        std::vector<VertexElements> built_incidence;
        if (!changes.moved_vertices.empty() && incidence_.empty()) {
            built_incidence = incidence_of(to, tree_);
        }
        std::vector<VertexElements>& incidence = incidence_.empty() ? built_incidence : incidence_;
        for (const index_t vertex : changes.moved_vertices) {
            const index_t copied = copy_vertex(vertex);
            if (copied == NO_ID) {
                continue;
            }
            moved.emplace_back(copied, vertex);
            incident_positions(to, copied, incidence[copied], refitted);
        }
        std::sort(refitted.begin(), refitted.end());
        refitted.erase(std::unique(refitted.begin(), refitted.end()), refitted.end());
        // A position of an element of each copy vertex, noted by the modified and created
        // elements: a new element goes beside an element it shares a vertex with (the split
        // element, for the parts of a split).
        if (nb_created > 0) {
            reserve_for(beside_, to.points.size() + new_vertices.size());
        }
        reserve_for(to.points, to.points.size() + new_vertices.size());
        to.elements.reserve(nb_positions);

        const bool counting = !incidence.empty();
        if (counting) {
            reserve_for(incidence, to.points.size() + new_vertices.size());
        }

        // From here on nothing allocates or throws.
        if (!built_incidence.empty()) {
            incidence_.swap(built_incidence);
        }
        if (renumbered_vertices) {
            copy_vertices_.swap(renumbered_map);
        } else {
            copy_vertices_.resize(from.nb_vertices(), NO_ID);
        }
        for (const index_t vertex : new_vertices) {
            copy_vertices_[vertex] = to.nb_vertices();
            to.points.push_back(from.points[vertex]);
        }
        if (nb_created > 0) {
            beside_.resize(to.points.size(), NO_ID);
        }
        if (counting) {
            incidence_.resize(to.points.size());
            for (const index_t position : tree_.emptied_positions()) {
                count_element(incidence_, to.elements[position], position, -1);
            }
        }
        for (const auto& [copied, vertex] : moved) {
            to.points[copied] = from.points[vertex];
        }
        tree_.renumber();
        CopyData<Storage> data{to, from, copy_vertices_};
        for (const auto& [element, position] : modified) {
            if (counting) {
                count_element(incidence_, to.elements[position], position, -1);
            }
            to.elements[position] = data.copied(element);
            if (nb_created > 0) {
                for (const index_t vertex : to.elements[position]) {
                    beside_[vertex] = position;
                }
            }
            if (counting) {
                count_element(incidence_, to.elements[position], position, 1);
            }
        }
        tree_.refit(refitted, data);
        for (const index_t element : changes.created_elements) {
            BoundingBox<D> box;
            for (const index_t vertex : from.elements[element]) {
                box.add_point(from.points[vertex]);
            }
            index_t near = NO_ID;
            for (const index_t vertex : from.elements[element]) {
                near = near == NO_ID ? beside_[copy_vertices_[vertex]] : near;
            }
            tree_.insert(element, box, near, data);
            const index_t placed = tree_.element_position(element);
            for (const index_t vertex : from.elements[element]) {
                beside_[copy_vertices_[vertex]] = placed;
            }
            if (counting) {
                const index_t position = tree_.element_position(element);
                count_element(incidence_, to.elements[position], position, 1);
            }
        }
        to.vertex_manager.resize(to.nb_vertices());
        to.element_manager.resize(to.nb_elements());
        churn_ += nb_created + nb_deleted;
    } catch (...) {
        tree_.cancel_update();
        throw;
    }
}

template class LeafOrderedCopy<EdgedCurve<1>>;
template class LeafOrderedCopy<TriangulatedSurface<2>>;
template class LeafOrderedCopy<TetrahedralSolid<3>>;

}  // namespace orvex
