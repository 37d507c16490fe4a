// Step 4 of the demo: pictures of the mesh, an SVG drawing and a legacy VTK file.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#include "demo.h"

namespace orvex::demo {
namespace {

std::ofstream open_output(const std::string& path) {
    std::ofstream file{path};
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    file.precision(std::numeric_limits<double>::max_digits10);
    return file;
}

void close_output(std::ofstream& file, const std::string& path) {
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

void write_vtk_data(std::ofstream& file, const ElementQuality& quality) {
    file << "SCALARS status int 1\nLOOKUP_TABLE default\n";
    for (const auto status : quality.statuses) {
        file << static_cast<int>(status) << '\n';
    }
    file << "SCALARS internal_distance double 1\nLOOKUP_TABLE default\n";
    for (const double distance : quality.distances) {
        file << distance << '\n';
    }
}

}  // namespace

void write_svg(const std::string& path, const TriangulatedSurface<2>& surface,
               const ElementQuality& quality, const RoadResult& road) {
    double low[2] = {std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::infinity()};
    double high[2] = {-low[0], -low[1]};
    for (index_t v = 0; v < surface.nb_vertices(); ++v) {
        for (index_t axis = 0; axis < 2; ++axis) {
            low[axis] = std::min(low[axis], surface.point(v).value(axis));
            high[axis] = std::max(high[axis], surface.point(v).value(axis));
        }
    }
    const double width = 900;
    const double margin = 20;
    const double extent = std::max({high[0] - low[0], high[1] - low[1], 1e-300});
    const double scale = (width - 2 * margin) / extent;
    const double height = (high[1] - low[1]) * scale + 2 * margin;
    // The y axis points up in the mesh and down in the picture.
    const auto x = [&](const Point<2>& p) { return margin + (p.value(0) - low[0]) * scale; };
    const auto y = [&](const Point<2>& p) {
        return height - margin - (p.value(1) - low[1]) * scale;
    };

    auto file = open_output(path);
    file.precision(6);
    file << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\""
         << height << "\" viewBox=\"0 0 " << width << ' ' << height << "\">\n"
         << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
         << "<g stroke=\"#555\" stroke-width=\"0.3\" stroke-linejoin=\"round\">\n";
    static const char* const colours[] = {"#cfe8cf", "#f5a623", "#d0021b"};
    for (index_t t = 0; t < surface.nb_polygons(); ++t) {
        const std::size_t status = static_cast<std::size_t>(quality.statuses[t]);
        file << "<polygon fill=\"" << colours[status] << "\" points=\"";
        for (const index_t v : surface.polygon_vertices(t)) {
            file << x(surface.point(v)) << ',' << y(surface.point(v)) << ' ';
        }
        file << "\"/>\n";
    }
    file << "</g>\n";
    static const char* const macro_colours[] = {"#1f4fd1", "#7b1fd1", "#1fa2d1", "#0b7a3a"};
    std::size_t k = 0;
    for (const auto& polyline : road.polylines) {
        file << "<polyline fill=\"none\" stroke=\"" << macro_colours[k++ % 4]
             << "\" stroke-width=\"3\" stroke-linecap=\"round\" points=\"";
        for (const auto& p : polyline) {
            file << x(p) << ',' << y(p) << ' ';
        }
        file << "\"/>\n";
    }
    file << "<text x=\"" << margin << "\" y=\"14\" font-family=\"sans-serif\" font-size=\"12\">"
         << "green: valid, orange: degenerated, red: inverted; thick lines: macro edges"
         << "</text>\n</svg>\n";
    close_output(file, path);
}

void write_vtk(const std::string& path, const BackgroundSurface& surface,
               const ElementQuality& quality) {
    auto file = open_output(path);
    file << "# vtk DataFile Version 3.0\nbackground surface with quality and macro edges\n"
         << "ASCII\nDATASET UNSTRUCTURED_GRID\nPOINTS " << surface.nb_vertices() << " double\n";
    for (index_t v = 0; v < surface.nb_vertices(); ++v) {
        file << surface.point(v).value(0) << ' ' << surface.point(v).value(1) << " 0\n";
    }
    const index_t nb = surface.nb_polygons();
    file << "CELLS " << nb << ' ' << 4 * static_cast<std::size_t>(nb) << '\n';
    for (index_t t = 0; t < nb; ++t) {
        const auto& vertices = surface.polygon_vertices(t);
        file << "3 " << vertices[0] << ' ' << vertices[1] << ' ' << vertices[2] << '\n';
    }
    file << "CELL_TYPES " << nb << '\n';
    for (index_t t = 0; t < nb; ++t) {
        file << "5\n";
    }
    file << "CELL_DATA " << nb << '\n';
    write_vtk_data(file, quality);
    file << "SCALARS macro_edges int 1\nLOOKUP_TABLE default\n";
    for (index_t t = 0; t < nb; ++t) {
        std::size_t count = 0;
        for (local_index_t k = 0; k < 3; ++k) {
            const auto edge = surface.edges().edge_from_vertices(
                surface.polygon_edge_vertices(PolygonEdge{t, k}));
            count += edge ? surface.macro_edges(*edge).size() : 0;
        }
        file << count << '\n';
    }
    close_output(file, path);
}

void write_vtk(const std::string& path, const TetrahedralSolid<3>& solid,
               const ElementQuality& quality) {
    auto file = open_output(path);
    file << "# vtk DataFile Version 3.0\ntetrahedra with quality\n"
         << "ASCII\nDATASET UNSTRUCTURED_GRID\nPOINTS " << solid.nb_vertices() << " double\n";
    for (index_t v = 0; v < solid.nb_vertices(); ++v) {
        const auto& p = solid.point(v);
        file << p.value(0) << ' ' << p.value(1) << ' ' << p.value(2) << '\n';
    }
    const index_t nb = solid.nb_polyhedra();
    file << "CELLS " << nb << ' ' << 5 * static_cast<std::size_t>(nb) << '\n';
    for (index_t t = 0; t < nb; ++t) {
        const auto& vertices = solid.polyhedron_vertices(t);
        file << "4 " << vertices[0] << ' ' << vertices[1] << ' ' << vertices[2] << ' '
             << vertices[3] << '\n';
    }
    file << "CELL_TYPES " << nb << '\n';
    for (index_t t = 0; t < nb; ++t) {
        file << "10\n";
    }
    file << "CELL_DATA " << nb << '\n';
    write_vtk_data(file, quality);
    close_output(file, path);
}

}  // namespace orvex::demo
