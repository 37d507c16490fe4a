// Step 4 of the demo: pictures of the mesh, an SVG drawing and a legacy VTK file.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#include "demo.h"
#include "polvane/mesh/mesh_traits.h"

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

// How the SVG page maps the mesh: the mesh's bounding box fitted into at most `max_side`
// pixels each way, keeping its aspect ratio, so the page has the mesh's shape. Coordinates
// are halved before any difference is formed, so a mesh spread over the whole range of
// doubles still maps onto the page.
class PageFrame {
public:
    PageFrame(const TriangulatedSurface<2>& surface, double max_side) {
        std::array<double, 2> low{std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::infinity()};
        std::array<double, 2> high{-low[0], -low[1]};
        for (index_t v = 0; v < surface.nb_vertices(); ++v) {
            for (index_t axis = 0; axis < 2; ++axis) {
                low[axis] = std::min(low[axis], surface.point(v).value(axis));
                high[axis] = std::max(high[axis], surface.point(v).value(axis));
            }
        }
        for (index_t axis = 0; axis < 2; ++axis) {
            low_[axis] = low[axis] / 2;
            half_extent_[axis] = high[axis] / 2 - low[axis] / 2;
            if (!(half_extent_[axis] > 0) || !std::isfinite(half_extent_[axis])) {
                half_extent_[axis] = 0;
                low_[axis] = std::isfinite(low_[axis]) ? low_[axis] : 0;
            }
        }
        const double largest = std::max(half_extent_[0], half_extent_[1]);
        scale_ = largest > 0 ? max_side / largest : 1;
        width_ = half_extent_[0] * scale_;
        height_ = half_extent_[1] * scale_;
    }

    [[nodiscard]] double width() const { return width_; }

    [[nodiscard]] double height() const { return height_; }

    /// The page position of `p`, in pixels from the drawing's top left corner (y points down).
    [[nodiscard]] double x(const Point<2>& p) const { return (p.value(0) / 2 - low_[0]) * scale_; }

    [[nodiscard]] double y(const Point<2>& p) const {
        return height_ - (p.value(1) / 2 - low_[1]) * scale_;
    }

private:
    std::array<double, 2> low_{};
    std::array<double, 2> half_extent_{};
    double scale_{1};
    double width_{0};
    double height_{0};
};

// The colours of the three statuses (valid, degenerated, inverted): the fill of an element, and
// the ring drawn around a degenerated or inverted one.
constexpr const char* fill_colours[] = {"#cfe8cf", "#f5a623", "#d0021b"};
constexpr const char* ring_colours[] = {"", "#e07b00", "#b00016"};

// A ring at the centroid of each degenerated or inverted triangle, white-edged so it shows on
// any colour, and of a fixed size in pixels so that even a triangle thinner than a pixel is
// seen.
void write_rings(std::ofstream& file, const TriangulatedSurface<2>& surface,
                 const ElementQuality& quality, const PageFrame& frame, double margin) {
    file << "<g fill=\"none\">\n";
    for (index_t t = 0; t < surface.nb_polygons(); ++t) {
        const auto status = static_cast<std::size_t>(quality.statuses[t]);
        if (status == 0) {
            continue;
        }
        double cx = 0;
        double cy = 0;
        for (const index_t v : surface.polygon_vertices(t)) {
            cx += frame.x(surface.point(v)) / 3;
            cy += frame.y(surface.point(v)) / 3;
        }
        file << "<circle cx=\"" << margin + cx << "\" cy=\"" << margin + cy
             << "\" r=\"9\" stroke=\"white\" stroke-width=\"5\"/>"
             << "<circle cx=\"" << margin + cx << "\" cy=\"" << margin + cy
             << "\" r=\"9\" stroke=\"" << ring_colours[status] << "\" stroke-width=\"2.5\"/>\n";
    }
    file << "</g>\n";
}

// The legend, in a band of its own under the drawing.
void write_legend(std::ofstream& file, double top, const RoadResult& road) {
    const char* const names[] = {"valid", "degenerated (ringed)", "inverted (ringed)"};
    file << "<g font-family=\"sans-serif\" font-size=\"12\">\n";
    for (std::size_t k = 0; k < 3; ++k) {
        const double y = top + 18 * static_cast<double>(k);
        file << "<rect x=\"20\" y=\"" << y << "\" width=\"14\" height=\"12\" fill=\""
             << fill_colours[k] << "\" stroke=\"#555\" stroke-width=\"0.5\"/>";
        if (k != 0) {
            file << "<circle cx=\"27\" cy=\"" << y + 6 << "\" r=\"6\" fill=\"none\" stroke=\""
                 << ring_colours[k] << "\" stroke-width=\"2\"/>";
        }
        file << "<text x=\"42\" y=\"" << y + 10 << "\">" << names[k] << "</text>\n";
    }
    if (!road.polylines.empty()) {
        const double y = top + 54;
        file << "<line x1=\"20\" y1=\"" << y + 6 << "\" x2=\"34\" y2=\"" << y + 6
             << "\" stroke=\"#1f4fd1\" stroke-width=\"3\"/><text x=\"42\" y=\"" << y + 10
             << "\">macro edges</text>\n";
    }
    file << "</g>\n";
}

}  // namespace

