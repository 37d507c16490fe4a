// The road of macro information through real background meshes: record a macro model on a
// mesh with edges, modify the mesh (split, carry over, delete and compact, permute, clone),
// and check after every step what a person tracing the macro model by hand expects.
//
// Vertices are named by their points (a, b, c...), which travel with them through every
// renumbering; edges and elements are named by their sorted vertex names ("ab", "abe").

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "orvex/background_common/macro_info/macro_edges.h"
#include "orvex/background_common/macro_info/macro_edges_builder.h"
#include "orvex/background_common/macro_info/macro_info.h"
#include "orvex/background_common/macro_info/macro_info_builder.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex {
namespace internal {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Edges = std::vector<MeshEdge>;
using Vertices = std::vector<MeshVertex>;
using Elements = std::vector<MeshElement>;

/// A background mesh as a remeshing product builds it: a mesh with edges that carries the two
/// macro stores on its own attribute managers.
template <typename Mesh>
class Background : public Mesh, public MacroEdges, public MacroInfo {
public:
    Background() { this->enable_edges(); }

    /// Wraps a plain mesh (a clone, say) and adopts the macro tables its managers hold.
    explicit Background(Mesh&& mesh) : Mesh(std::move(mesh)) { initialize_stores(); }

    const std::array<index_t, 2>& background_mesh_edge_vertices(index_t edge) const override {
        return this->edges().edge_vertices(edge);
    }

    void initialize_stores() {
        initialize_macro_edges_data_base(this->vertex_attribute_manager(),
                                         this->edges().edge_attribute_manager());
        initialize_macro_info_data_base(this->vertex_attribute_manager(),
                                        MeshTraits<Mesh>::element_attribute_manager(*this));
    }

    void clean_stores() {
        clean_macro_edges_data_base(this->vertex_attribute_manager(),
                                    this->edges().edge_attribute_manager());
        clean_macro_info_data_base(this->vertex_attribute_manager(),
                                   MeshTraits<Mesh>::element_attribute_manager(*this));
    }
};

template <typename Mesh>
class BackgroundBuilder : public MeshTraits<Mesh>::Builder,
                          public MacroEdgesBuilder,
                          public MacroInfoBuilder {
public:
    explicit BackgroundBuilder(Background<Mesh>& mesh)
        : MeshTraits<Mesh>::Builder(mesh), MacroEdgesBuilder(mesh), MacroInfoBuilder(mesh) {}
};

using Surface = Background<TriangulatedSurface<2>>;
using SurfaceBuilder = BackgroundBuilder<TriangulatedSurface<2>>;
using Solid = Background<TetrahedralSolid<3>>;
using SolidBuilder = BackgroundBuilder<TetrahedralSolid<3>>;

/// The macro model as traced by hand, by names; names absent from a table carry nothing.
struct MacroModel {
    std::map<std::string, Edges> incident;
    std::map<std::string, Vertices> vertices;
    std::map<std::string, Edges> edges;
    std::map<std::string, Elements> elements;
};

template <index_t D>
class Names {
public:
    Names(std::initializer_list<std::pair<char, std::array<double, D>>> points) {
        for (const auto& [name, coordinates] : points) {
            names_.emplace(coordinates, std::string(1, name));
            points_.emplace(std::string(1, name), Point<D>{coordinates});
        }
    }

    const Point<D>& point(const std::string& name) const { return points_.at(name); }

    template <typename Mesh>
    std::string vertex_name(const Mesh& mesh, index_t vertex) const {
        return names_.at(mesh.point(vertex).values());
    }

    template <typename Mesh>
    std::string key(const Mesh& mesh, absl::Span<const index_t> vertices) const {
        std::string result;
        for (const index_t vertex : vertices) {
            result += vertex_name(mesh, vertex);
        }
        std::sort(result.begin(), result.end());
        return result;
    }

    template <typename Mesh>
    index_t vertex(const Mesh& mesh, const std::string& name) const {
        for (index_t vertex = 0; vertex < mesh.nb_vertices(); ++vertex) {
            if (vertex_name(mesh, vertex) == name) {
                return vertex;
            }
        }
        ADD_FAILURE() << "no vertex " << name;
        return NO_ID;
    }

    template <typename Mesh>
    index_t edge(const Mesh& mesh, const std::string& key) const {
        return mesh.edges()
            .edge_from_vertices(vertex(mesh, key.substr(0, 1)), vertex(mesh, key.substr(1, 1)))
            .value();
    }

