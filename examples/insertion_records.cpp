// Insertion records of a segment: the records an inserting code keeps for a segment across a
// planar Medit mesh: the mesh vertices it passes through, met in no particular order and then
// sorted along it, and one status per triangle it crosses (`inserted` where it runs along an
// edge of the triangle), summed up for the segment.
//
// Usage: orvex_example_insertion_records MESH_FILE X0 Y0 X1 Y1
// Exit status: 0; 1 on an unusable file or segment; 2 on bad arguments (a coordinate that is
// not a finite number, such as "abc", included).

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "example_support.h"
#include "orvex/background_common/element_search/element_search.h"
#include "orvex/background_common/insertion/element_insertion_info.h"
#include "orvex/background_common/insertion/macro_edge_insertion_info.h"
#include "polvane/geometry/distance.h"

namespace {

using orvex::index_t;
using orvex::Point;
using orvex::internal::ElementInsertionInfo;
using Status = ElementInsertionInfo::INSERTION_STATUS;

const char* name(Status status) {
    static const char* const names[] = {"fully inserted", "partially inserted", "inserted",
                                        "not inserted", "degenerated"};
    return names[static_cast<int>(status)];
}

bool on_segment(const Point<2>& point, const orvex::Segment<2>& segment) {
    return orvex::point_segment_distance(point, segment) <= orvex::GLOBAL_EPSILON;
}

// The points met: every mesh vertex on the segment, in a shuffled order as a search would meet
// them.
void record_points(const orvex::TriangulatedSurface<2>& mesh, const orvex::Segment<2>& segment,
                   orvex::internal::MacroEdgeInsertionInfo<2>& info) {
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        if (on_segment(mesh.point(v), segment)) {
            info.points.push_back({mesh.point(v), v, {}});
        }
    }
    std::shuffle(info.points.begin(), info.points.end(), std::mt19937{1});
}

// The statuses: the triangles under 200 samples of the segment (the middles of 200 equal parts,
// so that a triangle merely touching an end is not counted), `inserted` when two of their
// vertices lie on it (it runs along one of their edges).
void record_statuses(const orvex::TriangulatedSurface<2>& mesh, const orvex::Segment<2>& segment,
                     orvex::internal::MacroEdgeInsertionInfo<2>& info,
                     ElementInsertionInfo& elements) {
    orvex::internal::ElementSearch<orvex::TriangulatedSurface<2>> search;
    search.reinitialize_elements_tree(mesh);
    std::vector<index_t> crossed;
    const auto& [a, b] = segment.vertices();
    for (int s = 0; s < 200; ++s) {
        const double t = (s + 0.5) / 200;
        const auto element = search.initial_containing_element(a * (1 - t) + b * t);
        // NO_ID inside the optional: the mesh has no triangle.
        if (!element || *element == orvex::NO_ID
            || std::find(crossed.begin(), crossed.end(), *element) != crossed.end()) {
            continue;
        }
        crossed.push_back(*element);
        int on = 0;
        for (const index_t v : mesh.polygon_vertices(*element)) {
            on += on_segment(mesh.point(v), segment) ? 1 : 0;
        }
        const Status status = on >= 2 ? Status::inserted : Status::not_inserted;
        info.statuses.push_back(status);
        elements.add(status, *element);
    }
}

}  // namespace

int main(int argc, char** argv) {
    using orvex::examples::number_argument;
    return orvex::examples::run_example(
        argc, argv, "MESH_FILE X0 Y0 X1 Y1", [](const std::vector<std::string>& arguments) {
            const Point<2> a{
                {number_argument(arguments[1], "X0"), number_argument(arguments[2], "Y0")}};
            const Point<2> b{
                {number_argument(arguments[3], "X1"), number_argument(arguments[4], "Y1")}};
            const auto mesh = orvex::examples::to_triangulated_surface(
                orvex::examples::read_mesh_with_notes(arguments[0]));
            const orvex::Segment<2> segment{a, b};
            orvex::internal::MacroEdgeInsertionInfo<2> info;
            ElementInsertionInfo elements;
            record_points(mesh, segment, info);
            record_statuses(mesh, segment, info, elements);
            if (info.points.size() >= 2) {
                info.sort(segment);
            }
            std::printf("segment (%s) to (%s)\n  vertices on it, sorted along it:",
                        a.string().c_str(), b.string().c_str());
            for (const auto& point : info.points) {
                std::printf(" %u", *point.vertex);
            }
            std::printf("\n  triangles crossed: %zu;", info.statuses.size());
            for (const Status status : {Status::inserted, Status::not_inserted}) {
                const auto list = elements.elements.find(status);
                std::printf(" %s %zu", name(status),
                            list == elements.elements.end() ? std::size_t{0} : list->second.size());
            }
            std::printf("\n  summary: %s\n", name(info.insertion_status(segment)));
            return 0;
        });
}
