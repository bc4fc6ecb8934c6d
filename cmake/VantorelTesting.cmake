# Test registration for both builds. Natively each GoogleTest case is its own
# CTest test; a Windows test executable runs whole under Wine, through the
# runner that gives it a 32-bit prefix, a private display and a time-out.

set(VANTOREL_WINE_RUN "${PROJECT_SOURCE_DIR}/scripts/wine-run")
set(VANTOREL_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")

if(WIN32)
  set(_googletest_src /usr/src/googletest)
  if(NOT EXISTS "${_googletest_src}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources not found in ${_googletest_src} (Debian package googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${_googletest_src} "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# Test data of outside origin, kept in the repository; Wine maps / to Z:.
set(VANTOREL_TESTDATA "${PROJECT_SOURCE_DIR}/tests/data")
if(WIN32)
  set(VANTOREL_TESTDATA "Z:${VANTOREL_TESTDATA}")
endif()
set(VANTOREL_TEST_SOURCE_DIR "${PROJECT_SOURCE_DIR}/tests")
if(WIN32)
  set(VANTOREL_TEST_SOURCE_DIR "Z:${PROJECT_SOURCE_DIR}/tests")
endif()

# Runs `command...` natively, or under Wine when it is a Windows program.
function(vantorel_test_command out_var)
  if(WIN32)
    set(${out_var} "${VANTOREL_WINE_RUN}" --prefix "${VANTOREL_WINE_PREFIX}" --timeout 900 -- ${ARGN}
        PARENT_SCOPE)
  else()
    set(${out_var} ${ARGN} PARENT_SCOPE)
  endif()
endfunction()

# vantorel_add_gtest(NAME SOURCES... LIBRARIES...)
function(vantorel_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  # Where the tests find their data, as the test program sees the paths; the
  # environment variables of the same names override them.
  target_compile_definitions(${name} PRIVATE
    VANTOREL_TESTDATA="${VANTOREL_TESTDATA}"
    VANTOREL_TEST_SOURCE_DIR="${VANTOREL_TEST_SOURCE_DIR}")
  if(WIN32)
    # The agent runs with the default 1 MiB stack; so do its tests.
    target_link_options(${name} PRIVATE -Wl,--stack,1048576)
    vantorel_test_command(_cmd $<TARGET_FILE:${name}>)
    add_test(NAME ${name} COMMAND ${_cmd})
    set_tests_properties(${name} PROPERTIES TIMEOUT 1000 RESOURCE_LOCK wineprefix)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST)
  endif()
endfunction()
