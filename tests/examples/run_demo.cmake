# Runs the demo program on one case and checks its exit status, its report and its files.
#   cmake -DDEMO=<orvex_demo> -DWORK=<scratch directory> -DDATA=<tests/data/meshes> -DCASE=<case>
#         -P run_demo.cmake
# Cases: default (generated meshes), surface and solid (small files written here), malformed
# and truncated (files the reader must refuse, naming the line), extreme (coordinates whose
# differences overflow or underflow, coincident vertices, non-finite numbers: the demo ends with
# status 0 or 1 and says why, never crashes), far_centroids (triangles whose coordinate sums
# overflow: the search check must still pass), gmsh and vtk_binary (real files of those formats
# from DATA).

cmake_policy(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(run_demo)
    execute_process(COMMAND "${DEMO}" --out "${WORK}/out" ${ARGN}
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
    set(status "${status}" PARENT_SCOPE)
    set(out "${out}" PARENT_SCOPE)
    set(err "${err}" PARENT_SCOPE)
endfunction()

function(fail message)
    message(FATAL_ERROR "${message}\n--- stdout:\n${out}\n--- stderr:\n${err}")
endfunction()

# Fails with `why` unless the last run ended with `expected` status.
function(expect_status expected why)
    if(NOT status EQUAL expected)
        fail("${why}")
    endif()
endfunction()

# Fails with `why` unless `text` (the last run's output or errors) holds `part`.
function(expect_text text part why)
    string(FIND "${text}" "${part}" at)
    if(at EQUAL -1)
        fail("${why}")
    endif()
endfunction()

# Every macro edge traced must be found again after renumbering.
function(expect_road_found)
    string(REGEX MATCH "after renumbering: ([0-9]+) of ([0-9]+) macro edges found" line "${out}")
    if(NOT (line))
        fail("no macro edge report")
    endif()
    if(NOT CMAKE_MATCH_1 EQUAL CMAKE_MATCH_2 OR CMAKE_MATCH_2 EQUAL 0)
        message(FATAL_ERROR "macro edges lost: ${line}\n${out}")
    endif()
endfunction()

function(expect_file name pattern)
    set(path "${WORK}/out/${name}")
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "${path} was not written\n${out}")
    endif()
    file(READ "${path}" content)
    string(FIND "${content}" "${pattern}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${path} lacks '${pattern}'")
    endif()
endfunction()

# A 3 x 3 grid of the square [0, 2]^2 in eight counter-clockwise triangles.
set(surface_mesh "MeshVersionFormatted 2
Dimension 2
Vertices
9
0 0 0\n1 0 0\n2 0 0\n0 1 0\n1 1 0\n2 1 0\n0 2 0\n1 2 0\n2 2 0
Triangles
8
1 2 5 0\n1 5 4 0\n2 3 6 0\n2 6 5 0\n4 5 8 0\n4 8 7 0\n5 6 9 0\n5 9 8 0
End
")

if(CASE STREQUAL "default")
    run_demo()
    expect_status(0 "the default run failed (status ${status})")
    expect_road_found()
    string(REGEX MATCH "valid: [0-9]+ +degenerated[^:]*: ([0-9]+) +inverted: ([0-9]+)" line "${out}")
    if(CMAKE_MATCH_1 EQUAL 0 OR CMAKE_MATCH_2 EQUAL 0)
        message(FATAL_ERROR "the generated triangles should hold flat and inverted ones: ${line}")
    endif()
    expect_file(orvex_demo_surface.svg "<polyline")
    expect_file(orvex_demo_surface.vtk "SCALARS macro_edges int 1")
    expect_file(orvex_demo_solid.vtk "SCALARS internal_distance double 1")
elseif(CASE STREQUAL "surface")
    file(WRITE "${WORK}/grid.mesh" "${surface_mesh}")
    run_demo("${WORK}/grid.mesh")
    expect_status(0 "the run on a small surface failed (status ${status})")
    expect_text("${out}" "9 vertices, 8 triangles" "the mesh was not read whole")
    expect_text("${out}" "valid: 8 " "eight valid triangles expected")
    expect_road_found()
    expect_file(orvex_demo_surface.vtk "CELL_DATA")
elseif(CASE STREQUAL "solid")
    file(WRITE "${WORK}/tets.mesh" "MeshVersionFormatted 2
Dimension 3
Vertices
5
0 0 0 0\n1 0 0 0\n0 1 0 0\n0 0 1 0\n1 1 1 0
Tetrahedra
2
1 2 3 4 0
3 2 4 5 1
End
")
    run_demo("${WORK}/tets.mesh")
    expect_status(0 "the run on a small solid failed (status ${status})")
    expect_text("${out}" "5 vertices, 2 tetrahedra" "the solid was not read whole")
    # The second tetrahedron turns the wrong way.
    expect_text("${out}" "valid: 1 " "one valid tetrahedron expected")
    expect_file(orvex_demo_solid.vtk "CELL_TYPES 2")
elseif(CASE STREQUAL "malformed")
    # Line 23: a vertex index beyond the nine vertices.
    string(REPLACE "5 9 8 0" "5 19 8 0" bad "${surface_mesh}")
    file(WRITE "${WORK}/bad.mesh" "${bad}")
    run_demo("${WORK}/bad.mesh")
    if(NOT (NOT status EQUAL 0))
        fail("a vertex index out of range was accepted")
    endif()
    expect_status(1 "the demo did not exit cleanly (status ${status})")
    expect_text("${err}" "bad.mesh:23:" "the message does not name line 23")
elseif(CASE STREQUAL "truncated")
    file(WRITE "${WORK}/short.mesh" "MeshVersionFormatted 2\nDimension 2\nVertices\n3\n0 0 0\n1 0 0\n1 x 0\n")
    run_demo("${WORK}/short.mesh")
    expect_status(1 "a non-number was accepted (status ${status})")
    expect_text("${err}" "short.mesh:7:" "the message does not name line 7")
    run_demo("${WORK}/missing.mesh")
    expect_status(1 "a missing file did not fail cleanly (status ${status})")
    run_demo(--no-such-option)
    expect_status(2 "an unknown option is a usage error (status ${status})")
elseif(CASE STREQUAL "extreme")
    set(planar "MeshVersionFormatted 2\nDimension 2\nVertices\n3\n@A@ 0\n@B@ 0\n@C@ 0\n"
               "Triangles\n1\n1 2 3 0\nEnd\n")
    set(solid "MeshVersionFormatted 2\nDimension 3\nVertices\n4\n-1e308 0 0 0\n1e308 0 0 0\n"
              "0 1e308 0 0\n0 0 @A@ 0\nTetrahedra\n1\n1 2 3 4 0\nEnd\n")
    # name, template, then the coordinates put in place of @A@, @B@ and @C@.
    set(cases "overflow|planar|-1e308 0|1e308 0|0 1"
              "largest|planar|1.7e308 1.7e308|-1.7e308 -1.7e308|1.7e308 -1.7e308"
              "subnormal|planar|1e-320 0|0 1e-320|0 0"
              "coincident|planar|0 0|0 0|0 0"
              "nan|planar|nan 0|1 0|0 1"
              "infinite|planar|-inf 0|inf 0|0 1"
              "solid_overflow|solid|1e308||"
              "solid_nan|solid|nan||")
    foreach(entry IN LISTS cases)
        string(REPLACE "|" ";" fields "${entry}")
        list(GET fields 0 name)
        list(GET fields 1 kind)
        list(GET fields 2 a)
        list(GET fields 3 b)
        list(GET fields 4 c)
        string(CONCAT text ${${kind}})
        string(REPLACE "@A@" "${a}" text "${text}")
        string(REPLACE "@B@" "${b}" text "${text}")
        string(REPLACE "@C@" "${c}" text "${text}")
        file(WRITE "${WORK}/${name}.mesh" "${text}")
        run_demo("${WORK}/${name}.mesh")
        if(status EQUAL 1)
            string(FIND "${err}" "error: " at)
        elseif(status EQUAL 0)
            string(FIND "${err}" "] done" at)
        else()
            fail("${name}: the demo did not end cleanly (status ${status})")
        endif()
        if(at EQUAL -1)
            fail("${name}: status ${status} without its message")
        endif()
    endforeach()
elseif(CASE STREQUAL "far_centroids")
    # A unit triangle beside one at +-1e308, whose coordinate sums overflow a double: every
    # centroid is still finite and found, every spread point lies in the bounding box.
    file(WRITE "${WORK}/far.mesh" "MeshVersionFormatted 2\nDimension 2\nVertices\n6\n0 0 0\n"
         "1 0 0\n0 1 0\n-1e308 -1e308 0\n1e308 -1e308 0\n0 -1e300 0\nTriangles\n2\n"
         "1 2 3 0\n4 5 6 0\nEnd\n")
    run_demo("${WORK}/far.mesh")
    expect_status(0 "the run on far triangles failed (status ${status})")
    string(REGEX MATCH "([0-9]+) of ([0-9]+) centroids" line "${out}")
    if(NOT line OR NOT CMAKE_MATCH_1 EQUAL CMAKE_MATCH_2)
        fail("every centroid must be found: '${line}'")
    endif()
elseif(CASE STREQUAL "gmsh" OR CASE STREQUAL "vtk_binary")
    if(CASE STREQUAL "gmsh")
        set(file sfepy_msh_tri.msh)
        set(counts "475 vertices, 795 triangles")
        set(quality "valid: 795 ")
    else()
        # All clockwise, with line and vertex cells that the reader skips with a note.
        set(file skfem_troublesome_mesh.vtk)
        set(counts "404 vertices, 724 triangles")
        set(quality "inverted: 724")
    endif()
    run_demo("${DATA}/${file}")
    expect_status(0 "the run on ${file} failed (status ${status})")
    foreach(expected "${counts}" "${quality}")
        expect_text("${out}" "${expected}" "'${expected}' expected")
    endforeach()
    expect_road_found()
else()
    message(FATAL_ERROR "unknown case '${CASE}'")
endif()
