// The library at work on a mesh, in four steps:
//   1. the quality of the mesh: valid, degenerated and inverted elements, the smallest internal
//      distances and the configurations that realise them, a histogram, the distance cache;
//   2. element search: a batch of points located, and the rate;
//   3. (planar meshes) the road of a macro polyline: macro edges recorded along a walk of
//      background edges, their insertion records sorted and summed up, the mesh renumbered
//      and every macro edge found again;
//   4. pictures: an SVG drawing of a planar mesh and a legacy VTK file for ParaView.
//
// Usage: orvex_demo [--out DIR] [FILE.mesh|.msh|.vtk|.node|.ele]
// Without a file it runs on generated meshes: a jittered square triangulation with a few flat
// and inverted triangles, and a jittered cube of tetrahedra with slivers. With a mesh file it
// runs on the file's triangles when its dimension is 2 (or its z coordinates are all 0 and it
// has no tetrahedra), otherwise on its tetrahedra; a file with neither is refused.
//
// Exit status: 0 on success; 1 when a check fails or the file cannot be used; 2 on a usage
// error.

#include "demo.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "example_support.h"

namespace orvex::demo {

namespace {

double seconds_since_start() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

void progress(const std::string& message) {
    std::fprintf(stderr, "[demo %6.2f s] %s\n", seconds_since_start(), message.c_str());
}

ProgressMeter::ProgressMeter(std::string what, std::size_t total)
    : what_(std::move(what)), total_(total), next_(seconds_since_start() + 1) {}

void ProgressMeter::report(std::size_t done) {
    const double now = seconds_since_start();
    if (now >= next_) {
        next_ = now + 1;
        progress(what_ + ": " + std::to_string(done) + " of " + std::to_string(total_));
    }
}

namespace {

constexpr std::size_t nb_queries = 200000;

void run_surface(TriangulatedSurface<2>&& mesh, const std::filesystem::path& out, int& failures) {
    std::printf("== triangles ==\n1. quality\n");
    BackgroundSurface surface{std::move(mesh)};
    report_quality(surface, failures);
    std::printf("2. element search\n");
    report_search(surface, nb_queries, failures);
    std::printf("3. macro polyline road\n");
    const RoadResult road = trace_macro_road(surface, failures);
    std::printf("4. pictures (of the mesh after renumbering)\n");
    progress("writing the pictures");
    const ElementQuality quality = measure_quality(surface);
    const auto svg = (out / "orvex_demo_surface.svg").string();
    const auto vtk = (out / "orvex_demo_surface.vtk").string();
    write_svg(svg, surface, quality, road);
    write_vtk(vtk, surface, quality);
    std::printf("  wrote %s\n  wrote %s\n", svg.c_str(), vtk.c_str());
}

void run_solid(const TetrahedralSolid<3>& solid, const std::filesystem::path& out, int& failures) {
    std::printf("== tetrahedra ==\n1. quality\n");
    const ElementQuality quality = report_quality(solid, failures);
    std::printf("2. element search\n");
    report_search(solid, nb_queries / 2, failures);
    std::printf("3. macro polyline road: shown on planar meshes only\n");
    std::printf("4. pictures\n");
    progress("writing the pictures");
    const auto vtk = (out / "orvex_demo_solid.vtk").string();
    write_vtk(vtk, solid, quality);
    std::printf("  wrote %s\n", vtk.c_str());
}

constexpr const char* usage = "[--out DIR] [FILE.mesh|.msh|.vtk|.node|.ele]";

int run(int argc, char** argv) {
    std::filesystem::path out = ".";
    std::string input;
    for (int k = 1; k < argc; ++k) {
        const std::string_view argument{argv[k]};
        if (argument == "--out" && k + 1 < argc) {
            out = argv[++k];
        } else if (argument == "--help" || argument == "-h") {
            std::printf("usage: %s %s\n", argv[0], usage);
            return 0;
        } else if (argument == "--out") {
            throw examples::UsageError{"--out needs a directory"};
        } else if (argument.empty() || argument[0] == '-') {
            throw examples::UsageError{"unknown option '" + std::string{argument} + "'"};
        } else if (!input.empty()) {
            throw examples::UsageError{"a second mesh file '" + std::string{argument} + "'"};
        } else {
            input = argument;
        }
    }
    std::filesystem::create_directories(out);
    int failures = 0;
    if (input.empty()) {
        progress("generating the default meshes");
        run_surface(default_surface(), out, failures);
        run_solid(default_solid(), out, failures);
    } else {
        progress("reading " + input);
        const auto file = examples::read_mesh_with_notes(input);
        std::printf("%s: dimension %u, %u vertices, %zu triangles, %zu tetrahedra\n", input.c_str(),
                    file.dimension, file.nb_vertices(), file.triangles.size(),
                    file.tetrahedra.size());
        if (!file.triangles.empty() && (file.dimension == 2 || file.tetrahedra.empty())) {
            run_surface(examples::to_triangulated_surface(file), out, failures);
        } else if (!file.tetrahedra.empty() && file.dimension == 3) {
            run_solid(examples::to_tetrahedral_solid(file), out, failures);
        } else {
            std::fprintf(stderr, "error: %s holds neither triangles nor tetrahedra\n",
                         input.c_str());
            return 1;
        }
    }
    std::fflush(stdout);
    if (failures != 0) {
        std::fprintf(stderr, "error: %d check(s) failed\n", failures);
        return 1;
    }
    progress("done");
    return 0;
}

}  // namespace
}  // namespace orvex::demo

int main(int argc, char** argv) {
    return orvex::examples::run_guarded(argc > 0 ? argv[0] : "orvex_demo", orvex::demo::usage,
                                        [&] { return orvex::demo::run(argc, argv); });
}
