# qv_library(NAME DEPS <targets...>)
#   One library per folder under src/: every .cpp of the folder (not subfolders) is compiled into
#   target qv_<NAME>; the include root is src/, so code includes "core/errors.h", "tables/dbf.h", ...
function(qv_library name)
  cmake_parse_arguments(QL "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(qv_${name} STATIC ${srcs})
  target_include_directories(qv_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(qv_${name} PUBLIC ${QL_DEPS})
endfunction()

# qv_tests(LABEL DEPS <targets...> [DIR dir] [TIMEOUT s] [ENV "A=1;B=2"] [LABELS extra...])
#   Every *_test.cpp in the folder (default: the current one) becomes one GoogleTest executable
#   registered with CTest under the label. Tests find data through QV_TEST_DATA_DIR and
#   QV_BIN_DIR (the folder of the built programs).
function(qv_tests label)
  if(QV_FUZZ)
    return()
  endif()
  cmake_parse_arguments(QT "" "DIR;TIMEOUT" "DEPS;ENV;LABELS" ${ARGN})
  if(NOT QT_DIR)
    set(QT_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  if(NOT QT_TIMEOUT)
    set(QT_TIMEOUT 300)
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${QT_DIR}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(base ${src} NAME_WE)
    set(exe ${label}_${base})
    add_executable(${exe} ${src})
    set_target_properties(${exe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${exe} PRIVATE ${QT_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
    target_compile_definitions(${exe} PRIVATE
      QV_TEST_DATA_DIR="${QT_DIR}/data" QV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      QV_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    add_test(NAME ${exe} COMMAND ${exe})
    set_tests_properties(${exe} PROPERTIES LABELS "${label};${QT_LABELS}" TIMEOUT ${QT_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${QT_ENV}")
    # Long tests start first (see QV_TEST_COSTS), so a parallel run does not end on one alone.
    list(FIND QV_TEST_COSTS ${exe} cost_at)
    if(cost_at GREATER -1)
      math(EXPR cost_at "${cost_at} + 1")
      list(GET QV_TEST_COSTS ${cost_at} cost)
      set_tests_properties(${exe} PROPERTIES COST ${cost})
    endif()
  endforeach()
endfunction()

# qv_fuzzer(NAME SOURCE DEPS <targets...>): a libFuzzer target, built only with QV_FUZZ.
function(qv_fuzzer name source)
  cmake_parse_arguments(QF "" "" "DEPS" ${ARGN})
  if(QV_FUZZ)
    add_executable(fuzz_${name} ${source})
    set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    target_link_libraries(fuzz_${name} PRIVATE ${QF_DEPS})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()

# qv_benchmark(NAME SOURCES... DEPS <targets...>): a Google Benchmark program in build/bench/.
function(qv_benchmark name)
  cmake_parse_arguments(QB "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(bench_${name} ${QB_SOURCES})
  set_target_properties(bench_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(bench_${name} PRIVATE ${QB_DEPS} benchmark::benchmark Threads::Threads)
endfunction()
