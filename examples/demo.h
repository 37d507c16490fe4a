#pragma once

// The pieces of the demo program: a background surface that carries macro edges, the quality
// report of a mesh, the search benchmark, the macro polyline road and the picture writers.
//
// Every step prints its results on standard output and its progress on standard error. The
// checks a step makes (counts that must agree, macro edges that must be found again) are
// returned as a number of failures; the program exits non-zero when any fails.

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "orvex/background_common/internal_distance/internal_distance.h"
#include "orvex/background_common/macro_info/macro_edges.h"
#include "orvex/background_common/macro_info/macro_edges_builder.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/tetrahedral_solid.h"
#include "polvane/mesh/triangulated_surface.h"
#include "polvane/mesh/triangulated_surface_builder.h"

namespace orvex::demo {

/// A planar triangulation with edges that records macro edges on its own vertex and edge
/// attribute managers, so that the records follow every renumbering of the mesh.
class BackgroundSurface : public TriangulatedSurface<2>, public internal::MacroEdges {
public:
    explicit BackgroundSurface(TriangulatedSurface<2>&& mesh);

    [[nodiscard]] const std::array<index_t, 2>& background_mesh_edge_vertices(
        index_t edge) const override {
        return edges().edge_vertices(edge);
    }
};

/// The one editor of a `BackgroundSurface`: mesh changes and macro edge records.
class BackgroundSurfaceBuilder : public TriangulatedSurfaceBuilder<2>,
                                 public internal::MacroEdgesBuilder {
public:
    explicit BackgroundSurfaceBuilder(BackgroundSurface& mesh)
        : TriangulatedSurfaceBuilder<2>(mesh), MacroEdgesBuilder(mesh) {}
};

/// Per element: its status and its smallest internal distance.
struct ElementQuality {
    std::vector<internal::InternalDistance::ELEMENT_STATUS> statuses;
    std::vector<double> distances;
};

/// The default square: 60 x 60 jittered cells of two triangles, two triangles flattened (a
/// vertex moved onto the opposite edge) and one inverted (a vertex pushed across it).
TriangulatedSurface<2> default_surface();

/// The default cube: 14 jittered cells per side of six tetrahedra, three tetrahedra made flat
/// or nearly so (a vertex moved onto its opposite facet, or 1% and 3% of the way short of it).
TetrahedralSolid<3> default_solid();

/// Prints "[demo <seconds since start> s] message" on standard error.
void progress(const std::string& message);

/// The progress of a long loop on standard error, so that a large file never looks frozen:
/// "[demo ... s] <what>: <done> of <total>", once a second has passed since the loop began and
/// then at most once a second. A loop shorter than a second prints nothing.
class ProgressMeter {
public:
    ProgressMeter(std::string what, std::size_t total);

    /// Called with the number of items done so far; reads the clock every 1024 items.
    void update(std::size_t done) {
        if ((done & 1023U) == 0) {
            report(done);
        }
    }

private:
    void report(std::size_t done);

    std::string what_;
    std::size_t total_;
    double next_;
};

/// Step 1 on a surface or a solid: prints the report and returns the per-element figures.
/// `failures` counts the cross-checks that disagree.
ElementQuality report_quality(const TriangulatedSurface<2>& surface, int& failures);
ElementQuality report_quality(const TetrahedralSolid<3>& solid, int& failures);

/// The figures of `report_quality` without the report.
ElementQuality measure_quality(const TriangulatedSurface<2>& surface);

/// Step 2: locates `nb_queries` points spread over the bounding box and element centroids.
void report_search(const TriangulatedSurface<2>& surface, std::size_t nb_queries, int& failures);
void report_search(const TetrahedralSolid<3>& solid, std::size_t nb_queries, int& failures);

/// What the macro road leaves for the pictures: the macro polyline drawn as point lists.
struct RoadResult {
    std::vector<std::vector<Point<2>>> polylines;
    bool traced{false};
};

/// Step 3: traces macro edges on `surface` along a walk of its edges, renumbers the mesh
/// (vertex permutation, deletion of triangles away from the road, compaction), and checks that
/// every macro edge is found again. `surface` is the renumbered mesh afterwards.
RoadResult trace_macro_road(BackgroundSurface& surface, int& failures);

/// Step 4: an SVG picture of the surface (elements coloured by status, macro edges drawn).
void write_svg(const std::string& path, const TriangulatedSurface<2>& surface,
               const ElementQuality& quality, const RoadResult& road);

/// Step 4: a legacy ASCII VTK file (UNSTRUCTURED_GRID) with the cell data "status",
/// "internal_distance" and "macro_edges" (the number of macro edge records on the triangle's
/// three edges).
void write_vtk(const std::string& path, const BackgroundSurface& surface,
               const ElementQuality& quality);

/// The same for tetrahedra, with "status" and "internal_distance".
void write_vtk(const std::string& path, const TetrahedralSolid<3>& solid,
               const ElementQuality& quality);

}  // namespace orvex::demo
