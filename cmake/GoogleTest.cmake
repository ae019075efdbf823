# GoogleTest: Debian's libgtest-dev natively; for the cross build, the sources
# Debian ships in /usr/src/googletest, built with the project's toolchain.
if(COMMAND sp_add_gtest)
  return()
endif()
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

# One ctest entry per test executable: starting Wine costs about half a second,
# so the win32 build does not register every test case separately.
function(sp_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  sp_target_defaults(${name})
  target_link_libraries(${name} PRIVATE sp_test_support ${T_LIBS} GTest::gtest_main)
  # Every test of a program that links the player's code runs in a private
  # folder of its own, never in the machine's configuration or log folders.
  # The listener registers itself before main, so it is compiled into the
  # program rather than taken from the support library (the linker would
  # leave out an object nothing refers to).
  if("sp_core" IN_LIST T_LIBS)
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/TestIsolation.cpp)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
