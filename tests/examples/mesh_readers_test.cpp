#include "mesh_readers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "orvex_testing/hostile_mesh_files.h"

namespace orvex::examples {
namespace {

using ::testing::HasSubstr;

namespace fs = std::filesystem;

const std::string data_dir = ORVEX_TEST_MESH_DIR;

std::string replace_first(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

void expect_valid_indices(const MeshFile& mesh) {
    const auto check = [&mesh](const auto& elements, const auto& references) {
        EXPECT_EQ(references.size(), elements.size());
        for (const auto& element : elements) {
            for (const index_t v : element) {
                ASSERT_LT(v, mesh.nb_vertices());
            }
        }
    };
    check(mesh.edges, mesh.edge_references);
    check(mesh.triangles, mesh.triangle_references);
    check(mesh.tetrahedra, mesh.tetrahedron_references);
}

// The counts and bounding boxes of the copied files, as their catalogue lists them.
struct RealFile {
    const char* name;
    index_t vertices;
    std::size_t triangles;
    std::size_t tetrahedra;
    std::array<double, 3> min;
    std::array<double, 3> max;
    const char* note;
};

TEST(MeshReaders, RealFilesMatchTheirCatalogue) {
    const std::vector<RealFile> files{
        {"skfem_box.msh", 358, 0, 1105, {0, 0, 0}, {1, 1, 1}, "skipped 312 triangles"},
        {"sfepy_msh_tri.msh", 475, 795, 0, {0.000394, -0.059416, 0}, {0.20001, 0.222322, 0}, ""},
        {"sfepy_helmholtz_apartment.vtk",
         401,
         752,
         0,
         {-3.8979, -2.19255, 0},
         {3.0979, 2.46255, 0},
         ""},
        {"skfem_troublesome_mesh.vtk",
         404,
         724,
         0,
         {0.04, 1.4, 0},
         {1, 4.9, 0},
         "skipped 82 lines"},
        {"sfepy_octahedron.node", 330, 0, 1224, {-4, -4, -4}, {4, 4, 4}, ""},
        {"sfepy_octahedron.ele", 330, 0, 1224, {-4, -4, -4}, {4, 4, 4}, ""},
    };
    for (const RealFile& file : files) {
        SCOPED_TRACE(file.name);
        const MeshFile mesh = read_mesh(data_dir + "/" + file.name);
        ASSERT_EQ(mesh.dimension, 3U);
        EXPECT_EQ(mesh.nb_vertices(), file.vertices);
        EXPECT_EQ(mesh.triangles.size(), file.triangles);
        EXPECT_EQ(mesh.tetrahedra.size(), file.tetrahedra);
        EXPECT_TRUE(mesh.edges.empty());
        expect_valid_indices(mesh);
        for (index_t axis = 0; axis < 3; ++axis) {
            double low = std::numeric_limits<double>::max();
            double high = std::numeric_limits<double>::lowest();
            for (index_t v = 0; v < mesh.nb_vertices(); ++v) {
                low = std::min(low, mesh.coordinates[3 * v + axis]);
                high = std::max(high, mesh.coordinates[3 * v + axis]);
            }
            // The catalogue prints six significant digits.
            EXPECT_NEAR(low, file.min[axis], 5e-6 * std::max(1.0, std::abs(low)));
            EXPECT_NEAR(high, file.max[axis], 5e-6 * std::max(1.0, std::abs(high)));
        }
        if (*file.note != '\0') {
            ASSERT_FALSE(mesh.notes.empty());
            EXPECT_THAT(mesh.notes.front(), HasSubstr(file.note));
        }
    }
    // The region attribute of the TetGen elements is their reference.
    const MeshFile octahedron = read_mesh(data_dir + "/sfepy_octahedron.ele");
    EXPECT_EQ(std::count(octahedron.tetrahedron_references.begin(),
                         octahedron.tetrahedron_references.end(), 100),
              1224);
}

// Binary writers of the two Gmsh versions, in either byte order, for the tetrahedra of a mesh.
template <typename T>
void put(std::string& out, T value, bool big_endian) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if (big_endian) {
        std::reverse(bytes, bytes + sizeof(T));
    }
    out.append(bytes, sizeof(T));
}

std::string gmsh_binary(const MeshFile& mesh, bool version4, bool big_endian) {
    std::string out = version4 ? "$MeshFormat\n4.1 1 8\n" : "$MeshFormat\n2.2 1 8\n";
    put<std::int32_t>(out, 1, big_endian);
    out += "\n$EndMeshFormat\n$Nodes\n";
    const std::uint64_t n = mesh.nb_vertices();
    if (version4) {
        for (const std::uint64_t v : {std::uint64_t{1}, n, std::uint64_t{1}, n}) {
            put(out, v, big_endian);
        }
        for (const std::int32_t v : {3, 1, 0}) {
            put(out, v, big_endian);
        }
        put(out, n, big_endian);
        for (std::uint64_t k = 0; k < n; ++k) {
            put(out, k + 1, big_endian);
        }
    } else {
        out += std::to_string(n) + "\n";
    }
    for (std::uint64_t k = 0; k < n; ++k) {
        if (!version4) {
            put(out, static_cast<std::int32_t>(k + 1), big_endian);
        }
        for (int axis = 0; axis < 3; ++axis) {
            put(out, mesh.coordinates[3 * k + axis], big_endian);
        }
    }
    out += "\n$EndNodes\n$Elements\n";
    const std::uint64_t m = mesh.tetrahedra.size();
    if (version4) {
        for (const std::uint64_t v : {std::uint64_t{1}, m, std::uint64_t{1}, m}) {
            put(out, v, big_endian);
        }
        for (const std::int32_t v : {3, 1, 4}) {
            put(out, v, big_endian);
        }
        put(out, m, big_endian);
    } else {
        out += std::to_string(m) + "\n";
        for (const std::int32_t v : {4, static_cast<std::int32_t>(m), 1}) {
            put(out, v, big_endian);
        }
    }
    for (std::uint64_t e = 0; e < m; ++e) {
        if (version4) {
            put(out, e + 1, big_endian);
        } else {
            put(out, static_cast<std::int32_t>(e + 1), big_endian);
            put(out, std::int32_t{1}, big_endian);
        }
        for (const index_t v : mesh.tetrahedra[e]) {
            if (version4) {
                put(out, std::uint64_t{v} + 1, big_endian);
            } else {
                put(out, static_cast<std::int32_t>(v + 1), big_endian);
            }
        }
    }
    return out + "\n$EndElements\n";
}

TEST(MeshReaders, GmshBinaryReadsInBothByteOrdersAndVersions) {
    const MeshFile ascii = read_mesh(data_dir + "/skfem_box.msh");
    for (const bool version4 : {false, true}) {
        for (const bool big_endian : {false, true}) {
            SCOPED_TRACE(std::string{version4 ? "4.1" : "2.2"} + (big_endian ? " big" : " little"));
            const MeshFile binary = parse_gmsh(gmsh_binary(ascii, version4, big_endian));
            EXPECT_EQ(binary.coordinates, ascii.coordinates);
            EXPECT_EQ(binary.tetrahedra, ascii.tetrahedra);
            EXPECT_EQ(binary.tetrahedron_references,
                      std::vector<std::int32_t>(ascii.tetrahedra.size(), 1));
        }
    }
    // Gmsh 4.1 text with entities, node tags with gaps and boundary triangles.
    const MeshFile mesh = parse_gmsh(
        "$MeshFormat\n4.1 0 8\n$EndMeshFormat\n$Entities\n0 0 1 1\n1 0 0 0 1 1 0 0 0\n"
        "1 0 0 0 1 1 1 0 0\n$EndEntities\n$Nodes\n2 5 2 50\n0 7 0 1\n50\n0 0 1\n"
        "3 1 0 4\n2\n4\n6\n8\n0 0 0\n1 0 0\n0 1 0\n1 1 1\n$EndNodes\n$Elements\n"
        "2 3 1 3\n2 1 2 1\n1 2 4 6\n3 1 4 2\n2 2 4 6 50\n3 6 4 50 8\n$EndElements\n");
    EXPECT_EQ(mesh.tetrahedra, (std::vector<std::array<index_t, 4>>{{1, 2, 3, 0}, {3, 2, 0, 4}}));
    EXPECT_EQ(mesh.tetrahedron_references, (std::vector<std::int32_t>{1, 1}));
    EXPECT_EQ(mesh.coordinates[2], 1.0);
    EXPECT_EQ(mesh.notes,
              std::vector<std::string>{"skipped 1 triangles (of lower dimension than the mesh)"});

    // A second-order tetrahedron keeps its corners; its mid-edge nodes stay as vertices.
    std::string nodes = "$Nodes\n10\n";
    for (int k = 1; k <= 10; ++k) {
        nodes += std::to_string(k) + " " + std::to_string(k % 2) + " " + std::to_string(k % 3) + " "
                 + std::to_string(k % 5) + "\n";
    }
    const MeshFile quadratic =
        parse_gmsh("$MeshFormat\n2.2 0 8\n$EndMeshFormat\n" + nodes
                   + "$EndNodes\n$Elements\n1\n1 11 2 5 5 4 3 2 1 5 6 7 8 9 10\n$EndElements\n");
    EXPECT_EQ(quadratic.tetrahedra, (std::vector<std::array<index_t, 4>>{{3, 2, 1, 0}}));
    EXPECT_EQ(quadratic.tetrahedron_references, std::vector<std::int32_t>{5});
    EXPECT_EQ(quadratic.notes, std::vector<std::string>{"kept only the corners of 1 10-node "
                                                        "tetrahedra (the mesh is linear)"});
}

std::string be_float(float value) {
    std::string out;
    put(out, value, true);
    return out;
}

std::string be_int(std::int32_t value) {
    std::string out;
    put(out, value, true);
    return out;
}

TEST(MeshReaders, VtkLayoutsReadAlike) {
    // Two triangles of the unit square and one line, in each layout.
    const std::vector<std::array<index_t, 3>> triangles{{0, 1, 2}, {0, 2, 3}};
    const std::vector<double> coordinates{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    std::string binary =
        "# vtk DataFile Version 4.2\nsquare\nBINARY\nDATASET UNSTRUCTURED_GRID\nPOINTS 4 float\n";
    for (const double value : coordinates) {
        binary += be_float(static_cast<float>(value));
    }
    binary += "\nCELLS 3 11\n";
    for (const int value : {3, 0, 1, 2, 3, 0, 2, 3, 2, 0, 1}) {
        binary += be_int(value);
    }
    binary += "\nCELL_TYPES 3\n" + be_int(5) + be_int(5) + be_int(3) + "\nCELL_DATA 3\n";
    const std::vector<std::string> texts{
        binary,
        "# vtk DataFile Version 5.1\nsquare\nASCII\nDATASET UNSTRUCTURED_GRID\n"
        "POINTS 4 double\n0 0 0 1 0 0 1 1 0 0 1 0\nMETADATA\nINFORMATION 0\n\n"
        "CELLS 4 8\nOFFSETS vtktypeint64\n0 3 6 8\nCONNECTIVITY vtktypeint64\n0 1 2 0 2 3 0 1\n"
        "CELL_TYPES 3\n5\n5\n3\nPOINT_DATA 4\n",
        "# vtk DataFile Version 3.0\nsquare\nASCII\nDATASET POLYDATA\nPOINTS 4 float\n"
        "0 0 0 1 0 0 1 1 0 0 1 0\nPOLYGONS 2 8\n3 0 1 2\n3 0 2 3\nLINES 1 3\n2 0 1\n",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 60));
        const MeshFile mesh = parse_vtk(text);
        EXPECT_EQ(mesh.coordinates, coordinates);
        EXPECT_EQ(mesh.triangles, triangles);
        EXPECT_TRUE(mesh.edges.empty());
        EXPECT_EQ(mesh.notes,
                  std::vector<std::string>{"skipped 1 lines (of lower dimension than the mesh)"});
    }
}

struct Malformed {
    const char* what;
    std::function<MeshFile()> parse;
    const char* place;
    const char* message;
};

TEST(MeshReaders, TruncatedAndMalformedFilesNameThePlace) {
    const std::string gmsh =
        "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n$Nodes\n3\n1 0 0 0\n2 1 0 0\n3 0 1 0\n"
        "$EndNodes\n$Elements\n1\n1 2 2 0 1 1 2 3\n$EndElements\n";
    const std::string box = gmsh_binary(read_mesh(data_dir + "/skfem_box.msh"), false, true);
    const std::string vtk =
        "# vtk DataFile Version 4.2\nt\nASCII\nDATASET UNSTRUCTURED_GRID\nPOINTS 3 double\n"
        "0 0 0\n1 0 0\n0 1 0\nCELLS 1 4\n3 0 1 2\nCELL_TYPES 1\n5\n";
    const std::string node = "3 2 0 0\n1 0 0\n2 1 0\n3 0 1\n";
    const auto replace = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const std::vector<Malformed> cases{
        {"gmsh truncated", [&] { return parse_gmsh(gmsh.substr(0, 58), "a.msh"); },
         "a.msh:7:", "ends before the z coordinate"},
        {"gmsh unknown node",
         [&] { return parse_gmsh(replace(gmsh, "1 2 3\n$End", "1 2 9\n$End"), "a.msh"); },
         "a.msh:12:", "node tag 9 is not among the 3 nodes"},
        {"gmsh huge count",
         [&] { return parse_gmsh(replace(gmsh, "$Nodes\n3\n", "$Nodes\n3000000000\n"), "a.msh"); },
         "a.msh:9:", "expected an integer for the node tag, found '$EndNodes'"},
        {"gmsh binary truncated", [&] { return parse_gmsh(box.substr(0, 5000), "b.msh"); },
         "b.msh: byte 4999:", "the file ends inside the binary data"},
        {"gmsh binary bad element type",
         [&] {
             return parse_gmsh(replace(box, std::string{"\n1105\n\0\0\0\4", 10},
                                       std::string{"\n1105\n\0\0\0\77", 10}),
                               "b.msh");
         },
         "b.msh: byte", "unknown element type 63"},
        {"vtk truncated", [&] { return parse_vtk(vtk.substr(0, 110), "a.vtk"); },
         "a.vtk:10:", "ends before the point index"},
        {"vtk index out of range",
         [&] { return parse_vtk(replace(vtk, "3 0 1 2", "3 0 1 3"), "a.vtk"); },
         "a.vtk:10:", "point index 3 is out of range (the file has 3 points)"},
        {"vtk wrong vertex count for its type",
         [&] { return parse_vtk(replace(vtk, "CELL_TYPES 1\n5", "CELL_TYPES 1\n10"), "a.vtk"); },
         "a.vtk:12:", "cell 1 of type 10 has 3 points, not 4"},
        {"vtk skipped type with a wrong count (a type cut short)",
         [&] { return parse_vtk(replace(vtk, "CELL_TYPES 1\n5", "CELL_TYPES 1\n1"), "a.vtk"); },
         "a.vtk:12:", "cell 1 of type 1 has 3 points, not 1"},
        {"tetgen truncated nodes",
         [&] { return parse_tetgen(node.substr(0, 18), "1 3 0\n1 1 2 3\n", "a.node", "a.ele"); },
         "a.node:3:", "ends before the coordinate"},
        {"tetgen node out of range",
         [&] { return parse_tetgen(node, "1 3 0\n1 1 2 4\n", "a.node", "a.ele"); },
         "a.ele:2:", "node 4 is out of range (nodes are numbered from 1 to 3)"},
        {"tetgen huge count",
         [&] { return parse_tetgen(node, "5000000000 3 0\n1 1 2 3\n", "a.node", "a.ele"); },
         "a.ele:1:", "exceeds"},
    };
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            (void)c.parse();
            ADD_FAILURE() << "no error";
        } catch (const MeshFileError& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.place));
            EXPECT_THAT(error.what(), HasSubstr(c.message));
        }
    }
    EXPECT_THROW((void)mesh_format("points.txt", "1 2 3"), MeshFileError);
    EXPECT_EQ(mesh_format("x.mesh", "$MeshFormat\n"), MeshFormat::gmsh);
    EXPECT_EQ(mesh_format("x.msh", "# vtk DataFile Version 2.0"), MeshFormat::vtk);
    EXPECT_EQ(mesh_format("x.vtk", "\nMeshVersionFormatted 2"), MeshFormat::medit);
}

