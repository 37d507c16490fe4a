// Quality report of a mesh file (Medit, Gmsh, VTK or TetGen): how many of its triangles (planar
// files) or tetrahedra are valid, degenerated (smallest internal distance at most the tolerance)
// or inverted, and which elements come closest to degenerating.
//
// Usage: orvex_example_mesh_quality MESH_FILE
// Exit status: 0; 1 on an unusable file; 2 on bad arguments.

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "example_support.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"

namespace {

using orvex::index_t;
using orvex::internal::InternalDistance;
using Status = InternalDistance::ELEMENT_STATUS;

// Prints the counts per status and the three elements with the smallest internal distances.
// `measure(e)` gives the status and the smallest internal distance of element `e`.
template <typename Measure>
void report(index_t nb_elements, const char* name, const Measure& measure) {
    std::size_t counts[3] = {0, 0, 0};
    std::vector<std::pair<InternalDistance, index_t>> smallest;
    for (index_t e = 0; e < nb_elements; ++e) {
        const auto [status, distance] = measure(e);
        ++counts[static_cast<int>(status)];
        smallest.emplace_back(distance, e);
    }
    const auto shown = std::min<std::size_t>(3, smallest.size());
    std::partial_sort(
        smallest.begin(), smallest.begin() + static_cast<std::ptrdiff_t>(shown), smallest.end(),
        [](const auto& a, const auto& b) { return a.first.distance < b.first.distance; });
    std::printf("%u %s: %zu valid, %zu degenerated, %zu inverted\n", nb_elements, name,
                counts[static_cast<int>(Status::valid)],
                counts[static_cast<int>(Status::degenerated)],
                counts[static_cast<int>(Status::inverted)]);
    for (std::size_t k = 0; k < shown; ++k) {
        std::printf("  element %u: %s\n", smallest[k].second, smallest[k].first.string().c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    return orvex::examples::run_example(
        argc, argv, "MESH_FILE", [](const std::vector<std::string>& arguments) {
            const auto file = orvex::examples::read_mesh_with_notes(arguments[0]);
            if (file.dimension == 3 && !file.tetrahedra.empty()) {
                const auto solid = orvex::examples::to_tetrahedral_solid(file);
                report(solid.nb_polyhedra(), "tetrahedra", [&solid](index_t e) {
                    const auto tetrahedron = solid.tetrahedron(e);
                    return std::pair{
                        orvex::internal::tetrahedron_status(tetrahedron),
                        orvex::internal::minimal_tetrahedron_internal_distance(tetrahedron)};
                });
            } else {
                const auto surface = orvex::examples::to_triangulated_surface(file);
                report(surface.nb_polygons(), "triangles", [&surface](index_t e) {
                    const auto triangle = surface.triangle(e);
                    return std::pair{orvex::internal::triangle_status(triangle),
                                     orvex::internal::minimal_triangle_internal_distance(triangle)};
                });
            }
            return 0;
        });
}