    /// Checks every list of every vertex, edge and element, and that everything the model
    /// names still exists.
    template <typename Mesh>
    void expect(const Background<Mesh>& mesh, const MacroModel& model) const {
        const auto expected = [](const auto& table, const std::string& key) {
            const auto found = table.find(key);
            return found == table.end() ? typename std::decay_t<decltype(table)>::mapped_type{}
                                        : found->second;
        };
        for (index_t vertex = 0; vertex < mesh.nb_vertices(); ++vertex) {
            const auto name = vertex_name(mesh, vertex);
            EXPECT_EQ(mesh.incident_macro_edges(vertex), expected(model.incident, name)) << name;
            EXPECT_EQ(mesh.macro_vertices(vertex), expected(model.vertices, name)) << name;
        }
        std::size_t nb_edges_named = 0;
        for (index_t edge = 0; edge < mesh.edges().nb_edges(); ++edge) {
            const auto name = key(mesh, mesh.edges().edge_vertices(edge));
            nb_edges_named += model.edges.count(name);
            EXPECT_EQ(mesh.macro_edges(edge), expected(model.edges, name)) << name;
        }
        EXPECT_EQ(nb_edges_named, model.edges.size());
        std::size_t nb_elements_named = 0;
        for (index_t element = 0; element < MeshTraits<Mesh>::nb_elements(mesh); ++element) {
            const auto name = key(mesh, MeshTraits<Mesh>::element_vertices(mesh, element));
            nb_elements_named += model.elements.count(name);
            EXPECT_EQ(mesh.macro_elements(element), expected(model.elements, name)) << name;
        }
        EXPECT_EQ(nb_elements_named, model.elements.size());
    }