TEST(MeshReaders, EveryTruncationIsAnErrorOrAMesh) {
    const std::string gmsh_ascii =
        "$MeshFormat\n4.1 0 8\n$EndMeshFormat\n$Nodes\n1 4 1 4\n3 1 0 4\n1\n2\n3\n4\n"
        "0 0 0\n1 0 0\n0 1 0\n0 0 1\n$EndNodes\n$Elements\n1 1 1 1\n3 1 4 1\n1 1 2 3 4\n"
        "$EndElements\n";
    const MeshFile tet = parse_gmsh(gmsh_ascii);
    const std::string vtk51 =
        "# vtk DataFile Version 5.1\nt\nASCII\nDATASET UNSTRUCTURED_GRID\nPOINTS 3 double\n"
        "0 0 0 1 0 0 0 1 0\nCELLS 2 3\nOFFSETS vtktypeint64\n0 3\nCONNECTIVITY vtktypeint64\n"
        "0 1 2\nCELL_TYPES 1\n5\n";
    const std::vector<std::pair<std::string, std::function<MeshFile(std::string_view)>>> files{
        {gmsh_ascii, [](std::string_view t) { return parse_gmsh(t); }},
        {gmsh_binary(tet, false, true), [](std::string_view t) { return parse_gmsh(t); }},
        {gmsh_binary(tet, true, false), [](std::string_view t) { return parse_gmsh(t); }},
        {vtk51, [](std::string_view t) { return parse_vtk(t); }},
        {"4 3 0 0\n0 0 0 0\n1 1 0 0\n2 0 1 0\n3 0 0 1\n",
         [](std::string_view t) { return parse_tetgen(t, "1 4 0\n0 0 1 2 3\n"); }},
    };
    for (const auto& [text, parse] : files) {
        ASSERT_NO_THROW((void)parse(text)) << text;
        for (std::size_t size = 0; size < text.size(); ++size) {
            try {
                expect_valid_indices(parse(std::string_view{text}.substr(0, size)));
            } catch (const MeshFileError&) {
            }
        }
    }
}

