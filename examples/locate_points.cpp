// Locating points: which element of a mesh file holds each point of a text file, and how many
// points were found in one, with one batch query.
//
// Usage: orvex_example_locate_points MESH_FILE POINTS.txt
// The points file holds one point per line, its coordinates separated by blanks (exactly as
// many as the mesh's dimension: 2 for planar triangles, 3 for tetrahedra); `#` starts a comment
// line, and blank lines are skipped. A mesh without triangles or tetrahedra (edges only) holds
// no point.
// Exit status: 0; 1 on an unusable file (a points line with too few or too many numbers, or a
// points "file" that is a directory, included); 2 on bad arguments.

#include <array>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "example_support.h"
#include "orvex/background_common/element_search/element_search.h"

namespace {

using orvex::index_t;
using orvex::Point;

// The points of a text file, each line read whole: D finite numbers, nothing else.
template <index_t D>
std::vector<Point<D>> read_points(const std::string& path) {
    std::istringstream lines{orvex::examples::read_file_bytes(path)};
    std::vector<Point<D>> points;
    std::string line;
    for (std::size_t number = 1; std::getline(lines, line); ++number) {
        std::istringstream words{line};
        std::vector<std::string> fields;
        for (std::string field; words >> field;) {
            fields.push_back(field);
        }
        if (fields.empty() || fields[0][0] == '#') {
            continue;
        }
        const std::string place = path + ":" + std::to_string(number) + ": ";
        if (fields.size() != D) {
            throw std::runtime_error(place + "expected " + std::to_string(D)
                                     + " coordinates, found " + std::to_string(fields.size())
                                     + " fields");
        }
        std::array<double, D> xyz{};
        for (index_t axis = 0; axis < D; ++axis) {
            const auto value = orvex::examples::to_number(fields[axis]);
            if (!value) {
                throw std::runtime_error(place + "'" + fields[axis].substr(0, 40)
                                         + "' is not a finite number");
            }
            xyz[axis] = *value;
        }
        points.push_back(Point<D>{xyz});
    }
    return points;
}

template <typename Mesh>
void locate(const Mesh& mesh, const std::string& points_path) {
    constexpr index_t D = orvex::internal::ElementSearch<Mesh>::dimension;
    const auto points = read_points<D>(points_path);
    orvex::internal::ElementSearch<Mesh> search;
    search.reinitialize_elements_tree(mesh);
    // One batch: the search answers the points in an order of its own that keeps memory
    // accesses close, and gives the answers back in the order of `points`. A mesh without
    // elements answers NO_ID inside the optional: no element holds the point.
    const auto elements = search.initial_containing_elements(points);
    std::size_t found = 0;
    for (std::size_t k = 0; k < points.size(); ++k) {
        const bool inside = elements[k] && *elements[k] != orvex::NO_ID;
        found += inside ? 1 : 0;
        if (k < 5) {
            const std::string where =
                inside ? "element " + std::to_string(*elements[k]) : "outside";
            std::printf("  point %zu (%s): %s\n", k, points[k].string().c_str(), where.c_str());
        }
    }
    std::printf("%zu of %zu points found in an element (%.1f%%)\n", found, points.size(),
                points.empty() ? 0.0 : 100.0 * static_cast<double>(found) / points.size());
}

}  // namespace

int main(int argc, char** argv) {
    return orvex::examples::run_example(
        argc, argv, "MESH_FILE POINTS.txt", [](const std::vector<std::string>& arguments) {
            const auto file = orvex::examples::read_mesh_with_notes(arguments[0]);
            if (file.dimension == 3 && !file.tetrahedra.empty()) {
                locate(orvex::examples::to_tetrahedral_solid(file), arguments[1]);
            } else {
                locate(orvex::examples::to_triangulated_surface(file), arguments[1]);
            }
            return 0;
        });
}
