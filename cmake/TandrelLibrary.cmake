# One static library per subsystem. Sources and tests are picked up by name so
# that adding a unit never means editing a shared list:
#   <dir>/*.cpp            the library
#   <dir>/tests/*Test.cpp  one GoogleTest executable, <name>_tests, label <name>
#   <dir>/tests/*.cmake    extra test registrations (scripts, servers, fuzzers)
function(tandrel_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  set(target tandrel_${name})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
  add_library(tandrel::${name} ALIAS ${target})

  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*Test.cpp)
  if(test_sources)
    add_executable(${name}_tests ${test_sources})
    target_link_libraries(${name}_tests PRIVATE ${target} GTest::gtest GTest::gmock GTest::gtest_main)
    target_compile_definitions(${name}_tests PRIVATE
      TANDREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      TANDREL_PYTHON="${TANDREL_PYTHON}")
    # Parameterised cases are named by their rows; without NO_PRETTY_VALUES CTest would
    # append each row's value as GoogleTest prints it (often raw bytes) to the name.
    gtest_discover_tests(${name}_tests
      DISCOVERY_MODE PRE_TEST
      NO_PRETTY_VALUES
      PROPERTIES LABELS ${name} TIMEOUT 120)
  endif()
  file(GLOB extra CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cmake)
  foreach(f IN LISTS extra)
    include(${f})
  endforeach()
endfunction()
