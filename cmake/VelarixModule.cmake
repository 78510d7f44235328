# velarix_module(<name> [DEPENDS <module>...] [LIBS <target>...])
#
# Builds the layer in the current folder as the static library vx_<name> from every *.cpp that
# is not a test, and, when tests are on, the test program <name>_tests from every *_test.cpp,
# registered with CTest test by test.
function(velarix_module name)
  cmake_parse_arguments(M "" "" "DEPENDS;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  set(deps)
  foreach(dep IN LISTS M_DEPENDS)
    list(APPEND deps vx_${dep})
  endforeach()
  add_library(vx_${name} STATIC ${sources})
  target_include_directories(vx_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(vx_${name} PUBLIC ${deps} ${M_LIBS})
  if(VELARIX_BUILD_TESTS AND tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE vx_${name} velarix_testing GTest::gtest GTest::gmock
                                                GTest::gtest_main)
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
  endif()
endfunction()
