#include "medit_mesh.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "orvex_testing/mesh_generators.h"

namespace orvex::examples {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// A fresh directory per test, removed afterwards.
class MeditFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        directory_ = fs::temp_directory_path()
                     / (std::string{"orvex_medit_"} + info->name() + "_"
                        + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(directory_);
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    [[nodiscard]] std::string path(const std::string& name) const {
        return (directory_ / name).string();
    }

    std::string write_text(const std::string& name, const std::string& text) const {
        const std::string file = path(name);
        std::ofstream{file, std::ios::binary} << text;
        return file;
    }

private:
    fs::path directory_;
};

void expect_same_content(const MeditMesh& read, const MeditMesh& written) {
    EXPECT_EQ(read.dimension, written.dimension);
    ASSERT_EQ(read.coordinates.size(), written.coordinates.size());
    for (std::size_t i = 0; i < read.coordinates.size(); ++i) {
        // Exact: the writer's shortest form reads back to the same double.
        EXPECT_EQ(read.coordinates[i], written.coordinates[i]) << "coordinate " << i;
        EXPECT_EQ(std::signbit(read.coordinates[i]), std::signbit(written.coordinates[i]));
    }
    EXPECT_EQ(read.vertex_references, written.vertex_references);
    EXPECT_EQ(read.edges, written.edges);
    EXPECT_EQ(read.edge_references, written.edge_references);
    EXPECT_EQ(read.triangles, written.triangles);
    EXPECT_EQ(read.triangle_references, written.triangle_references);
    EXPECT_EQ(read.tetrahedra, written.tetrahedra);
    EXPECT_EQ(read.tetrahedron_references, written.tetrahedron_references);
}

TEST_F(MeditFiles, EverySectionRoundTripsExactly) {
    MeditMesh mesh;
    mesh.dimension = 3;
    mesh.coordinates = {0.1, -0.0, 1e-300, 1.0 / 3.0, 2.5e17, -7.0,  //
                        0.3, 0.2,  0.1,    4.9e-324,  1,      0};
    mesh.vertex_references = {1, -2, 2147483647, std::numeric_limits<std::int32_t>::min()};
    mesh.edges = {{0, 3}, {2, 1}};
    mesh.edge_references = {5, -5};
    mesh.triangles = {{0, 1, 2}};
    mesh.triangle_references = {7};
    mesh.tetrahedra = {{0, 1, 2, 3}, {3, 2, 1, 0}};
    mesh.tetrahedron_references = {0, 9};
    write_medit(mesh, path("all.mesh"));
    expect_same_content(read_medit(path("all.mesh")), mesh);
}

TEST_F(MeditFiles, GeneratedMeshesRoundTripThroughFiles) {
    const auto curve = orvex::test::jittered_segment_curve(17);
    write_medit(to_medit(curve), path("curve.mesh"));
    const EdgedCurve<1> curve_back = to_edged_curve(read_medit(path("curve.mesh")));
    ASSERT_EQ(curve_back.nb_vertices(), curve.nb_vertices());
    ASSERT_EQ(curve_back.nb_edges(), curve.nb_edges());
    for (index_t v = 0; v < curve.nb_vertices(); ++v) {
        EXPECT_EQ(curve_back.point(v), curve.point(v));
    }
    for (index_t e = 0; e < curve.nb_edges(); ++e) {
        EXPECT_EQ(curve_back.edge_vertices(e), curve.edge_vertices(e));
    }

    const auto surface = orvex::test::jittered_square_surface(6);
    write_medit(to_medit(surface), path("surface.mesh"));
    const TriangulatedSurface<2> surface_back =
        to_triangulated_surface(read_medit(path("surface.mesh")));
    ASSERT_EQ(surface_back.nb_vertices(), surface.nb_vertices());
    ASSERT_EQ(surface_back.nb_polygons(), surface.nb_polygons());
    for (index_t v = 0; v < surface.nb_vertices(); ++v) {
        EXPECT_EQ(surface_back.point(v), surface.point(v));
    }
    for (index_t t = 0; t < surface.nb_polygons(); ++t) {
        EXPECT_EQ(surface_back.polygon_vertices(t), surface.polygon_vertices(t));
        for (local_index_t e = 0; e < 3; ++e) {
            EXPECT_EQ(surface_back.polygon_adjacent({t, e}), surface.polygon_adjacent({t, e}));
        }
    }

    const auto solid = orvex::test::jittered_cube_solid(3);
    write_medit(to_medit(solid), path("solid.mesh"));
    const TetrahedralSolid<3> solid_back = to_tetrahedral_solid(read_medit(path("solid.mesh")));
    ASSERT_EQ(solid_back.nb_vertices(), solid.nb_vertices());
    ASSERT_EQ(solid_back.nb_polyhedra(), solid.nb_polyhedra());
    for (index_t v = 0; v < solid.nb_vertices(); ++v) {
        EXPECT_EQ(solid_back.point(v), solid.point(v));
    }
    for (index_t t = 0; t < solid.nb_polyhedra(); ++t) {
        EXPECT_EQ(solid_back.polyhedron_vertices(t), solid.polyhedron_vertices(t));
        for (local_index_t f = 0; f < 4; ++f) {
            EXPECT_EQ(solid_back.polyhedron_adjacent({t, f}), solid.polyhedron_adjacent({t, f}));
        }
    }
}

TEST_F(MeditFiles, QueryPointsRoundTripWithTheirReferences) {
    QueryPoints<2> queries;
    queries.points = {Point<2>{{0.25, 0.5}}, Point<2>{{-1e-3, 0.75}}, Point<2>{{1.5, 0.1}}};
    queries.references = {1, 2, 2};
    write_medit(to_medit(queries), path("queries.mesh"));
    const QueryPoints<2> back = to_query_points<2>(read_medit(path("queries.mesh")));
    EXPECT_EQ(back.points, queries.points);
    EXPECT_EQ(back.references, queries.references);

    // A query file is vertices only, of the dimension asked for.
    const MeditMesh points = read_medit(path("queries.mesh"));
    EXPECT_THROW((void)to_query_points<3>(points), std::invalid_argument);
    EXPECT_THROW((void)to_query_points<2>(to_medit(orvex::test::jittered_square_surface(2))),
                 std::invalid_argument);
}

TEST(MeditParse, AcceptsTheFreedomsOfTheFormat) {
    // Comments, a count on the keyword's line, CRLF line ends, '+' signs, sections in any
    // order (elements before vertices), no End, and skipped sections of known layout.
    const std::string text =
        "# a comment\r\n"
        "MeshVersionFormatted 1 # trailing comment\r\n"
        "Dimension\r\n2\r\n"
        "Triangles 2\r\n1 2 3 4\r\n+1 3 4 0\r\n"
        "Corners 2 1 3\r\n"
        "Normals\n1\n0.0 1.0\n"
        "Vertices 4\n0 0 1\n1 0 1\n1 1 1\n0 +1.5e0 -3\n";
    const MeditMesh mesh = parse_medit(text);
    EXPECT_EQ(mesh.dimension, 2U);
    EXPECT_EQ(mesh.coordinates, (std::vector<double>{0, 0, 1, 0, 1, 1, 0, 1.5}));
    EXPECT_EQ(mesh.vertex_references, (std::vector<std::int32_t>{1, 1, 1, -3}));
    EXPECT_EQ(mesh.triangles, (std::vector<std::array<index_t, 3>>{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_EQ(mesh.triangle_references, (std::vector<std::int32_t>{4, 0}));
    ASSERT_EQ(mesh.skipped_sections.size(), 2U);
    EXPECT_EQ(mesh.skipped_sections[0].keyword, "Corners");
    EXPECT_EQ(mesh.skipped_sections[0].count, 2U);
    EXPECT_EQ(mesh.skipped_sections[0].line, 8U);
    EXPECT_EQ(mesh.skipped_sections[1].keyword, "Normals");
    EXPECT_EQ(mesh.skipped_sections[1].line, 9U);

    // Content after End is not read.
    EXPECT_NO_THROW((void)parse_medit("Dimension 1\nVertices 0\nEnd\ngarbage"));
}

struct MalformedCase {
    const char* what;
    std::string text;
    std::size_t line;
    const char* message;
};

TEST(MeditParse, MalformedFilesNameTheLine) {
    const std::string header = "MeshVersionFormatted 2\nDimension 3\n";  // lines 1 and 2
    const std::string vertices = "Vertices 4\n0 0 0 0\n1 0 0 0\n0 1 0 0\n0 0 1 0\n";  // 3 to 7
    const std::vector<MalformedCase> cases{
        {"truncated vertices", header + "Vertices 3\n0 0 0 0\n1 0 0 0\n0 1", 6,
         "ends inside the Vertices section (line 3 declares 3 entries): entry 3 lacks its z"},
        {"truncated tetrahedra", header + vertices + "Tetrahedra 2\n1 2 3 4 0\n1 2 3\n", 10,
         "entry 2 lacks its vertex index 4"},
        {"missing count", header + "Vertices", 3, "ends before the entry count of Vertices"},
        {"index out of range", header + vertices + "Tetrahedra 2\n1 2 3 4 0\n1 2\n5 4 0\n", 11,
         "Tetrahedra entry 2 of 2: vertex index 5 is out of range (the file has 4 vertices)"},
        {"index out of range before the vertices",
         header + "Edges 1\n1 9 0\n" + "Vertices 1\n0 0 0 0\n", 4, "vertex index 9"},
        {"index zero", header + vertices + "Triangles 1\n0 1 2 0\n", 9,
         "vertex index 1 is 0, but indices start at 1"},
        {"index beyond 64 bits", header + vertices + "Edges 1\n1 99999999999999999999 0\n", 9,
         "is out of range"},
        {"word for a coordinate", header + "Vertices 1\n0 abc 0 0\n", 4,
         "Vertices entry 1 of 1: expected a number for the y coordinate, found 'abc'"},
        {"coordinate with trailing text", header + "Vertices 1\n0 1.5x 0 0\n", 4, "'1.5x'"},
        {"non-finite coordinate", header + "Vertices 1\n0 nan 0 0\n", 4, "is not finite"},
        {"fraction for an index", header + vertices + "Edges 1\n1 2.0 0\n", 9,
         "expected an integer for the vertex index 2, found '2.0'"},
        {"reference too large", header + "Vertices 1\n0 0 0 4294967296\n", 4,
         "does not fit in 32 bits"},
        {"negative count", header + "\nVertices -3\n", 4, "negative entry count -3"},
        {"count beyond indices", header + "Vertices 99999999999\n", 3, "exceeds"},
        {"huge count in a short file", header + "Vertices 1000000000\n0 0 0 0\n", 4,
         "entry 2 lacks its x coordinate"},
        {"more entries than the count", header + "Vertices 1\n0 0 0 0\n1 0 0 0\n", 5,
         "expected a keyword, found the number '1'"},
        {"unknown keyword", header + vertices + "Edge 1\n1 2 0\n", 8, "unknown keyword 'Edge'"},
        {"vertices before dimension", "MeshVersionFormatted 2\n\nVertices 0\n", 3,
         "Vertices come before Dimension"},
        {"dimension out of range", "Dimension 4\n", 1, "Dimension 4 is not 1, 2 or 3"},
        {"unsupported version", "MeshVersionFormatted 7\n", 1, "MeshVersionFormatted 7"},
        {"second section", header + vertices + "Edges 0\nEdges 0\n", 9, "a second Edges section"},
        {"no dimension", "# nothing\n", 1, "no Dimension keyword"},
        {"truncated skipped section", header + "Corners 3\n1 2\n", 4,
         "ends inside the Corners section"},
    };
    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            (void)parse_medit(c.text, "bad.mesh");
            ADD_FAILURE() << "no error";
        } catch (const MeditError& error) {
            EXPECT_EQ(error.line(), c.line) << error.what();
            EXPECT_THAT(error.what(), HasSubstr("bad.mesh:" + std::to_string(c.line) + ": "));
            EXPECT_THAT(error.what(), HasSubstr(c.message));
        }
    }
}

TEST(MeditParse, EveryTruncationOrCorruptionIsAnErrorOrAMesh) {
    // Cut a valid file at every byte, and overwrite every byte with a troublesome character:
    // each text either parses to a mesh whose indices are valid or throws MeditError.
    const std::string text = format_medit(to_medit(orvex::test::jittered_cube_solid(1)));
    const auto check = [](const std::string& candidate) {
        try {
            const MeditMesh mesh = parse_medit(candidate);
            for (const auto& tetrahedron : mesh.tetrahedra) {
                for (const index_t v : tetrahedron) {
                    ASSERT_LT(v, mesh.nb_vertices()) << candidate;
                }
            }
        } catch (const MeditError&) {
        }
    };
    for (std::size_t size = 0; size <= text.size(); ++size) {
        check(text.substr(0, size));
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        for (const char replacement : {'-', '9', '#', '\n', 'e'}) {
            std::string corrupted = text;
            corrupted[i] = replacement;
            check(corrupted);
        }
    }
}

TEST_F(MeditFiles, ConversionsRefuseWhatTheMeshCannotHold) {
    const std::string square =
        "Dimension 3\nVertices 3\n0 0 0 0\n1 0 0 0\n0 1 0 0\nTriangles 1\n1 2 3 0\n";
    const TriangulatedSurface<2> flat = to_triangulated_surface(parse_medit(square));
    EXPECT_EQ(flat.nb_polygons(), 1U);
    EXPECT_EQ(flat.point(2), (Point<2>{{0, 1}}));

    const MeditMesh tilted = parse_medit(
        "Dimension 3\nVertices 3\n0 0 0 0\n1 0 0 0\n0 1 1e-9 0\nTriangles 1\n1 2 3 0\n");
    EXPECT_THROW((void)to_triangulated_surface(tilted), std::invalid_argument);
    EXPECT_THROW((void)to_edged_curve(tilted), std::invalid_argument);
    EXPECT_THROW((void)to_tetrahedral_solid(parse_medit("Dimension 2\nVertices 0\n")),
                 std::invalid_argument);

    EXPECT_THROW((void)read_medit(path("missing.mesh")), std::runtime_error);
    MeditMesh bad;
    bad.dimension = 1;
    bad.coordinates = {0, 1};
    bad.edges = {{0, 2}};
    EXPECT_THROW((void)format_medit(bad), std::invalid_argument);

    // A file error names the file.
    const std::string file = write_text("broken.mesh", "Dimension 1\nVertices 2\n0 0\n");
    try {
        (void)read_medit(file);
        ADD_FAILURE() << "no error";
    } catch (const MeditError& error) {
        EXPECT_THAT(error.what(), HasSubstr(file + ":3: "));
    }
}

}  // namespace
}  // namespace orvex::examples
