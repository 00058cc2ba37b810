# Small helpers so every module and test target is declared the same way.

# Flags for our own code only; third-party headers come in as system includes.
function(vantry_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
  if(VANTRY_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# vantry_add_library(name SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# One folder under src/ is one static library named vantry_<name>.
function(vantry_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(vantry_${name} STATIC ${ARG_SOURCES})
  target_include_directories(vantry_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(vantry_${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  vantry_strict(vantry_${name})
endfunction()

# vantry_add_test(name [GUI] SOURCES ... LIBS ... [LABEL label] [FIXTURE name] [TIMEOUT s])
# A GoogleTest program whose cases CTest discovers; every test runs with a private
# HOME and XDG folders (tests/support), never the developer's own files. LABEL replaces the
# default label (the program's name), FIXTURE names a CTest fixture every case needs. One value
# each: gtest_discover_tests hands PROPERTIES on as one flat list, so a list value would fall apart.
function(vantry_add_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT;LABEL;FIXTURE" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE vantry_testsupport_gui ${ARG_LIBS})
  else()
    target_link_libraries(${name} PRIVATE vantry_testsupport_core ${ARG_LIBS})
  endif()
  vantry_strict(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(label ${name})
  if(ARG_LABEL)
    set(label ${ARG_LABEL})
  endif()
  set(fixture)
  if(ARG_FIXTURE)
    set(fixture FIXTURES_REQUIRED ${ARG_FIXTURE})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS ${label} ${fixture}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VANTRY_SOURCE_DIR=${PROJECT_SOURCE_DIR};VANTRY_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()

# vantry_add_benchmark(name SOURCES ... LIBS ...): Google Benchmark programs, never run by CTest.
function(vantry_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT VANTRY_BUILD_BENCHMARKS)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${ARG_LIBS})
  vantry_strict(${name})
endfunction()