    template <typename Mesh>
    Edges common(const Background<Mesh>& mesh, const std::string& v0, const std::string& v1) const {
        return mesh.common_macro_edges(vertex(mesh, v0), vertex(mesh, v1));
    }

private:
    std::map<std::array<double, D>, std::string> names_;
    std::map<std::string, Point<D>> points_;
};

std::vector<index_t> reversed(index_t size) {
    std::vector<index_t> permutation(size);
    for (index_t k = 0; k < size; ++k) {
        permutation[k] = size - 1 - k;
    }
    return permutation;
}

TEST(MacroRoad, TriangulatedSurface) {
    // d---e---f
    // | / | / |     Triangles abe, ade, bcf, bef. The macro curve runs around the left square
    // a---b---c     (C0 to C3, one background edge each) and C4 along b-c-f.
    const Names<2> names{{'a', {0, 0}}, {'b', {1, 0}}, {'c', {2, 0}},   {'d', {0, 1}},
                         {'e', {1, 1}}, {'f', {2, 1}}, {'g', {0.5, 0}}, {'h', {0.25, 0.75}}};
    Surface mesh;
    SurfaceBuilder builder{mesh};
    for (const char name : std::string{"abcdef"}) {
        builder.create_point(names.point(std::string(1, name)));
    }
    builder.create_triangles(
        std::vector<std::array<index_t, 3>>{{0, 1, 4}, {0, 4, 3}, {1, 2, 5}, {1, 5, 4}});
    mesh.initialize_stores();

    const uuid curve;
    const uuid corners;
    const uuid surface;
    const MeshEdge c0{curve, 0}, c1{curve, 1}, c2{curve, 2}, c3{curve, 3}, c4{curve, 4};
    const MeshVertex q0{corners, 0}, q1{corners, 1};
    const MeshElement f0{surface, 0}, f1{surface, 1};

    builder.add_macro_edge_info(c0, {names.edge(mesh, "ab")});
    builder.add_macro_edge_info(c1, {names.edge(mesh, "be")});
    builder.add_macro_edge_info(c2, {names.edge(mesh, "de")});
    builder.add_macro_edge_info(c3, {names.edge(mesh, "ad")});
    builder.add_macro_edge_info(
        c4, std::vector<index_t>{names.edge(mesh, "bc"), names.edge(mesh, "cf")});
    builder.add_macro_vertex_info(q0, names.vertex(mesh, "a"));
    builder.add_macro_vertex_info(q1, names.vertex(mesh, "b"));
    builder.add_macro_element_info(f0, 0);
    builder.add_macro_element_info(f0, 1);
    builder.add_macro_element_info(f1, 2);
    builder.add_macro_element_info(f1, 3);
    builder.set_macro_info_mandatory(surface);

    MacroModel model;
    model.incident = {{"a", {c0, c3}}, {"b", {c0, c1, c4}}, {"c", {c4}},
                      {"d", {c2, c3}}, {"e", {c1, c2}},     {"f", {c4}}};
    model.vertices = {{"a", {q0}}, {"b", {q1}}};
    model.edges = {{"ab", {c0}}, {"be", {c1}}, {"de", {c2}},
                   {"ad", {c3}}, {"bc", {c4}}, {"cf", {c4}}};
    model.elements = {{"abe", {f0}}, {"ade", {f0}}, {"bcf", {f1}}, {"bef", {f1}}};
    names.expect(mesh, model);
    EXPECT_THAT(names.common(mesh, "a", "b"), ElementsAre(c0));
    EXPECT_THAT(names.common(mesh, "b", "d"), IsEmpty());
    EXPECT_THAT(names.common(mesh, "b", "e"), ElementsAre(c1));
    EXPECT_THAT(names.common(mesh, "c", "f"), ElementsAre(c4));
    EXPECT_THAT(names.common(mesh, "b", "c"), ElementsAre(c4));

    // Split edge ab at g (abe becomes age and gbe) and triangle ade at h. The new vertices,
    // edges and triangles start with empty lists; the old ones keep theirs.
    const index_t g = builder.create_point(names.point("g"));
    const index_t h = builder.create_point(names.point("h"));
    const index_t a = names.vertex(mesh, "a");
    const index_t b = names.vertex(mesh, "b");
    const index_t d = names.vertex(mesh, "d");
    const index_t e = names.vertex(mesh, "e");
    const index_t first_new = builder.create_triangles(
        std::vector<std::array<index_t, 3>>{{a, g, e}, {g, b, e}, {a, e, h}, {e, d, h}, {d, a, h}});
    EXPECT_EQ(mesh.edges().nb_edges(), 15);
    names.expect(mesh, model);

    // Carry the entries over. For ge the caller has no old edge: the walk ends at once.
    const index_t ab = names.edge(mesh, "ab");
    builder.update_edges(std::vector<MultiMapping<index_t>>{{names.edge(mesh, "ag"), {ab}},
                                                            {names.edge(mesh, "bg"), {ab}},
                                                            {names.edge(mesh, "eg"), {NO_ID, ab}}});
    std::vector<Mapping<index_t>> element_mappings;
    for (index_t k = 0; k < 5; ++k) {
        element_mappings.push_back({first_new + k, k < 2 ? 0u : 1u});
    }
    builder.update_elements(element_mappings);
    model.incident["g"] = {c0};
    model.edges["ag"] = {c0};
    model.edges["bg"] = {c0};
    for (const auto* key : {"aeg", "beg", "aeh", "deh", "adh"}) {
        model.elements[key] = {f0};
    }
    names.expect(mesh, model);
    EXPECT_THAT(names.common(mesh, "a", "g"), ElementsAre(c0));
    EXPECT_THAT(names.common(mesh, "g", "e"), IsEmpty());

    // Delete the old triangles: edge ab goes with them and the edge lists are compacted.
    std::vector<index_t> edges_old2new;
    builder.delete_polygons({true, true, false, false, false, false, false, false, false},
                            edges_old2new);
    EXPECT_EQ(mesh.edges().nb_edges(), 14);
    EXPECT_EQ(std::count(edges_old2new.begin(), edges_old2new.end(), NO_ID), 1);
    model.edges.erase("ab");
    model.elements.erase("abe");
    model.elements.erase("ade");
    names.expect(mesh, model);
    // Vertex lists keep what they recorded: a and b still lie on c0.
    EXPECT_THAT(names.common(mesh, "b", "a"), ElementsAre(c0));

    // Permute the vertices: the lists go with the vertices' points.
    builder.permute_vertices(reversed(mesh.nb_vertices()));
    EXPECT_THAT(mesh.incident_macro_edges(mesh.nb_vertices() - 1), ElementsAre(c0, c3));
    names.expect(mesh, model);

    // Clone: an independent copy whose stores adopt the copied tables. The mandatory set
    // belongs to the original store and does not travel.
    Surface copy{std::move(*mesh.clone())};
    names.expect(copy, model);
    EXPECT_TRUE(mesh.is_macro_info_mandatory(surface));
    EXPECT_FALSE(copy.is_macro_info_mandatory(surface));
    SurfaceBuilder{copy}.remove_macro_edge_info(c0, names.edge(copy, "ag"));
    EXPECT_THAT(copy.incident_macro_edges(names.vertex(copy, "a")), ElementsAre(c3));
    names.expect(mesh, model);

    // Initialising again adopts what the managers hold.
    mesh.initialize_stores();
    names.expect(mesh, model);

    // Cleaned: the managers drop the tables, and the store's lists no longer follow the mesh.
    mesh.clean_stores();
    EXPECT_FALSE(mesh.vertex_attribute_manager().attribute_exists("orvex macro edge"));
    EXPECT_FALSE(mesh.vertex_attribute_manager().attribute_exists("orvex macro vertex"));
    EXPECT_FALSE(mesh.edges().edge_attribute_manager().attribute_exists("orvex macro edge"));
    EXPECT_FALSE(mesh.polygon_attribute_manager().attribute_exists("orvex macro element"));
    const index_t a_before = names.vertex(mesh, "a");
    builder.permute_vertices(reversed(mesh.nb_vertices()));
    EXPECT_THAT(mesh.incident_macro_edges(a_before), ElementsAre(c0, c3));
    EXPECT_THAT(mesh.macro_vertices(a_before), ElementsAre(q0));
    EXPECT_NE(names.vertex(mesh, "a"), a_before);
}

TEST(MacroRoad, TetrahedralSolid) {
    const Names<3> names{{'a', {0, 0, 0}}, {'b', {1, 0, 0}}, {'c', {0, 1, 0}},
                         {'d', {0, 0, 1}}, {'e', {1, 1, 1}}, {'g', {0.5, 0, 0}}};
    Solid mesh;
    SolidBuilder builder{mesh};
    for (const char name : std::string{"abcde"}) {
        builder.create_point(names.point(std::string(1, name)));
    }
    builder.create_tetrahedra(std::vector<std::array<index_t, 4>>{{0, 1, 2, 3}, {1, 2, 3, 4}});
    mesh.initialize_stores();
    EXPECT_EQ(mesh.edges().nb_edges(), 9);

    const uuid curve;
    const uuid volume;
    const MeshEdge c0{curve, 0}, c1{curve, 1};
    const MeshVertex q0{curve, 0}, q1{curve, 1};
    const MeshElement f0{volume, 0}, f1{volume, 1};
    builder.add_macro_edge_info(
        c0, std::vector<index_t>{names.edge(mesh, "ab"), names.edge(mesh, "be")});
    builder.add_macro_edge_info(c1, {names.edge(mesh, "cd")});
    builder.add_macro_vertex_info(q0, names.vertex(mesh, "a"));
    builder.add_macro_vertex_info(q1, names.vertex(mesh, "e"));
    builder.add_macro_element_info(f0, 0);
    builder.add_macro_element_info(f1, 1);

    MacroModel model;
    model.incident = {{"a", {c0}}, {"b", {c0}}, {"e", {c0}}, {"c", {c1}}, {"d", {c1}}};
    model.vertices = {{"a", {q0}}, {"e", {q1}}};
    model.edges = {{"ab", {c0}}, {"be", {c0}}, {"cd", {c1}}};
    model.elements = {{"abcd", {f0}}, {"bcde", {f1}}};
    names.expect(mesh, model);
    EXPECT_THAT(names.common(mesh, "a", "e"), ElementsAre(c0));

    // Split edge ab at g: abcd becomes acdg and bcdg.
    const index_t g = builder.create_point(names.point("g"));
    const index_t first_new =
        builder.create_tetrahedra(std::vector<std::array<index_t, 4>>{{0, g, 2, 3}, {g, 1, 2, 3}});
    EXPECT_EQ(mesh.edges().nb_edges(), 13);
    names.expect(mesh, model);
    const index_t ab = names.edge(mesh, "ab");
    builder.update_edge(Mapping<index_t>{names.edge(mesh, "ag"), ab});
    builder.update_edge(Mapping<index_t>{names.edge(mesh, "bg"), ab});
    builder.update_elements(std::vector<Mapping<index_t>>{{first_new, 0}, {first_new + 1, 0}});
    builder.delete_polyhedra({true, false, false, false});
    EXPECT_EQ(mesh.edges().nb_edges(), 12);
    model.incident["g"] = {c0};
    model.edges.erase("ab");
    model.edges["ag"] = {c0};
    model.edges["bg"] = {c0};
    model.elements.erase("abcd");
    model.elements["acdg"] = {f0};
    model.elements["bcdg"] = {f0};
    names.expect(mesh, model);

    builder.permute_vertices(std::vector<index_t>{5, 3, 1, 0, 4, 2});
    builder.permute_polyhedra(std::vector<index_t>{2, 0, 1});
    names.expect(mesh, model);

    Solid copy{std::move(*mesh.clone())};
    names.expect(copy, model);

    mesh.clean_stores();
    EXPECT_FALSE(mesh.vertex_attribute_manager().attribute_exists("orvex macro edge"));
    EXPECT_FALSE(mesh.vertex_attribute_manager().attribute_exists("orvex macro vertex"));
    EXPECT_FALSE(mesh.edges().edge_attribute_manager().attribute_exists("orvex macro edge"));
    EXPECT_FALSE(mesh.polyhedron_attribute_manager().attribute_exists("orvex macro element"));
    names.expect(copy, model);
}

}  // namespace
}  // namespace internal
}  // namespace orvex