TEST(MeshReaders, ManyKindsAndHostileTokensGiveFewShortNotesAndMessages) {
    // Cells of 20 000 distinct unknown types: the first kinds get a note each, the rest one.
    const std::string vtk = test::vtk_of_unknown_cell_types(20000, true);
    const MeshFile kinds = parse_vtk(vtk);
    ASSERT_EQ(kinds.notes.size(), 9U);
    EXPECT_EQ(kinds.notes.front(),
              "skipped 1 cells of type 100 (only triangles, tetrahedra and edges are read)");
    EXPECT_EQ(kinds.notes.back(), "skipped 19992 more elements of 19992 other kinds");

    // An end marker of repeated pieces, over near misses of it, is found.
    EXPECT_EQ(parse_gmsh(test::gmsh_with_repeated_section(64, 1 << 16)).nb_vertices(), 1U);

    // A huge number token, and bytes that are not text, are quoted cut and as '?'.
    const std::string huge(1 << 20, '7');
    const std::vector<std::function<MeshFile()>> hostile{
        [&] { return parse_vtk(replace_first(vtk, "0 0 0", "0 " + huge + "x 0")); },
        [&] { return parse_medit("Dimension 2\nVertices 1\n0 " + huge + "x 0\n"); },
        [&] { return parse_medit("Dimension 2\n\xff\xfe" + huge + "\n"); },
        [&] { return parse_gmsh("$MeshFormat\n2.2 0 8\n$EndMeshFormat\n$Nodes\n" + huge); },
        [&] { return parse_tetgen("1 2 0 0\n1 0 \xc3" + huge + "\n", ""); },
    };
    for (std::size_t k = 0; k < hostile.size(); ++k) {
        SCOPED_TRACE(k);
        try {
            (void)hostile[k]();
            ADD_FAILURE() << "no error";
        } catch (const MeshFileError& error) {
            const std::string message = error.what();
            EXPECT_LT(message.size(), 200U) << message.substr(0, 200);
            EXPECT_THAT(message, HasSubstr("777..."));
            EXPECT_TRUE(std::all_of(message.begin(), message.end(), [](char c) {
                return static_cast<unsigned char>(c) >= 0x20
                       && static_cast<unsigned char>(c) < 0x7f;
            })) << message;
        }
    }
}

