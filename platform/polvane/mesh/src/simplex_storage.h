#pragma once

// Private to the mesh module: the storage shared by the curve, surface and solid classes, and
// the algorithms that keep points, elements, adjacencies, edges and attribute managers in step.

#include <absl/container/flat_hash_map.h>
#include <absl/types/span.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "polvane/basic/assert.h"
#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/index.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_edges.h"

namespace orvex::detail {

/// The local tables of a simplex of N vertices (N = 2: curve edge, 3: triangle,
/// 4: tetrahedron). Curves have neither facets nor unique edges.
template <index_t N>
struct SimplexTables;

template <>
struct SimplexTables<2> {
    static constexpr index_t nb_facets = 0;
    static constexpr index_t nb_edges = 0;
    static constexpr std::array<std::array<local_index_t, 1>, 0> facets{};
    static constexpr std::array<std::array<local_index_t, 2>, 0> edges{};
};

template <>
struct SimplexTables<3> {
    static constexpr index_t nb_facets = 3;
    static constexpr index_t nb_edges = 3;
    static constexpr std::array<std::array<local_index_t, 2>, 3> facets{{{0, 1}, {1, 2}, {2, 0}}};
    static constexpr std::array<std::array<local_index_t, 2>, 3> edges = facets;
};

template <>
struct SimplexTables<4> {
    static constexpr index_t nb_facets = 4;
    static constexpr index_t nb_edges = 6;
    static constexpr std::array<std::array<local_index_t, 3>, 4> facets{
        {{1, 3, 2}, {0, 2, 3}, {3, 1, 0}, {0, 1, 2}}};
    static constexpr std::array<std::array<local_index_t, 2>, 6> edges{
        {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}};
};

/// The hash key of an unordered pair of vertices.
inline std::uint64_t edge_key(index_t a, index_t b) {
    if (a > b) {
        std::swap(a, b);
    }
    return (static_cast<std::uint64_t>(a) << 32U) | b;
}

/// What `MeshEdges` hides.
class EdgesStorage {
public:
    std::vector<std::array<index_t, 2>> vertices;
    absl::flat_hash_map<std::uint64_t, index_t> index_of;
    AttributeManager manager;

