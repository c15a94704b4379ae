include(GNUInstallDirs)

# One static library per subsystem. Sources and tests are picked up by name so
# that adding a unit never means editing a shared list:
#   <dir>/*.cpp            the library
#   <dir>/tests/*Test.cpp  one GoogleTest executable, <name>_tests, label <name>
#   <dir>/tests/*.cmake    extra test registrations (scripts, servers, fuzzers)

# GCC forgets, for code that comes from a precompiled header, that it lies in a system
# header, so the warnings its optimiser gives about the standard library's own string copies
# once inlined into a test (false alarms that it keeps quiet without the precompiled header)
# reach the test. They are turned off for the test executables that use one.
function(tandrel_test_pch_warnings target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread -Wno-restrict)
  endif()
endfunction()

# With TANDREL_QUICK_TESTS, a test executable's own code is compiled at -O0 without debug
# information: the tests, heavy with GoogleTest's and Qt Test's templates, then compile in
# about half the time, while the libraries they test keep the build's flags.
function(tandrel_quick_test target)
  if(TANDREL_QUICK_TESTS)
    target_compile_options(${target} PRIVATE -O0 -g0)
  endif()
endfunction()

# With TANDREL_PCH, the test executables share one precompiled header: GoogleTest, the
# standard headers most tests use and the test peers of testing/ (which need nothing of ours).
# The first executable made precompiles it and the others reuse it, so it is parsed once per
# build. Every test executable compiles with the same flags (the definitions they add beyond
# the shared ones appear in none of these headers), which reuse needs.
function(tandrel_test_pch target)
  if(NOT TANDREL_PCH)
    return()
  endif()
  get_property(host GLOBAL PROPERTY TANDREL_TEST_PCH_HOST)
  if(host)
    target_precompile_headers(${target} REUSE_FROM ${host})
    tandrel_test_pch_warnings(${target})
    return()
  endif()
  file(GLOB peers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/testing/*.h)
  tandrel_test_pch_warnings(${target})
  target_precompile_headers(${target} PRIVATE
    <gtest/gtest.h> <gmock/gmock.h>
    <algorithm> <chrono> <cstdio> <cstdlib> <filesystem> <fstream> <functional> <memory>
    <regex> <set> <sstream> <string> <thread> <vector>
    ${peers})
  set_property(GLOBAL PROPERTY TANDREL_TEST_PCH_HOST ${target})
endfunction()

# A GoogleTest executable of the library tandrel_<name>, its tests registered with
# the given label.
function(tandrel_test_executable target name label)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE tandrel_${name} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE
    TANDREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TANDREL_PYTHON="${TANDREL_PYTHON}")
  tandrel_quick_test(${target})
  tandrel_test_pch(${target})
  # Parameterised cases are named by their rows; without NO_PRETTY_VALUES CTest would
  # append each row's value as GoogleTest prints it (often raw bytes) to the name.
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    PROPERTIES LABELS ${label} TIMEOUT 120)
endfunction()

# Under ThreadSanitizer (TANDREL_TSAN): <name>_thread_tests, label tsan, from the
# given test files of <dir>/tests, those of the parts that run on several threads.
# Nothing otherwise.
function(tandrel_thread_tests name)
  if(TANDREL_TSAN)
    list(TRANSFORM ARGN PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/tests/)
    tandrel_test_executable(${name}_thread_tests ${name} tsan ${ARGN})
  endif()
endfunction()

# Installs the library for other programs (component "dev"): the archive, exported as
# Tandrel::<name>, and its public headers; <dir>/detail/ stays private.
function(tandrel_install_library name)
  set(target tandrel_${name})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
  install(TARGETS ${target} EXPORT TandrelTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tandrel/${name} COMPONENT dev)
  set_property(GLOBAL APPEND PROPERTY TANDREL_INSTALLED_LIBRARIES ${name})
endfunction()

function(tandrel_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  set(target tandrel_${name})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  # Includes start at the source root here, and at include/tandrel once installed:
  # "mime/MimePart.h" either way.
  set(include_dirs $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/tandrel>)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${include_dirs})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${include_dirs})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
  add_library(tandrel::${name} ALIAS ${target})
  tandrel_install_library(${name})

  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*Test.cpp)
  if(test_sources)
    tandrel_test_executable(${name}_tests ${name} ${name} ${test_sources})
  endif()
  file(GLOB extra CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cmake)
  foreach(f IN LISTS extra)
    include(${f})
  endforeach()
endfunction()

# A libFuzzer executable <name>_<source's name> of tandrel_<name>, built by the target
# fuzz_targets, and its CTest run labelled "fuzz", started from the seed inputs given after
# SEEDS and bounded to SECONDS (default 10): the fuzz.cmake files give more time to the
# parsers of what comes from outside than to codings a few lines long. For the
# <dir>/tests/fuzz.cmake files, inside if(TANDREL_FUZZ).
function(tandrel_fuzz_target name source)
  cmake_parse_arguments(ARG "" "SECONDS" "SEEDS" ${ARGN})
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 10)
  endif()
  get_filename_component(fuzz_name ${source} NAME_WE)
  set(target ${name}_${fuzz_name})
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE tandrel_${name})
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  if(NOT TARGET fuzz_targets)
    add_custom_target(fuzz_targets)
  endif()
  add_dependencies(fuzz_targets ${target})
  set(seeds)
  if(ARG_SEEDS)
    list(JOIN ARG_SEEDS "," seeds)
    set(seeds -seed_inputs=${seeds})
  endif()
  add_test(NAME ${name}.${fuzz_name}
           COMMAND ${target} -max_total_time=${ARG_SECONDS} -timeout=5 -rss_limit_mb=2048 -max_len=65536 ${seeds})
  set_tests_properties(${name}.${fuzz_name} PROPERTIES LABELS fuzz TIMEOUT 120)
endfunction()
