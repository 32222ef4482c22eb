# The unit tests. On the host they use the system's GoogleTest; a cross build
# compiles GoogleTest from Debian's googletest sources with the same toolchain.
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_POLICY_DEFAULT_CMP0069 NEW)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  # GoogleTest's own sources are not ours to hold to -Werror.
  add_subdirectory(${BREVLIN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PRIVATE -Wno-error)
  target_compile_options(gtest_main PRIVATE -Wno-error)
  set(BREVLIN_GTEST_LIBS gtest)
else()
  set(BREVLIN_GTEST_LIBS GTest::gtest)
endif()

add_library(brevlin_testing STATIC ${BREVLIN_TESTING_SOURCES})
target_link_libraries(brevlin_testing PUBLIC brevlin ${BREVLIN_GTEST_LIBS})

add_executable(brevlin_tests ${BREVLIN_TEST_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/src/testing/unit_tests_main.cc)
target_link_libraries(brevlin_tests PRIVATE brevlin_testing)
# Test fixtures kept in the source tree (src/*/testdata).
target_compile_definitions(brevlin_tests PRIVATE BREVLIN_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
if(TARGET regstore_commands)
  target_link_libraries(brevlin_tests PRIVATE regstore_commands)
endif()
# The Linux fault tests run the programs built beside the test binary (and
# the dry run's test the differential test's file generator), some of them
# under the test file layer: a library preloaded into the program
# that fails chosen writes and syncs of the store or cuts the power. It is
# built without sanitizers (it runs before their runtime) and never linked
# into a program.
if(NOT WIN32 AND TARGET regstore)
  add_library(brevlin_file_layer MODULE src/testing/posix/file_layer/file_layer.cc
                                        src/testing/posix/power_cut.cc)
  target_include_directories(brevlin_file_layer PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_compile_options(brevlin_file_layer PRIVATE -fno-sanitize=all -fno-exceptions)
  target_link_options(brevlin_file_layer PRIVATE -fno-sanitize=all)
  target_link_libraries(brevlin_file_layer PRIVATE ${CMAKE_DL_LIBS} Threads::Threads)
  set_target_properties(brevlin_file_layer PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY
                        ${CMAKE_BINARY_DIR} INTERPROCEDURAL_OPTIMIZATION OFF)
  add_dependencies(brevlin_tests register-brevlin regstore gen_config brevlin_file_layer)
endif()

if(NOT CMAKE_CROSSCOMPILING)
  include(GoogleTest)
  gtest_discover_tests(brevlin_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()

# The store and the registry's vocabulary include nothing of the floors above
# them.
add_test(NAME layering.includes
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -P
          ${CMAKE_SOURCE_DIR}/tests/layering/check_includes.cmake)

# The test command also registers the runs of the other builds here, so that
# one ctest run covers them all and ends with one summary.
if(NOT CMAKE_CROSSCOMPILING)
  set(BREVLIN_SANITIZE_DIR "" CACHE PATH "A build with BREVLIN_SANITIZE=ON whose tests run here too")
  set(BREVLIN_WIN64_DIR "" CACHE PATH "A 64-bit Windows build whose tests run here under wine64")
  set(BREVLIN_WIN32_DIR "" CACHE PATH "A 32-bit Windows build whose program is checked and run here")
  if(BREVLIN_SANITIZE_DIR)
    add_test(NAME sanitizers.unit COMMAND ${BREVLIN_SANITIZE_DIR}/brevlin_tests)
    set_tests_properties(sanitizers.unit PROPERTIES TIMEOUT 1200
      ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1")
  endif()
  # The programs as users run them; these need the host's regstore and the
  # Windows builds.
  if(TARGET regstore)
    add_test(NAME e2e.host COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run-host.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(e2e.host PROPERTIES TIMEOUT 600)
    # The .deb, unpacked into a clean folder, runs the worked example.
    add_test(NAME package.deb COMMAND ${CMAKE_SOURCE_DIR}/tests/package/deb-test.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(package.deb PROPERTIES TIMEOUT 300)
  endif()
  # Each Windows build under Wine: on a virtual display, with real boxes
  # (e2e, which keeps a picture of each box in the build folder's
  # screenshots/win32 and screenshots/win64; docs/ holds copies for the
  # README), and with no display at all (headless). The shipped 32-bit program
  # runs through Wine's WoW64; where it cannot, its tests say why and count
  # as skipped (exit code 77), and the 64-bit build's stand in.
  set(wine_tests)
  foreach(bits 64 32)
    set(dir ${BREVLIN_WIN${bits}_DIR})
    if(dir)
      add_test(NAME wine${bits}.e2e
        COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run-wine.sh ${dir}/register-brevlin.exe
                ${CMAKE_BINARY_DIR}/screenshots/win${bits})
      add_test(NAME wine${bits}.headless
        COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/wine-headless.sh ${dir}/register-brevlin.exe)
      list(APPEND wine_tests wine${bits}.e2e wine${bits}.headless)
    endif()
  endforeach()
  if(wine_tests)
    # Two Wine sessions at once can starve each other on a small machine:
    # the Wine runs take turns.
    set_tests_properties(${wine_tests} PROPERTIES TIMEOUT 900 RESOURCE_LOCK wine
      SKIP_RETURN_CODE 77)
  endif()
  # The Linux program and the Windows program import the same generated
  # files; their registries and messages must agree. The Windows side is the
  # shipped 32-bit program where Wine can run it, else the 64-bit build.
  if(BREVLIN_WIN64_DIR AND TARGET regstore)
    set(prefer_32)
    if(BREVLIN_WIN32_DIR)
      set(prefer_32 --prefer-32 ${BREVLIN_WIN32_DIR})
    endif()
    add_test(NAME differential
      COMMAND ${CMAKE_SOURCE_DIR}/tests/differential/run.sh ${prefer_32}
              --linux-build ${CMAKE_BINARY_DIR} --windows-build ${BREVLIN_WIN64_DIR})
    set_tests_properties(differential PROPERTIES TIMEOUT 600 RESOURCE_LOCK wine)
    # regstore import and Wine's reg import on the same registry files: the
    # fixtures and a seeded sample must leave the same keys, values and exit
    # status (tests/differential/run-reg.py; its header says how to run a
    # large sample by hand).
    add_test(NAME differential.reg
      COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/differential/run-reg.py
              --regstore $<TARGET_FILE:regstore> --only reg)
    set_tests_properties(differential.reg PROPERTIES TIMEOUT 600 RESOURCE_LOCK wine
      SKIP_RETURN_CODE 77)
    # regstore's add, delete, query, copy and export against Wine's reg on the
    # same command lines.
    add_test(NAME differential.cmd
      COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/differential/run-reg.py
              --regstore $<TARGET_FILE:regstore> --only cmd --count 20)
    set_tests_properties(differential.cmd PROPERTIES TIMEOUT 900 RESOURCE_LOCK wine
      SKIP_RETURN_CODE 77)
  endif()
  # Registry files from Wine's reg and regedit through regstore and back.
  if(BREVLIN_WIN64_DIR AND TARGET regstore)
    add_test(NAME wine64.regstore-roundtrip
      COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/regstore-wine-roundtrip.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(wine64.regstore-roundtrip PROPERTIES TIMEOUT 900 RESOURCE_LOCK wine)
  endif()
  if(BREVLIN_WIN64_DIR)
    add_test(NAME wine64.unit
      COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run-unit-tests.sh ${BREVLIN_WIN64_DIR}/brevlin_tests.exe)
    set_tests_properties(wine64.unit PROPERTIES TIMEOUT 1200 RESOURCE_LOCK wine)
  endif()
  if(BREVLIN_WIN32_DIR)
    add_test(NAME win32.program-is-pe32-gui
      COMMAND ${CMAKE_SOURCE_DIR}/tests/win32/check-pe32.sh ${BREVLIN_WIN32_DIR}/register-brevlin.exe)
    add_test(NAME win32.program-manifest
      COMMAND ${CMAKE_SOURCE_DIR}/tests/win32/check-manifest.sh ${BREVLIN_WIN32_DIR}/register-brevlin.exe)
    add_test(NAME package.win32-zip
      COMMAND ${CMAKE_SOURCE_DIR}/tests/package/zip-test.sh ${BREVLIN_WIN32_DIR})
  endif()
endif()

# libFuzzer targets of a fuzz build, each run briefly from its seed corpus.
if(NOT CMAKE_CROSSCOMPILING)
  set(BREVLIN_FUZZ_DIR "" CACHE PATH "A build with BREVLIN_FUZZ=ON whose fuzz targets run here")
  set(BREVLIN_FUZZ_SECONDS 20 CACHE STRING "How long each fuzz target runs in the tests")
  if(BREVLIN_FUZZ_DIR)
    file(GLOB fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cc)
    foreach(source ${fuzz_sources})
      get_filename_component(name ${source} NAME_WE)
      add_test(NAME fuzz.${name}
        COMMAND ${CMAKE_SOURCE_DIR}/fuzz/run.sh ${BREVLIN_FUZZ_DIR}/fuzz/${name}
                ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name} ${BREVLIN_FUZZ_SECONDS}
                ${CMAKE_BINARY_DIR}/fuzz-artifacts)
      set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 600)
    endforeach()
  endif()
endif()
