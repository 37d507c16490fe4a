// Step 3 of the demo: the road of a macro polyline through a background surface.
//
// Inserting a macro edge (splitting background elements) is the remesher's business, so the
// demo takes a macro polyline that the background mesh already carries: a walk along its edges
// between two distant vertices that stays close to the straight segment between them. The walk
// is cut into a few macro edges; each one is recorded as an inserting code would record it,
// then on the background edges it runs along. The mesh is then renumbered and every record is
// looked for again.
//
// The steps, each a function below: the edge graph, the two ends of the walk, the walk, its
// cut into macro edges, their records, the chord's records, the report, the renumbering and
// the final check. Distances are the base library's, which neither overflow nor lose accuracy;
// a mesh whose coordinates are not finite, or so large that no end can be chosen, gets a note
// and no macro polyline.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <queue>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "demo.h"
#include "orvex/background_common/element_search/element_search.h"
#include "orvex/background_common/insertion/element_insertion_info.h"
#include "orvex/background_common/insertion/macro_edge_insertion_info.h"
#include "orvex_common/modifier/vertices_modifier.h"
#include "polvane/basic/uuid.h"
#include "polvane/geometry/distance.h"
#include "polvane/geometry/segment.h"

namespace orvex::demo {
namespace {

using internal::ElementInsertionInfo;
using internal::InsertionLocation;
using internal::MacroEdgeInsertionInfo;
using Status = ElementInsertionInfo::INSERTION_STATUS;

// The background edges as a graph, and the bounding box of the vertices they use.
struct EdgeGraph {
    std::vector<std::vector<index_t>> neighbours;
    std::vector<bool> used;
    Point<2> low;
    Point<2> high;
};

EdgeGraph build_graph(const BackgroundSurface& surface) {
    EdgeGraph graph;
    graph.neighbours.resize(surface.nb_vertices());
    graph.used.assign(surface.nb_vertices(), false);
    const auto& edges = surface.edges();
    for (index_t e = 0; e < edges.nb_edges(); ++e) {
        const auto& [v0, v1] = edges.edge_vertices(e);
        graph.neighbours[v0].push_back(v1);
        graph.neighbours[v1].push_back(v0);
        graph.used[v0] = graph.used[v1] = true;
    }
    const double infinity = std::numeric_limits<double>::infinity();
    std::array<double, 2> low{infinity, infinity};
    std::array<double, 2> high{-infinity, -infinity};
    for (index_t v = 0; v < surface.nb_vertices(); ++v) {
        for (index_t axis = 0; graph.used[v] && axis < 2; ++axis) {
            low[axis] = std::min(low[axis], surface.point(v).value(axis));
            high[axis] = std::max(high[axis], surface.point(v).value(axis));
        }
    }
    graph.low = Point<2>{low};
    graph.high = Point<2>{high};
    return graph;
}

// The used vertex nearest to `target`; none when no distance is a number (NaN coordinates).
// Distances too large for a double (infinite) still compare, so huge meshes get an answer.
std::optional<index_t> nearest_vertex(const TriangulatedSurface<2>& surface, const EdgeGraph& graph,
                                      const Point<2>& target) {
    std::optional<index_t> best;
    double best_distance = 0;
    for (index_t v = 0; v < surface.nb_vertices(); ++v) {
        const double d = point_point_distance(surface.point(v), target);
        if (graph.used[v] && !std::isnan(d) && (!best || d < best_distance)) {
            best = v;
            best_distance = d;
        }
    }
    return best;
}

// Two distant vertices: those nearest to two points across the bounding box (taken between its
// corners without forming their difference, which may overflow).
std::optional<std::pair<index_t, index_t>> choose_ends(const TriangulatedSurface<2>& surface,
                                                       const EdgeGraph& graph) {
    const auto at = [&graph](double fx, double fy) {
        return Point<2>{{graph.low.value(0) * (1 - fx) + graph.high.value(0) * fx,
                         graph.low.value(1) * (1 - fy) + graph.high.value(1) * fy}};
    };
    const auto start = nearest_vertex(surface, graph, at(0.1, 0.2));
    const auto end = nearest_vertex(surface, graph, at(0.9, 0.75));
    if (!start || !end) {
        return std::nullopt;
    }
    return std::pair{*start, *end};
}

// Shortest walk from `from` to `to` along mesh edges, each edge weighted by its length plus
// three times the distance of its midpoint to the segment [from, to]. With `monotone`, only
// edges that progress along the segment's main axis are taken, so that the walk's points come
// in the order a sort along that axis gives. Empty when `to` cannot be reached (also when the
// costs are not finite numbers).
std::vector<index_t> walk(const TriangulatedSurface<2>& surface, const EdgeGraph& graph,
                          index_t from, index_t to, bool monotone) {
    const Segment<2> chord{surface.point(from), surface.point(to)};
    const Point<2>& a = surface.point(from);
    const Point<2>& b = surface.point(to);
    const index_t axis =
        std::fabs(b.value(0) - a.value(0)) >= std::fabs(b.value(1) - a.value(1)) ? 0 : 1;
    const double sign = b.value(axis) >= a.value(axis) ? 1.0 : -1.0;
    std::vector<double> cost(surface.nb_vertices(), std::numeric_limits<double>::infinity());
    std::vector<index_t> previous(surface.nb_vertices(), NO_ID);
    using Entry = std::pair<double, index_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
    cost[from] = 0;
    queue.push({0.0, from});
    while (!queue.empty()) {
        const auto [c, v] = queue.top();
        queue.pop();
        if (c > cost[v]) {
            continue;
        }
        if (v == to) {
            break;
        }
        const Point<2>& p = surface.point(v);
        for (const index_t w : graph.neighbours[v]) {
            const Point<2>& q = surface.point(w);
            if (monotone && !(sign * (q.value(axis) - p.value(axis)) > 0)) {
                continue;
            }
            const Point<2> middle{
                {p.value(0) / 2 + q.value(0) / 2, p.value(1) / 2 + q.value(1) / 2}};
            const double next =
                c + point_point_distance(p, q) + 3 * point_segment_distance(middle, chord);
            if (next < cost[w]) {
                cost[w] = next;
                previous[w] = v;
                queue.push({next, w});
            }
        }
    }
    if (previous[to] == NO_ID) {
        return {};
    }
    std::vector<index_t> path{to};
    while (path.back() != from) {
        path.push_back(previous[path.back()]);
    }
    std::reverse(path.begin(), path.end());
    return path;
}

// One macro edge of the polyline: the background vertices it runs through, in order.
struct MacroEdgeRoad {
    MeshEdge id;
    std::vector<index_t> vertices;
    MacroEdgeInsertionInfo<2> info;
};

// Cuts the walk into up to four macro edges of nearly equal lengths in edges.
std::vector<MacroEdgeRoad> cut_walk(const std::vector<index_t>& path) {
    const uuid curve;
    const std::size_t nb_steps = path.size() - 1;
    const std::size_t nb_macro = std::min<std::size_t>(4, nb_steps);
    std::vector<MacroEdgeRoad> roads(nb_macro);
    for (std::size_t k = 0; k < nb_macro; ++k) {
        const std::size_t first = k * nb_steps / nb_macro;
        const std::size_t last = (k + 1) * nb_steps / nb_macro;
        roads[k].id = MeshEdge{curve, static_cast<index_t>(k)};
        roads[k].vertices.assign(path.begin() + static_cast<std::ptrdiff_t>(first),
                                 path.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    }
    return roads;
}

// What recording gathers over every macro edge and the chord.
struct RoadRecords {
    ElementInsertionInfo elements;
    std::size_t nb_statuses{0};
    std::size_t sorted_as_walked{0};
    std::array<std::size_t, 5> summaries{};
};

// Per background edge, one triangle that has it.
std::vector<index_t> edge_polygons(const BackgroundSurface& surface) {
    std::vector<index_t> polygon(surface.edges().nb_edges(), NO_ID);
    for (index_t t = 0; t < surface.nb_polygons(); ++t) {
        for (local_index_t k = 0; k < 3; ++k) {
            const auto vertices = surface.polygon_edge_vertices(PolygonEdge{t, k});
            const index_t e = surface.edges().edge_from_vertices(vertices).value();
            if (polygon[e] == NO_ID) {
                polygon[e] = t;
            }
        }
    }
    return polygon;
}

// Records each macro edge as an inserting code meets it: its points in no particular order
// (shuffled), then sorted along the macro edge; one `inserted` status per background edge;
// then the macro edge on the background edges it runs along.
void record_roads(BackgroundSurface& surface, std::vector<MacroEdgeRoad>& roads,
                  std::mt19937_64& random, RoadRecords& records) {
    BackgroundSurfaceBuilder builder{surface};
    const auto& edges = surface.edges();
    const std::vector<index_t> edge_polygon = edge_polygons(surface);
    for (auto& road : roads) {
        const Segment<2> segment{surface.point(road.vertices.front()),
                                 surface.point(road.vertices.back())};
        const std::size_t n = road.vertices.size();
        for (std::size_t k = 0; k < n; ++k) {
            InsertionLocation location;
            location.feature = InsertionLocation::FEATURE::vertex;
            location.feature_index = road.vertices[k];
            location.parameter = static_cast<double>(k) / static_cast<double>(n - 1);
            road.info.points.push_back(
                {surface.point(road.vertices[k]), road.vertices[k], location});
        }
        std::shuffle(road.info.points.begin(), road.info.points.end(), random);
        road.info.sort(segment);
        bool same = road.info.points.size() == n;
        for (std::size_t k = 0; same && k < n; ++k) {
            same = road.info.points[k].vertex == road.vertices[k];
        }
        records.sorted_as_walked += same ? 1 : 0;

        std::vector<index_t> background_edges;
        for (std::size_t k = 0; k + 1 < n; ++k) {
            const index_t e =
                edges.edge_from_vertices(road.vertices[k], road.vertices[k + 1]).value();
            background_edges.push_back(e);
            road.info.statuses.push_back(Status::inserted);
            records.elements.add(Status::inserted, edge_polygon[e]);
            ++records.nb_statuses;
        }
        ++records.summaries[static_cast<std::size_t>(road.info.insertion_status(segment))];
        builder.add_macro_edge_info(road.id, background_edges);
    }
}

const char* status_name(Status status) {
    switch (status) {
        case Status::fully_inserted:
            return "fully_inserted";
        case Status::partially_inserted:
            return "partially_inserted";
        case Status::inserted:
            return "inserted";
        case Status::not_inserted:
            return "not_inserted";
        case Status::degenerated:
            return "degenerated";
    }
    return "?";
}

// A shortcut: the straight chord from the first to the last vertex, which the mesh does not
// carry. The elements it crosses (located along it) count as inserted where the walk runs
// along one of their edges, and as not inserted elsewhere.
void record_chord(const BackgroundSurface& surface, index_t start, index_t end,
                  RoadRecords& records) {
    const Point<2>& a = surface.point(start);
    const Point<2>& b = surface.point(end);
    internal::ElementSearch<TriangulatedSurface<2>> element_search;
    element_search.reinitialize_elements_tree(surface);
    std::vector<bool> on_walk(surface.nb_polygons(), false);
    for (index_t t = 0; t < surface.nb_polygons(); ++t) {
        for (local_index_t k = 0; k < 3; ++k) {
            const auto vertices = surface.polygon_edge_vertices(PolygonEdge{t, k});
            const index_t e = surface.edges().edge_from_vertices(vertices).value();
            on_walk[t] = on_walk[t] || !surface.macro_edges(e).empty();
        }
    }
    MacroEdgeInsertionInfo<2> chord;
    std::vector<index_t> crossed;
    const int samples = 256;
    for (int s = 0; s <= samples; ++s) {
        const double t = static_cast<double>(s) / samples;
        const Point<2> p{
            {a.value(0) * (1 - t) + b.value(0) * t, a.value(1) * (1 - t) + b.value(1) * t}};
        const auto element = element_search.initial_containing_element(p);
        if (element && *element != NO_ID
            && std::find(crossed.begin(), crossed.end(), *element) == crossed.end()) {
            crossed.push_back(*element);
            const Status status = on_walk[*element] ? Status::inserted : Status::not_inserted;
            chord.statuses.push_back(status);
            records.elements.add(status, *element);
            ++records.nb_statuses;
        }
    }
    const Status summary = chord.insertion_status(Segment<2>{a, b});
    ++records.summaries[static_cast<std::size_t>(summary)];
    std::printf("  chord from vertex %u to vertex %u crosses %zu elements: %s\n", start, end,
                crossed.size(), status_name(summary));
}

// Prints the records' figures and checks that every status recorded is counted once.
void report_records(const RoadRecords& records, std::size_t nb_roads, int& failures) {
    std::printf("  %zu macro edges along the walk; %zu of them sorted back into walk order\n",
                nb_roads, records.sorted_as_walked);
    std::size_t counted = 0;
    std::printf("  element statuses:");
    for (std::size_t s = 0; s < records.summaries.size(); ++s) {
        const auto list = records.elements.elements.find(static_cast<Status>(s));
        if (list != records.elements.elements.end()) {
            std::printf(" %s %zu", status_name(list->first), list->second.size());
            counted += list->second.size();
        }
    }
    std::printf("\n  macro edge summaries:");
    for (std::size_t s = 0; s < records.summaries.size(); ++s) {
        if (records.summaries[s] != 0) {
            std::printf(" %s %zu", status_name(static_cast<Status>(s)), records.summaries[s]);
        }
    }
    std::printf("\n");
    if (counted != records.nb_statuses) {
        std::printf("  CHECK FAILED: %zu statuses summed, %zu recorded\n", counted,
                    records.nb_statuses);
        ++failures;
    }
}

// Renumbers: a random vertex permutation, then the deletion of the triangles farther than
// `reach` from the chord [start, end] and of the vertices they leave isolated. The macro edge
// records are attributes of the mesh and follow it; `modifier` learns both renumberings.
void renumber(BackgroundSurface& surface, index_t start, index_t end, double reach,
              std::mt19937_64& random, VerticesModifier& modifier) {
    BackgroundSurfaceBuilder builder{surface};
    std::vector<index_t> permutation(surface.nb_vertices());
    std::iota(permutation.begin(), permutation.end(), 0);
    std::shuffle(permutation.begin(), permutation.end(), random);
    std::vector<index_t> old2new(surface.nb_vertices());
    for (index_t k = 0; k < surface.nb_vertices(); ++k) {
        old2new[permutation[k]] = k;
    }
    progress("permuting " + std::to_string(surface.nb_vertices()) + " vertices");
    builder.permute_vertices(permutation);
    modifier.apply_renumbering(old2new);

    const Segment<2> chord{surface.point(modifier.updated_vertex(start).value()),
                           surface.point(modifier.updated_vertex(end).value())};
    std::vector<bool> to_delete(surface.nb_polygons(), false);
    std::size_t nb_deleted = 0;
    for (index_t t = 0; t < surface.nb_polygons(); ++t) {
        bool far = true;
        for (const index_t v : surface.polygon_vertices(t)) {
            far = far && point_segment_distance(surface.point(v), chord) > reach;
        }
        to_delete[t] = far;
        nb_deleted += far ? 1 : 0;
    }
    progress("deleting " + std::to_string(nb_deleted) + " triangles far from the walk");
    const auto& edges = surface.edges();
    const index_t edges_before = edges.nb_edges();
    builder.delete_polygons(to_delete);
    const auto vertices_old2new = builder.delete_isolated_vertices();
    modifier.apply_renumbering(vertices_old2new);
    std::printf(
        "  renumbered: vertices permuted, %zu triangles, %u edges and %u vertices "
        "deleted; now %u vertices, %u triangles, %u edges\n",
        nb_deleted, edges_before - edges.nb_edges(),
        static_cast<index_t>(vertices_old2new.size()) - surface.nb_vertices(),
        surface.nb_vertices(), surface.nb_polygons(), edges.nb_edges());
}

// Whether `road` is found again where its vertices went: its insertion points on the moved
// vertices, and its id on every background edge of the walk and on both ends of each.
bool found_again(const BackgroundSurface& surface, const VerticesModifier& modifier,
                 MacroEdgeRoad& road, std::vector<Point<2>>& polyline) {
    road.info.update_vertices(modifier);
    bool ok = true;
    std::vector<index_t> current;
    for (const index_t v : road.vertices) {
        const auto moved = modifier.updated_vertex(v);
        ok = ok && moved.has_value();
        if (moved) {
            current.push_back(*moved);
            polyline.push_back(surface.point(*moved));
        }
    }
    for (const auto& point : road.info.points) {
        ok = ok && point.vertex && surface.point(*point.vertex) == point.point;
    }
    const auto has = [&road](const std::vector<MeshEdge>& list) {
        return std::find(list.begin(), list.end(), road.id) != list.end();
    };
    for (std::size_t k = 0; ok && k + 1 < current.size(); ++k) {
        const auto e = surface.edges().edge_from_vertices(current[k], current[k + 1]);
        ok = e && has(surface.macro_edges(*e)) && has(surface.incident_macro_edges(current[k]))
             && has(surface.incident_macro_edges(current[k + 1]));
    }
    return ok;
}

// Looks for every macro edge again and checks that the edge records match the walk.
void check_roads(const BackgroundSurface& surface, const VerticesModifier& modifier,
                 std::vector<MacroEdgeRoad>& roads, RoadResult& result, int& failures) {
    std::size_t found = 0;
    std::size_t expected_records = 0;
    for (auto& road : roads) {
        std::vector<Point<2>> polyline;
        const bool ok = found_again(surface, modifier, road, polyline);
        expected_records += road.vertices.size() - 1;
        found += ok ? 1 : 0;
        if (!ok) {
            std::printf("  CHECK FAILED: macro edge %u is not found after renumbering\n",
                        road.id.edge);
            ++failures;
        }
        result.polylines.push_back(std::move(polyline));
    }
    std::size_t records = 0;
    for (index_t e = 0; e < surface.edges().nb_edges(); ++e) {
        records += surface.macro_edges(e).size();
    }
    std::printf(
        "  after renumbering: %zu of %zu macro edges found on their background edges "
        "(%zu edge records, %zu expected)\n",
        found, roads.size(), records, expected_records);
    if (records != expected_records) {
        std::printf("  CHECK FAILED: the edge records do not match the walk\n");
        ++failures;
    }
}

}  // namespace

BackgroundSurface::BackgroundSurface(TriangulatedSurface<2>&& mesh)
    : TriangulatedSurface<2>(std::move(mesh)) {
    enable_edges();
    initialize_macro_edges_data_base(vertex_attribute_manager(), edges().edge_attribute_manager());
}

RoadResult trace_macro_road(BackgroundSurface& surface, int& failures) {
    RoadResult result;
    if (surface.edges().nb_edges() < 2) {
        std::printf("  the mesh has too few edges for a macro polyline\n");
        return result;
    }
    const EdgeGraph graph = build_graph(surface);
    const auto ends = choose_ends(surface, graph);
    if (!ends) {
        std::printf("  no vertex has coordinates to measure from: no macro polyline\n");
        return result;
    }
    const auto [start, end] = *ends;
    if (!(point_point_distance(surface.point(start), surface.point(end)) > GLOBAL_EPSILON)) {
        std::printf("  the mesh is no wider than the tolerance: no macro polyline\n");
        return result;
    }
    progress("walking from vertex " + std::to_string(start) + " to vertex " + std::to_string(end));
    auto path = walk(surface, graph, start, end, true);
    const bool monotone = !path.empty();
    if (!monotone) {
        path = walk(surface, graph, start, end, false);
    }
    if (path.size() < 2) {
        std::printf("  no walk of edges joins vertices %u and %u: no macro polyline\n", start, end);
        return result;
    }
    std::printf("  walk of %zu edges from vertex %u (%s) to vertex %u (%s)%s\n", path.size() - 1,
                start, surface.point(start).string().c_str(), end,
                surface.point(end).string().c_str(),
                monotone ? "" : " (not monotone: sorting may reorder its points)");

    std::mt19937_64 random{7};
    auto roads = cut_walk(path);
    RoadRecords records;
    record_roads(surface, roads, random, records);
    record_chord(surface, start, end, records);
    report_records(records, roads.size(), failures);

    VerticesModifier modifier{surface.nb_vertices()};
    const double reach = 0.3 * point_point_distance(graph.low, graph.high);
    renumber(surface, start, end, reach, random, modifier);
    check_roads(surface, modifier, roads, result, failures);
    result.traced = true;
    return result;
}

}  // namespace orvex::demo
