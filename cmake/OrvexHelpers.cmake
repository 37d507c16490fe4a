# Helpers shared by every module of the tree.

# orvex_set_warnings(<target>): the warning flags every target of ours is built with.
function(orvex_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
        $<$<BOOL:${ORVEX_WERROR}>:-Werror>)
endfunction()

# orvex_add_module(<target>
#     ALIAS <Namespace::name> EXPORT_SET <set> EXPORT_MACRO <PREFIX>
#     EXPORT_HEADER <include-relative path of the generated export header>
#     SOURCES <files...> [PUBLIC_DEPS <targets...>] [PRIVATE_DEPS <targets...>])
#
# A shared (or static) library with hidden visibility, a generated export header, headers under
# <dir>/include, and install rules in the given export set.
function(orvex_add_module target)
    cmake_parse_arguments(M "" "ALIAS;EXPORT_SET;EXPORT_MACRO;EXPORT_HEADER"
        "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(${target} ${M_SOURCES})
    string(REPLACE "::" ";" alias_parts ${M_ALIAS})
    list(GET alias_parts 1 export_name)
    add_library(${M_ALIAS} ALIAS ${target})
    target_compile_features(${target} PUBLIC cxx_std_17)
    set_target_properties(${target} PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        VERSION ${PROJECT_VERSION}
        SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
        EXPORT_NAME ${export_name})
    generate_export_header(${target} BASE_NAME ${M_EXPORT_MACRO}
        EXPORT_FILE_NAME ${CMAKE_CURRENT_BINARY_DIR}/include/${M_EXPORT_HEADER})
    if(NOT BUILD_SHARED_LIBS)
        target_compile_definitions(${target} PUBLIC ${M_EXPORT_MACRO}_STATIC_DEFINE)
    endif()
    target_include_directories(${target} PUBLIC
        $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
        $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}/include>
        $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
    target_link_libraries(${target} PUBLIC ${M_PUBLIC_DEPS} PRIVATE ${M_PRIVATE_DEPS})
    orvex_set_warnings(${target})
    if(ORVEX_INSTALL)
        install(TARGETS ${target} EXPORT ${M_EXPORT_SET}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
            INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
        install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/
                          ${CMAKE_CURRENT_BINARY_DIR}/include/
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    endif()
endfunction()

# orvex_add_test(<target> SOURCES <files...> LIBS <targets...>): one GoogleTest program whose
# tests CTest discovers one by one.
function(orvex_add_test target)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${target} ${T_SOURCES})
    target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    orvex_set_warnings(${target})
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
endfunction()
