// Locating points: which element of a mesh file holds each point of a text file, and how many
// points were found in one, with one batch query.
//
// Usage: orvex_example_locate_points MESH_FILE POINTS.txt
// The points file holds one point per line, its coordinates separated by blanks (as many as the
// mesh's dimension: 2 for planar triangles, 3 for tetrahedra); `#` starts a comment line.
// Exit status: 0, or 1 on an unusable file.

#include <array>
#include <cstdio>
#include <exception>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "medit_mesh.h"
#include "mesh_readers.h"
#include "orvex/background_common/background_common_library.h"
#include "orvex/background_common/element_search/element_search.h"

namespace {

using orvex::index_t;
using orvex::Point;

template <index_t D>
std::vector<Point<D>> read_points(const std::string& path) {
    std::ifstream file{path};
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    std::vector<Point<D>> points;
    std::string line;
    for (std::size_t number = 1; std::getline(file, line); ++number) {
        std::istringstream fields{line};
        std::array<double, D> xyz{};
        std::string rest;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        for (auto& value : xyz) {
            if (!(fields >> value)) {
                throw std::runtime_error(path + ":" + std::to_string(number) + ": expected "
                                         + std::to_string(D) + " coordinates");
            }
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
    // accesses close, and gives the answers back in the order of `points`.
    const auto elements = search.initial_containing_elements(points);
    std::size_t found = 0;
    for (std::size_t k = 0; k < points.size(); ++k) {
        found += elements[k] ? 1 : 0;
        if (k < 5) {
            const std::string where =
                elements[k] ? "element " + std::to_string(*elements[k]) : "outside";
            std::printf("  point %zu (%s): %s\n", k, points[k].string().c_str(), where.c_str());
        }
    }
    std::printf("%zu of %zu points found in an element (%.1f%%)\n", found, points.size(),
                points.empty() ? 0.0 : 100.0 * static_cast<double>(found) / points.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MESH_FILE POINTS.txt\n", argv[0]);
        return 1;
    }
    try {
        orvex::BackgroundCommonLibrary::initialize();
        const auto file = orvex::examples::read_mesh(argv[1]);
        if (file.dimension == 3 && !file.tetrahedra.empty()) {
            locate(orvex::examples::to_tetrahedral_solid(file), argv[2]);
        } else {
            locate(orvex::examples::to_triangulated_surface(file), argv[2]);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "error: %s\n", error.what());
        return 1;
    }
    return 0;
}
