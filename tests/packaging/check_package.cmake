# Installs a built tree into a scratch prefix, then configures, builds and runs the consumer
# project against that copy only; compiles and runs the same consumer with the flags
# `pkg-config --cflags --libs orvex-background-common` gives; and builds the example programs
# (examples/, on their own) against the copy, running one of them.
#   cmake -DBUILD_DIR=<built tree> -DWORK=<scratch> -DSOURCE=<consumer sources>
#         -DEXAMPLES=<examples directory>
#         -DGENERATOR=<generator> -DCXX=<compiler> -DBUILD_TYPE=<config> [-DPREFIX_PATH=<dirs>]
#         [-DCXX_FLAGS=<flags>] [-DLINKER_FLAGS=<flags>]   (those of the tree: sanitizers...)
#         -P check_package.cmake

file(REMOVE_RECURSE "${WORK}")
set(prefix "${WORK}/prefix")

function(step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
        ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "failed (${status}): ${command}\n${out}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

step(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(installed
        include/orvex/background_common/background_common_library.h
        include/orvex/background_common/export.h
        include/polvane/mesh/triangulated_surface.h
        lib*/cmake/OrvexBackgroundCommon/OrvexBackgroundCommonConfig.cmake
        lib*/cmake/OrvexBackgroundCommon/OrvexBackgroundCommonConfigVersion.cmake
        lib*/pkgconfig/orvex-background-common.pc
        lib*/*OrvexBackgroundCommon*)
    file(GLOB found "${prefix}/${installed}")
    if(NOT found)
        message(FATAL_ERROR "the install lacks ${installed}")
    endif()
endforeach()

step(${CMAKE_COMMAND} -S "${SOURCE}" -B "${WORK}/build" -G "${GENERATOR}"
     "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}"
     "-DCMAKE_PREFIX_PATH=${prefix};${PREFIX_PATH}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
     "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
step(${CMAKE_COMMAND} --build "${WORK}/build")
find_program(consumer orvex_consumer PATHS "${WORK}/build" NO_DEFAULT_PATH REQUIRED)
step("${consumer}")
message(STATUS "${out}")

# pkg-config alone: the compiler, the tree's own flags (sanitizers), the language level the
# headers need (the .pc file leaves it to the caller), and what pkg-config says.
find_program(pkg_config pkg-config REQUIRED)
file(GLOB pc_dir "${prefix}/lib*/pkgconfig")
get_filename_component(lib_dir "${pc_dir}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
step(sh -c "\"${CXX}\" ${CXX_FLAGS} -std=c++17 \"${SOURCE}/main.cpp\" -o \"${WORK}/pc_consumer\" \
            $(pkg-config --cflags --libs orvex-background-common) ${LINKER_FLAGS}")
step(${CMAKE_COMMAND} -E env "LD_LIBRARY_PATH=${lib_dir}" "${WORK}/pc_consumer")
message(STATUS "pkg-config consumer: ${out}")

# The example programs, on their own against the installed copy.
step(${CMAKE_COMMAND} -S "${EXAMPLES}" -B "${WORK}/examples" -G "${GENERATOR}"
     "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}"
     "-DCMAKE_PREFIX_PATH=${prefix};${PREFIX_PATH}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
     "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
step(${CMAKE_COMMAND} --build "${WORK}/examples")
step("${WORK}/examples/orvex_example_mesh_quality" "${EXAMPLES}/data/plate.mesh")
message(STATUS "installed example: ${out}")

# A consumer asking for a version this package does not provide is refused.
file(MAKE_DIRECTORY "${WORK}/too_new")
file(WRITE "${WORK}/too_new/CMakeLists.txt"
     "cmake_minimum_required(VERSION 3.25)\nproject(TooNew LANGUAGES CXX)\n"
     "find_package(OrvexBackgroundCommon 1.0 CONFIG REQUIRED)\n")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${WORK}/too_new" -B "${WORK}/too_new/build"
    -G "${GENERATOR}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_PREFIX_PATH=${prefix};${PREFIX_PATH}"
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
if(status EQUAL 0)
    message(FATAL_ERROR "version 1.0 was accepted from a 0.1 package")
endif()