    [[nodiscard]] std::optional<index_t> find(index_t a, index_t b) const {
        const auto found = index_of.find(edge_key(a, b));
        if (found == index_of.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    /// Appends the edge (a, b) unless it exists. The manager is resized by the caller, once
    /// per batch.
    index_t find_or_create(index_t a, index_t b) {
        const auto [where, inserted] =
            index_of.try_emplace(edge_key(a, b), static_cast<index_t>(vertices.size()));
        if (inserted) {
            vertices.push_back({a, b});
        }
        return where->second;
    }

    void rebuild_index() {
        index_of.clear();
        index_of.reserve(vertices.size());
        for (index_t e = 0; e < vertices.size(); ++e) {
            index_of.emplace(edge_key(vertices[e][0], vertices[e][1]), e);
        }
    }
};

/// Reaches the private parts of the public classes of this module.
class StorageAccess {
public:
    static EdgesStorage& edges(MeshEdges& edges) { return *edges.impl_; }

    static const EdgesStorage& edges(const MeshEdges& edges) { return *edges.impl_; }

    static std::unique_ptr<MeshEdges> make_edges() {
        return std::unique_ptr<MeshEdges>{new MeshEdges{}};
    }

    template <typename Mesh>
    static auto& storage(Mesh& mesh) {
        return *mesh.impl_;
    }
};

/// Checks that `flags` has one entry per element.
inline void check_flags(const std::vector<bool>& flags, std::size_t expected,
                        const char* operation) {
    if (flags.size() != expected) {
        throw PolvaneException{"[",          operation, "] Expected ", expected, " flags, got ",
                               flags.size(), "."};
    }
}

/// Checks that `permutation` is a permutation of [0, expected) and returns its inverse, the
/// old-to-new index list.
inline std::vector<index_t> inverse_permutation(absl::Span<const index_t> permutation,
                                                std::size_t expected, const char* operation) {
    if (permutation.size() != expected) {
        throw PolvaneException{"[",      operation,        "] Expected a permutation of ",
                               expected, " indices, got ", permutation.size(),
                               "."};
    }
    std::vector<index_t> old2new(expected, NO_ID);
    for (index_t k = 0; k < permutation.size(); ++k) {
        const index_t old_index = permutation[k];
        if (old_index >= expected || old2new[old_index] != NO_ID) {
            throw PolvaneException{"[", operation, "] Not a permutation: index ", old_index,
                                   " is out of range or repeated."};
        }
        old2new[old_index] = k;
    }
    return old2new;
}

/// The shared storage of a mesh of simplices of N vertices in dimension D: points and
/// elements stored flat, one adjacency per facet, optional unique edges, and the attribute
/// managers, which are kept sized like the vertices and the elements at every step.
template <index_t D, index_t N>
class SimplexStorage {
public:
    static constexpr index_t dimension = D;
    using Tables = SimplexTables<N>;
    using Element = std::array<index_t, N>;
    using Adjacency = std::array<index_t, Tables::nb_facets>;
    static constexpr index_t nb_facets = Tables::nb_facets;

    std::vector<Point<D>> points;
    std::vector<Element> elements;
    // NO_ID: no neighbour across that facet. Either one entry per element or empty, which
    // means no neighbour across any facet: a mesh whose adjacencies were never set holds no
    // array of "none" (a copy made for point location needs none: 16 bytes per
    // tetrahedron). `materialise_adjacents` makes the array before a neighbour is written.
    std::vector<Adjacency> adjacents;
    AttributeManager vertex_manager;
    AttributeManager element_manager;
    std::unique_ptr<MeshEdges> edges;  // null while edges are disabled

    [[nodiscard]] index_t nb_vertices() const { return static_cast<index_t>(points.size()); }

    [[nodiscard]] index_t nb_elements() const { return static_cast<index_t>(elements.size()); }

    [[nodiscard]] EdgesStorage* edges_storage() const {
        return edges ? &StorageAccess::edges(*edges) : nullptr;
    }

    // The accessors below check their indices in debug builds only: the public accessors of
    // the meshes take indices below the counts as a precondition, on hot paths.

    [[nodiscard]] const Point<D>& point(index_t vertex) const {
        POLVANE_DEBUG_ASSERT(vertex < points.size(), "[Mesh::point] Vertex ", vertex,
                             " is not below the number of vertices (", points.size(), ")");
        return points[vertex];
    }

    [[nodiscard]] const Element& element(index_t element) const {
        POLVANE_DEBUG_ASSERT(element < elements.size(), "[Mesh::element] Element ", element,
                             " is not below the number of elements (", elements.size(), ")");
        return elements[element];
    }

    [[nodiscard]] index_t element_vertex(index_t element, local_index_t vertex) const {
        POLVANE_DEBUG_ASSERT(vertex < N, "[Mesh::element_vertex] Local vertex ", vertex,
                             " is not below ", N);
        return this->element(element)[vertex];
    }

    [[nodiscard]] std::optional<index_t> adjacent(index_t element, local_index_t facet) const {
        check_facet(element, facet, "adjacent");
        if (adjacents.empty()) {
            return std::nullopt;
        }
        const index_t neighbour = adjacents[element][facet];
        if (neighbour == NO_ID) {
            return std::nullopt;
        }
        return neighbour;
    }

    void check_facet([[maybe_unused]] index_t element, [[maybe_unused]] local_index_t facet,
                     [[maybe_unused]] const char* operation) const {
        POLVANE_DEBUG_ASSERT(element < elements.size(), "[Mesh::", operation, "] Element ", element,
                             " is not below the number of elements (", elements.size(), ")");
        POLVANE_DEBUG_ASSERT(facet < nb_facets, "[Mesh::", operation, "] Local facet ", facet,
                             " is not below ", nb_facets);
    }

    void copy_from(const SimplexStorage& from) {
        // Managers first: they are the only part that may throw (std::bad_cast).
        vertex_manager.copy(from.vertex_manager);
        element_manager.copy(from.element_manager);
        points = from.points;
        elements = from.elements;
        adjacents = from.adjacents;
        if (from.edges) {
            enable_edges_without_content();
            const EdgesStorage& source = StorageAccess::edges(*from.edges);
            EdgesStorage& target = *edges_storage();
            target.manager.copy(source.manager);
            target.vertices = source.vertices;
            target.index_of = source.index_of;
        } else {
            edges.reset();
        }
    }

    index_t create_points(index_t count) {
        const index_t first = nb_vertices();
        if (count > NO_ID - 1 - first) {
            throw PolvaneException{"[Mesh::create_points] Too many vertices: ", first, " + ",
                                   count};
        }
        points.resize(points.size() + count);
        vertex_manager.resize(nb_vertices());
        return first;
    }

    index_t create_point(const Point<D>& point) {
        const index_t created = create_points(1);
        points[created] = point;
        return created;
    }

    void set_point(index_t vertex, const Point<D>& point, const char* operation) {
        if (vertex >= nb_vertices()) {
            throw PolvaneException{"[",          operation,           "] Vertex ",
                                   vertex,       " does not exist (", nb_vertices(),
                                   " vertices)."};
        }
        points[vertex] = point;
    }

    /// Appends the elements; every vertex index must exist. Nothing changes when it throws.
    index_t create_elements(absl::Span<const Element> created, const char* operation) {
        const index_t first = nb_elements();
        if (created.size() > NO_ID - 1 - first) {
            throw PolvaneException{
                "[", operation, "] Too many elements: ", first, " + ", created.size()};
        }
        for (const Element& element : created) {
            for (const index_t vertex : element) {
                if (vertex >= nb_vertices()) {
                    throw PolvaneException{"[",          operation,           "] Vertex ",
                                           vertex,       " does not exist (", nb_vertices(),
                                           " vertices)."};
                }
            }
        }
        elements.insert(elements.end(), created.begin(), created.end());
        if constexpr (nb_facets > 0) {
            if (!adjacents.empty()) {
                materialise_adjacents();
            }
        }
        element_manager.resize(nb_elements());
        if (EdgesStorage* edge_storage = edges_storage()) {
            for (index_t e = first; e < nb_elements(); ++e) {
                add_element_edges(*edge_storage, elements[e]);
            }
            edge_storage->manager.resize(static_cast<index_t>(edge_storage->vertices.size()));
        }
        return first;
    }

    /// Replaces the vertices of `element` in place; every vertex index must exist. The
    /// element's adjacencies, and those of its neighbours across to it, become unknown; new
    /// edges are appended when edges are enabled (edges only the old vertices used stay until
    /// elements are next deleted). Nothing changes when it throws.
    void set_element(index_t element, const Element& vertices, const char* operation) {
        if (element >= nb_elements()) {
            throw PolvaneException{"[",     operation, "] Element ", element,
                                   " does not exist (", nb_elements(), " elements)."};
        }
        for (const index_t vertex : vertices) {
            if (vertex >= nb_vertices()) {
                throw PolvaneException{"[",          operation,           "] Vertex ",
                                       vertex,       " does not exist (", nb_vertices(),
                                       " vertices)."};
            }
        }
        EdgesStorage* edge_storage = edges_storage();
        if (edge_storage != nullptr) {
            // The only step that may throw (the edge map grows): before anything else.
            add_element_edges(*edge_storage, vertices);
            edge_storage->manager.resize(static_cast<index_t>(edge_storage->vertices.size()));
        }
        if constexpr (nb_facets > 0) {
            if (!adjacents.empty()) {
                for (const index_t neighbour : adjacents[element]) {
                    if (neighbour == NO_ID) {
                        continue;
                    }
                    for (index_t& back : adjacents[neighbour]) {
                        back = back == element ? NO_ID : back;
                    }
                }
                adjacents[element].fill(NO_ID);
            }
        }
        elements[element] = vertices;
    }

    void set_adjacent(index_t element, local_index_t facet, index_t neighbour,
                      const char* operation) {
        if (element >= nb_elements() || facet >= nb_facets
            || (neighbour != NO_ID && neighbour >= nb_elements())) {
            throw PolvaneException{"[",
                                   operation,
                                   "] Invalid adjacency: element ",
                                   element,
                                   ", facet ",
                                   static_cast<int>(facet),
                                   ", neighbour ",
                                   neighbour,
                                   " (",
                                   nb_elements(),
                                   " elements)."};
        }
        if (adjacents.empty() && neighbour == NO_ID) {
            return;
        }
        materialise_adjacents();
        adjacents[element][facet] = neighbour;
    }

    // One entry per element, "none" for those not known before.
    void materialise_adjacents() {
        Adjacency none;
        none.fill(NO_ID);
        adjacents.resize(elements.size(), none);
    }

    /// Glues the elements across their shared facets. Facets are matched by their sorted
    /// vertex indices in a hash map; a matched facet leaves the map at once, so that on meshes
    /// stored with some locality the map holds only the current front. A facet met a third
    /// time (non-manifold) opens a new pair: facets are paired in the order they are met.
    void compute_adjacencies() {
        static_assert(nb_facets > 0, "curves have no adjacencies");
        for (Adjacency& adjacency : adjacents) {
            adjacency.fill(NO_ID);
        }
        materialise_adjacents();

        struct OpenFacet {
            index_t element;
            local_index_t facet;
        };

        using Key = std::conditional_t<N == 3, std::uint64_t, std::array<index_t, 3>>;
        absl::flat_hash_map<Key, OpenFacet> open;
        for (index_t e = 0; e < nb_elements(); ++e) {
            for (local_index_t f = 0; f < nb_facets; ++f) {
                const auto where = open.try_emplace(facet_key<Key>(e, f), OpenFacet{e, f});
                if (where.second) {
                    continue;
                }
                const OpenFacet other = where.first->second;
                open.erase(where.first);
                adjacents[e][f] = other.element;
                adjacents[other.element][other.facet] = e;
            }
        }
    }

    [[nodiscard]] std::array<index_t, nb_facets == 3 ? 2 : 3> facet_vertices(
        index_t element, local_index_t facet) const {
        check_facet(element, facet, "facet_vertices");
        std::array<index_t, nb_facets == 3 ? 2 : 3> result{};
        for (std::size_t i = 0; i < result.size(); ++i) {
            result[i] = elements[element][Tables::facets[facet][i]];
        }
        return result;
    }

    /// Removes the flagged elements, keeping the others in order, and returns the elements'
    /// old-to-new list; when edges are enabled, `edges_old2new` receives the edges' list.
    std::vector<index_t> delete_elements(const std::vector<bool>& to_delete,
                                         std::vector<index_t>& edges_old2new,
                                         const char* operation) {
        check_flags(to_delete, elements.size(), operation);
        std::vector<index_t> old2new = element_manager.delete_elements(to_delete);
        index_t kept = 0;
        for (index_t e = 0; e < old2new.size(); ++e) {
            if (old2new[e] == NO_ID) {
                continue;
            }
            elements[kept] = elements[e];
            if constexpr (nb_facets > 0) {
                if (!adjacents.empty()) {
                    for (index_t& neighbour : adjacents[e]) {
                        if (neighbour != NO_ID) {
                            neighbour = old2new[neighbour];
                        }
                    }
                    adjacents[kept] = adjacents[e];
                }
            }
            ++kept;
        }
        elements.resize(kept);
        if constexpr (nb_facets > 0) {
            if (!adjacents.empty()) {
                adjacents.resize(kept);
            }
        }
        edges_old2new.clear();
        if (EdgesStorage* edge_storage = edges_storage()) {
            edges_old2new = delete_unused_edges(*edge_storage);
        }
        return old2new;
    }

    /// Removes the flagged vertices and returns the old-to-new list.
    /// \throw PolvaneException, before any change, when an element uses a flagged vertex.
    std::vector<index_t> delete_vertices(const std::vector<bool>& to_delete,
                                         const char* operation) {
        check_flags(to_delete, points.size(), operation);
        for (index_t e = 0; e < nb_elements(); ++e) {
            for (const index_t vertex : elements[e]) {
                if (to_delete[vertex]) {
                    throw PolvaneException{"[",
                                           operation,
                                           "] Vertex ",
                                           vertex,
                                           " is still used by element ",
                                           e,
                                           "; delete the element first."};
                }
            }
        }
        std::vector<index_t> old2new = vertex_manager.delete_elements(to_delete);
        index_t kept = 0;
        for (index_t v = 0; v < old2new.size(); ++v) {
            if (old2new[v] != NO_ID) {
                points[kept++] = points[v];
            }
        }
        points.resize(kept);
        renumber_vertex_references(old2new);
        return old2new;
    }

    /// Flags for the vertices that no element uses.
    [[nodiscard]] std::vector<bool> isolated_vertices() const {
        std::vector<bool> isolated(points.size(), true);
        for (const Element& element : elements) {
            for (const index_t vertex : element) {
                isolated[vertex] = false;
            }
        }
        return isolated;
    }

    /// Afterwards vertex k is the one that was `permutation[k]`.
    void permute_vertices(absl::Span<const index_t> permutation, const char* operation) {
        const std::vector<index_t> old2new =
            inverse_permutation(permutation, points.size(), operation);
        vertex_manager.permute_elements(permutation);
        std::vector<Point<D>> permuted(points.size());
        for (index_t k = 0; k < permutation.size(); ++k) {
            permuted[k] = points[permutation[k]];
        }
        points = std::move(permuted);
        renumber_vertex_references(old2new);
    }

    /// Afterwards element k is the one that was `permutation[k]`.
    void permute_elements(absl::Span<const index_t> permutation, const char* operation) {
        const std::vector<index_t> old2new =
            inverse_permutation(permutation, elements.size(), operation);
        element_manager.permute_elements(permutation);
        std::vector<Element> permuted(elements.size());
        for (index_t k = 0; k < permutation.size(); ++k) {
            permuted[k] = elements[permutation[k]];
        }
        elements = std::move(permuted);
        if constexpr (nb_facets > 0) {
            if (adjacents.empty()) {
                return;
            }
            std::vector<Adjacency> permuted_adjacents(adjacents.size());
            for (index_t k = 0; k < permutation.size(); ++k) {
                permuted_adjacents[k] = adjacents[permutation[k]];
                for (index_t& neighbour : permuted_adjacents[k]) {
                    if (neighbour != NO_ID) {
                        neighbour = old2new[neighbour];
                    }
                }
            }
            adjacents = std::move(permuted_adjacents);
        }
    }

    void enable_edges() {
        if (edges) {
            return;
        }
        enable_edges_without_content();
        EdgesStorage& edge_storage = *edges_storage();
        for (const Element& element : elements) {
            add_element_edges(edge_storage, element);
        }
        edge_storage.manager.resize(static_cast<index_t>(edge_storage.vertices.size()));
    }

private:
    void enable_edges_without_content() {
        if (!edges) {
            edges = StorageAccess::make_edges();
        }
    }

    template <typename Key>
    [[nodiscard]] Key facet_key(index_t element, local_index_t facet) const {
        const Element& vertices = elements[element];
        const auto& local = Tables::facets[facet];
        if constexpr (N == 3) {
            return edge_key(vertices[local[0]], vertices[local[1]]);
        } else {
            Key key{vertices[local[0]], vertices[local[1]], vertices[local[2]]};
            // A three-element sorting network: cheaper than std::sort on a hot path.
            if (key[0] > key[1]) {
                std::swap(key[0], key[1]);
            }
            if (key[1] > key[2]) {
                std::swap(key[1], key[2]);
            }
            if (key[0] > key[1]) {
                std::swap(key[0], key[1]);
            }
            return key;
        }
    }

    static void add_element_edges(EdgesStorage& edge_storage, const Element& element) {
        for (const auto& local : Tables::edges) {
            edge_storage.find_or_create(element[local[0]], element[local[1]]);
        }
    }

    // Edges exist only while an element uses them: after elements are deleted, the edges no
    // element uses any more go too, so that edge queries never name a dangling edge.
    std::vector<index_t> delete_unused_edges(EdgesStorage& edge_storage) {
        std::vector<bool> unused(edge_storage.vertices.size(), true);
        for (const Element& element : elements) {
            for (const auto& local : Tables::edges) {
                unused[*edge_storage.find(element[local[0]], element[local[1]])] = false;
            }
        }
        std::vector<index_t> old2new = edge_storage.manager.delete_elements(unused);
        index_t kept = 0;
        for (index_t e = 0; e < old2new.size(); ++e) {
            if (old2new[e] != NO_ID) {
                edge_storage.vertices[kept++] = edge_storage.vertices[e];
            }
        }
        if (kept != edge_storage.vertices.size()) {
            edge_storage.vertices.resize(kept);
            edge_storage.rebuild_index();
        }
        return old2new;
    }

    void renumber_vertex_references(const std::vector<index_t>& old2new) {
        for (Element& element : elements) {
            for (index_t& vertex : element) {
                vertex = old2new[vertex];
            }
        }
        if (EdgesStorage* edge_storage = edges_storage()) {
            for (auto& vertices : edge_storage->vertices) {
                vertices = {old2new[vertices[0]], old2new[vertices[1]]};
            }
            edge_storage->rebuild_index();
        }
    }
};

}  // namespace orvex::detail
