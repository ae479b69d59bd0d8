# Helpers shared by the layer folders.

# vl_add_layer(<name> [DEPS ...]): a static library from every .cpp in the
# calling folder (not in subfolders: qt/ views build their own library).
function(vl_add_layer name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# vl_add_test(<name> [GUI] LABELS ... DEPS ... [SOURCES ...]): one GoogleTest
# executable; every test case becomes its own ctest test, so cases run in
# parallel and each in a fresh temporary HOME. GUI tests get a QApplication
# on the offscreen platform.
include(GoogleTest)
function(vl_add_test name)
  cmake_parse_arguments(ARG "GUI" "" "LABELS;DEPS;SOURCES" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(ARG_GUI)
    set(main vl_testmain_gui)
  else()
    set(main vl_testmain)
  endif()
  target_link_libraries(${name} PRIVATE ${main} ${ARG_DEPS})
  target_precompile_headers(${name} REUSE_FROM ${main})
  # Test cases named Slow... carry the label "slow" instead of the
  # executable's labels, so a quick run can leave them out (ctest -LE slow).
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    TEST_FILTER "-*.Slow*"
    PROPERTIES LABELS "${ARG_LABELS}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    TEST_FILTER "*.Slow*"
    PROPERTIES LABELS "slow")
endfunction()