// A fresh directory, removed at the end of its scope.
struct Scratch {
    Scratch()
        : directory{fs::temp_directory_path() / ("orvex_readers_" + std::to_string(::getpid()))} {
        fs::create_directories(directory);
    }

    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }

    std::string write(const std::string& name, const std::string& text) const {
        const std::string path = (directory / name).string();
        std::ofstream{path, std::ios::binary} << text;
        return path;
    }

    fs::path directory;
};

TEST(MeshReaders, OnlyRegularFilesAreRead) {
    const Scratch scratch;
    const std::string fifo = (scratch.directory / "pipe.mesh").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Each is refused at once: a pipe without a writer would block, /dev/zero never ends.
    const std::vector<std::pair<std::string, std::string>> cases{
        {scratch.directory.string(), "is a directory, not a regular file"},
        {fifo, "is a pipe, not a regular file"},
        {"/dev/zero", "is a character device, not a regular file"},
    };
    for (const auto& [path, message] : cases) {
        SCOPED_TRACE(path);
        for (MeshFile (*read)(const std::string&) : {&read_mesh, &read_medit}) {
            try {
                (void)read(path);
                ADD_FAILURE() << "no error";
            } catch (const MeshFileError& error) {
                EXPECT_EQ(error.what(), path + ": " + message + ": only regular files are read");
            }
        }
    }
}

TEST(MeshReaders, TetgenPairsOfAnyCaseAndEveryRegion) {
    const Scratch scratch;
    const std::string node = "4 3 0 0\n1 0 0 0\n2 1 0 0\n3 0 1 0\n4 0 0 1\n";
    // The region attribute is the reference across the whole 32-bit range.
    const std::string ele = "2 4 1\n1 1 2 3 4 -2147483648\n2 1 3 2 4 2147483647\n";
    const std::vector<std::pair<std::string, std::string>> pairs{
        {"capitalised.Node", "capitalised.Ele"},
        {"upper.NODE", "upper.ELE"},
        {"mixed.NoDe", "mixed.ele"},
    };
    for (const auto& [node_name, ele_name] : pairs) {
        SCOPED_TRACE(node_name);
        const std::string node_path = scratch.write(node_name, node);
        const std::string ele_path = scratch.write(ele_name, ele);
        for (const std::string& path : {node_path, ele_path}) {
            const MeshFile mesh = read_mesh(path);
            EXPECT_EQ(mesh.tetrahedra.size(), 2U);
            EXPECT_EQ(mesh.tetrahedron_references,
                      (std::vector<std::int32_t>{std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()}));
        }
    }
}

}  // namespace
}  // namespace orvex::examples
