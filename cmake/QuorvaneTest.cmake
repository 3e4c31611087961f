# quorvane_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One GoogleTest executable registered with CTest. In the Windows build the test runs
# under Wine through CMAKE_CROSSCOMPILING_EMULATOR (cmake/wine-run.sh).
function(quorvane_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock quorvane_warnings)
  # Under Wine the Linux file system is drive Z:.
  if(QUORVANE_WINDOWS)
    set(drive "Z:")
  else()
    set(drive "")
  endif()
  target_compile_definitions(${name} PRIVATE
    QUORVANE_TESTDATA_DIR="${drive}${PROJECT_SOURCE_DIR}/testdata"
    QUORVANE_BIN_DIR="${drive}${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  # Whole executables, not one process per test case: Wine start-up costs about a
  # second, so per-case discovery would make the Windows run crawl.
  add_test(NAME ${name} COMMAND ${name})
  if(ARG_PROPERTIES)
    set_tests_properties(${name} PROPERTIES ${ARG_PROPERTIES})
  endif()
endfunction()

# quorvane_add_benchmark(<name> SOURCES <files...> LIBS <targets...>)  (native only)
function(quorvane_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(QUORVANE_WINDOWS OR NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark quorvane_warnings)
endfunction()

# quorvane_add_profile_test(<name> <profile> COMMAND <args...> [PROPERTIES <props...>])
# A Windows test once more in another Wine configuration (QUORVANE_WINE_PROFILE in
# cmake/wine-run.sh, which keeps a prefix of its own for it), registered as
# <name>_<profile> with dashes turned into underscores.
function(quorvane_add_profile_test name profile)
  cmake_parse_arguments(ARG "" "" "COMMAND;PROPERTIES" ${ARGN})
  string(REPLACE "-" "_" suffix "${profile}")
  add_test(NAME ${name}_${suffix} COMMAND ${ARG_COMMAND})
  set_tests_properties(${name}_${suffix} PROPERTIES ENVIRONMENT "QUORVANE_WINE_PROFILE=${profile}" ${ARG_PROPERTIES})
endfunction()
