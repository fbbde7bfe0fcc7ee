include(GenerateExportHeader)

# Shared compile settings of every target: warnings, sanitizers.
add_library(tarnwick_settings INTERFACE)
target_compile_options(tarnwick_settings INTERFACE -Wall -Wextra)
target_include_directories(tarnwick_settings INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
  $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>)
if(TARNWICK_ASAN)
  target_compile_options(tarnwick_settings INTERFACE -fsanitize=address -fno-omit-frame-pointer)
  target_link_options(tarnwick_settings INTERFACE -fsanitize=address)
endif()
if(TARNWICK_UBSAN)
  target_compile_options(tarnwick_settings INTERFACE -fsanitize=undefined -fno-sanitize-recover=undefined)
  target_link_options(tarnwick_settings INTERFACE -fsanitize=undefined)
endif()

# tarnwick_add_library(name SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# Makes the shared library tarnwick_<name> with alias tarnwick::<name>: hidden visibility,
# the export header tarnwick/<dir>/export.hpp with the macro TARNWICK_<NAME>_EXPORT,
# a version, output into the build's lib/. DIR defaults to <name>.
function(tarnwick_add_library name)
  cmake_parse_arguments(ARG "" "DIR" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  if(NOT ARG_DIR)
    set(ARG_DIR ${name})
  endif()
  set(target tarnwick_${name})
  add_library(${target} SHARED ${ARG_SOURCES})
  add_library(tarnwick::${name} ALIAS ${target})
  string(TOUPPER ${name} upper)
  generate_export_header(${target}
    BASE_NAME TARNWICK_${upper}
    EXPORT_FILE_NAME ${PROJECT_BINARY_DIR}/include/tarnwick/${ARG_DIR}/export.hpp)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  target_link_libraries(${target} PUBLIC tarnwick_settings ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()

# tarnwick_add_executable(name SOURCES ... [DEPS ...]): a program in the build's bin/.
function(tarnwick_add_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE tarnwick_settings ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# tarnwick_add_test(name SOURCES ... [DEPS ...]): the GoogleTest executable test_<name>,
# registered with CTest. Tests find their data through TARNWICK_TEST_DATA_DIR and the build
# tree through TARNWICK_BUILD_DIR, never through the working directory.
function(tarnwick_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  set(target test_${name})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE tarnwick_settings ${ARG_DEPS} GTest::gtest_main GTest::gmock)
  target_compile_definitions(${target} PRIVATE
    TARNWICK_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    TARNWICK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TARNWICK_BUILD_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# TARNWICK_MODULES: a list of module, test and tool folder names to build (for working on a part
# of the tree while other folders are incomplete); empty builds every folder that exists.
set(TARNWICK_MODULES "" CACHE STRING "Folders to build (empty: all)")
function(tarnwick_wanted name out)
  if(TARNWICK_MODULES STREQUAL "" OR name IN_LIST TARNWICK_MODULES)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()
