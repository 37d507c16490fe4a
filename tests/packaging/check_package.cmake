# Installs a built tree into a scratch prefix, then configures, builds and runs the consumer
# project against that copy only.
#   cmake -DBUILD_DIR=<built tree> -DWORK=<scratch> -DSOURCE=<consumer sources>
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
