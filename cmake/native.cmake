find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

file(GLOB NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
add_executable(padwarden_native_tests ${NATIVE_TEST_SOURCES})
target_link_libraries(padwarden_native_tests PRIVATE padwarden_core GTest::gtest GTest::gtest_main Threads::Threads)
# The sanitizer builds compile every test file again: parsing gtest once each saves about a third
# of their time. Not in the optimised build, where GCC 12 then reports its false -Warray-bounds
# inside std::u16string as the test's own.
if(PADWARDEN_SANITIZE)
  target_precompile_headers(padwarden_native_tests PRIVATE <gtest/gtest.h> <atomic> <chrono> <cstring> <mutex>
                            <string> <thread> <vector>)
endif()
if(TARGET padwarden_sim_core)
  target_link_libraries(padwarden_native_tests PRIVATE padwarden_sim_core)
endif()
set(suite native)
if(PADWARDEN_SANITIZE)
  set(suite ${PADWARDEN_SANITIZE})
endif()
add_test(NAME ${suite}_suite COMMAND padwarden_native_tests --gtest_brief=1)

file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
list(FILTER BENCH_SOURCES EXCLUDE REGEX "_win\\.cpp$")
find_package(benchmark QUIET)
if(BENCH_SOURCES AND benchmark_FOUND AND NOT PADWARDEN_SANITIZE)
  add_executable(padwarden_bench ${BENCH_SOURCES})
  target_link_libraries(padwarden_bench PRIVATE padwarden_core benchmark::benchmark Threads::Threads)
  # It replaces the global operator new and delete with counting malloc and free wrappers.
  target_compile_options(padwarden_bench PRIVATE -Wno-mismatched-new-delete)
  if(TARGET padwarden_sim_core)
    target_link_libraries(padwarden_bench PRIVATE padwarden_sim_core)
  endif()
  # Figures are printed, never asserted: one short run keeps the suite quick.
  add_test(NAME benchmarks COMMAND padwarden_bench --benchmark_min_time=0.05)
  # Alone, so that its figures are the machine's and not the neighbouring test's.
  set_tests_properties(benchmarks PROPERTIES RUN_SERIAL TRUE)
endif()

if(NOT PADWARDEN_SANITIZE)
  # The Windows workflow runs elsewhere: here its file is parsed and its shape checked.
  add_test(NAME windows_workflow COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/workflow/check_windows_workflow.py)
  add_test(NAME release_workflow COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/workflow/check_release_workflow.py)
  add_test(NAME workflow_check_cases COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/workflow/test_workflow_checks.py)
  # The winget manifests pass their own check, and each broken copy fails it by name.
  add_test(NAME winget_manifest COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/package/test_winget_manifest.py)
  # The installer's validation rules: a good package passes, each broken copy is named by its rule.
  add_test(NAME msi_rules_cases COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/package/test_check_msi_rules.py)
  # Includes point only down the layers; the cases prove the check fails when one points up.
  add_test(NAME include_order COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/layout/check_includes.py)
  add_test(NAME include_order_cases COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/layout/test_check_includes.py)
  # The scripts' bad arguments end with their usage and 2, before they install or build anything.
  add_test(NAME script_arguments COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/scripts/test_script_arguments.py)
endif()

foreach(dir ${PADWARDEN_SANITIZER_DIRS})
  get_filename_component(name ${dir} NAME)
  add_test(NAME ${name}_suite COMMAND ${dir}/padwarden_native_tests --gtest_brief=1)
endforeach()

if(PADWARDEN_FUZZ_DIR)
  file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
  list(FILTER FUZZ_SOURCES EXCLUDE REGEX "/fuzz_(platform|device_port)\\.cpp$")
  foreach(src ${FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz --runs 3000 --build ${PADWARDEN_FUZZ_DIR} ${name})
  endforeach()
endif()

if(PADWARDEN_WINDOWS_DIR)
  set(WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run)
  add_test(NAME windows_suite COMMAND ${WINE_RUN} ${PADWARDEN_WINDOWS_DIR}/padwarden_win_tests.exe --gtest_brief=1)
  set_tests_properties(windows_suite PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
  file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
  foreach(t ${E2E_TESTS})
    get_filename_component(name ${t} NAME_WE)
    string(REGEX REPLACE "^test_" "e2e_" name ${name})
    add_test(NAME ${name} COMMAND python3 ${t} --build ${PADWARDEN_WINDOWS_DIR})
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
  endforeach()
endif()