void write_svg(const std::string& path, const TriangulatedSurface<2>& surface,
               const ElementQuality& quality, const RoadResult& road) {
    const double margin = 20;
    const double legend = road.polylines.empty() ? 60 : 78;
    const PageFrame frame{surface, 860};
    const double width = std::max(frame.width() + 2 * margin, 200.0);
    const double height = frame.height() + 2 * margin + legend;
    const auto x = [&](const Point<2>& p) { return margin + frame.x(p); };
    const auto y = [&](const Point<2>& p) { return margin + frame.y(p); };

    auto file = open_output(path);
    file.precision(6);
    file << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\""
         << height << "\" viewBox=\"0 0 " << width << ' ' << height << "\">\n"
         << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
         << "<g stroke=\"#555\" stroke-width=\"0.3\" stroke-linejoin=\"round\">\n";
    ProgressMeter meter{"drawn triangles", surface.nb_polygons()};
    for (index_t t = 0; t < surface.nb_polygons(); ++t) {
        meter.update(t);
        const auto status = static_cast<std::size_t>(quality.statuses[t]);
        file << "<polygon fill=\"" << fill_colours[status] << "\" points=\"";
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
    write_rings(file, surface, quality, frame, margin);
    write_legend(file, frame.height() + 2 * margin, road);
    file << "</svg>\n";
    close_output(file, path);
}

namespace {

// The VTK legacy cell type of a mesh kind's elements: line, triangle or tetrahedron.
template <typename Mesh>
constexpr int vtk_cell_type = std::array<int, 3>{3, 5, 10}[MeshTraits<Mesh>::dimension - 1];

// The header, points (z = 0 in the plane), cells and per-element quality of a VTK legacy file;
// the caller may add more cell data and closes the file.
template <typename Mesh>
std::ofstream write_vtk_mesh(const std::string& path, const char* title, const Mesh& mesh,
                             const ElementQuality& quality) {
    using Traits = MeshTraits<Mesh>;
    constexpr index_t n = Traits::nb_element_vertices;
    auto file = open_output(path);
    file << "# vtk DataFile Version 3.0\n"
         << title << "\nASCII\nDATASET UNSTRUCTURED_GRID\nPOINTS " << mesh.nb_vertices()
         << " double\n";
    for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
        const auto& p = mesh.point(v);
        file << p.value(0) << ' ' << p.value(1) << ' ';
        if constexpr (Traits::dimension == 3) {
            file << p.value(2) << '\n';
        } else {
            file << "0\n";
        }
    }
    const index_t nb = Traits::nb_elements(mesh);
    file << "CELLS " << nb << ' ' << (n + 1) * static_cast<std::size_t>(nb) << '\n';
    ProgressMeter meter{std::string{"written "} + Traits::element_name, nb};
    for (index_t t = 0; t < nb; ++t) {
        meter.update(t);
        file << n;
        for (const index_t vertex : Traits::element_vertices(mesh, t)) {
            file << ' ' << vertex;
        }
        file << '\n';
    }
    file << "CELL_TYPES " << nb << '\n';
    for (index_t t = 0; t < nb; ++t) {
        file << vtk_cell_type<Mesh> << '\n';
    }
    file << "CELL_DATA " << nb << '\n';
    write_vtk_data(file, quality);
    return file;
}

}  // namespace

void write_vtk(const std::string& path, const BackgroundSurface& surface,
               const ElementQuality& quality) {
    const TriangulatedSurface<2>& mesh = surface;
    auto file =
        write_vtk_mesh(path, "background surface with quality and macro edges", mesh, quality);
    file << "SCALARS macro_edges int 1\nLOOKUP_TABLE default\n";
    for (index_t t = 0; t < mesh.nb_polygons(); ++t) {
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
    auto file = write_vtk_mesh(path, "tetrahedra with quality", solid, quality);
    close_output(file, path);
}

}  // namespace orvex::demo
