// Macro edges followed through a renumbering: macro edges are recorded on background edges of a
// planar Medit mesh, the mesh's vertices are permuted and some of its triangles deleted, and
// every macro edge is looked for again where its vertices went.
//
// Usage: orvex_example_macro_edges_renumbering MESH_FILE
// Exit status: 0 when every macro edge is found again; 1 when one is lost or the file is
// unusable; 2 on bad arguments.

#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "example_support.h"
#include "orvex/background_common/macro_info/macro_edges.h"
#include "orvex/background_common/macro_info/macro_edges_builder.h"
#include "orvex_common/modifier/vertices_modifier.h"
#include "polvane/basic/uuid.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace {

using orvex::index_t;

// A planar triangulation whose edges carry macro edge records on its own attributes, so that
// the records follow every renumbering of the mesh.
class Background : public orvex::TriangulatedSurface<2>, public orvex::internal::MacroEdges {
public:
    explicit Background(orvex::TriangulatedSurface<2>&& mesh)
        : TriangulatedSurface<2>(std::move(mesh)) {
        enable_edges();
        initialize_macro_edges_data_base(vertex_attribute_manager(),
                                         edges().edge_attribute_manager());
    }

    const std::array<index_t, 2>& background_mesh_edge_vertices(index_t edge) const override {
        return edges().edge_vertices(edge);
    }
};

class Builder : public orvex::TriangulatedSurfaceBuilder<2>,
                public orvex::internal::MacroEdgesBuilder {
public:
    explicit Builder(Background& mesh)
        : TriangulatedSurfaceBuilder<2>(mesh), MacroEdgesBuilder(mesh) {}
};

// 1. Record: macro edge k of one curve runs along the three edges of triangle k (k < 3); returns
//    the vertex pairs of those edges.
std::vector<std::vector<std::array<index_t, 2>>> record(Background& mesh, Builder& builder) {
    const orvex::uuid curve;
    std::vector<std::vector<std::array<index_t, 2>>> recorded;
    for (index_t k = 0; k < std::min<index_t>(3, mesh.nb_polygons()); ++k) {
        std::vector<index_t> edges;
        recorded.emplace_back();
        for (orvex::local_index_t side = 0; side < 3; ++side) {
            const auto vertices = mesh.polygon_edge_vertices(orvex::PolygonEdge{k, side});
            edges.push_back(mesh.edges().edge_from_vertices(vertices).value());
            recorded.back().push_back(vertices);
        }
        builder.add_macro_edge_info(orvex::MeshEdge{curve, k}, edges);
    }
    return recorded;
}

// 2. Permute: the vertices in reverse order.
void permute(Builder& builder, index_t nb_vertices, orvex::VerticesModifier& modifier) {
    std::vector<index_t> permutation(nb_vertices);
    std::iota(permutation.rbegin(), permutation.rend(), 0);
    builder.permute_vertices(permutation);
    modifier.apply_renumbering(permutation);  // a reversal is its own inverse
}

// 3. Delete: every other triangle from the fourth on, then the vertices left isolated.
void delete_some(Background& mesh, Builder& builder, orvex::VerticesModifier& modifier) {
    std::vector<bool> to_delete(mesh.nb_polygons(), false);
    for (index_t t = 3; t < mesh.nb_polygons(); t += 2) {
        to_delete[t] = true;
    }
    builder.delete_polygons(to_delete);
    modifier.apply_renumbering(builder.delete_isolated_vertices());
}

// 4. Check: each recorded edge, where its vertices went, still carries its macro edge.
std::size_t check(const Background& mesh, const orvex::VerticesModifier& modifier,
                  const std::vector<std::vector<std::array<index_t, 2>>>& recorded) {
    std::size_t lost = 0;
    for (index_t k = 0; k < recorded.size(); ++k) {
        std::size_t found = 0;
        for (const auto& [v0, v1] : recorded[k]) {
            const auto edge = mesh.edges().edge_from_vertices(modifier.updated_vertex(v0).value(),
                                                              modifier.updated_vertex(v1).value());
            const auto on_edge = edge ? mesh.macro_edges(*edge) : std::vector<orvex::MeshEdge>{};
            found += std::any_of(on_edge.begin(), on_edge.end(),
                                 [k](const orvex::MeshEdge& m) { return m.edge == k; });
        }
        std::printf("  macro edge %u: %zu of %zu background edges found\n", k, found,
                    recorded[k].size());
        lost += recorded[k].size() - found;
    }
    return lost;
}

}  // namespace

int main(int argc, char** argv) {
    return orvex::examples::run_example(
        argc, argv, "MESH_FILE", [](const std::vector<std::string>& arguments) {
            Background mesh{orvex::examples::to_triangulated_surface(
                orvex::examples::read_mesh_with_notes(arguments[0]))};
            Builder builder{mesh};
            orvex::VerticesModifier modifier{mesh.nb_vertices()};
            const auto recorded = record(mesh, builder);
            permute(builder, mesh.nb_vertices(), modifier);
            delete_some(mesh, builder, modifier);
            std::printf("after renumbering: %u vertices, %u triangles\n", mesh.nb_vertices(),
                        mesh.nb_polygons());
            if (check(mesh, modifier, recorded) != 0) {
                std::fprintf(stderr, "error: macro edges were lost\n");
                return 1;
            }
            return 0;
        });
}
