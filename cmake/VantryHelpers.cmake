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

# vantry_add_test(name [GUI] SOURCES ... LIBS ... [LABELS ...] [FIXTURES ...] [TIMEOUT s])
# A GoogleTest program whose cases CTest discovers; every test runs with a private
# HOME and XDG folders (tests/support), never the developer's own files. Every case carries the
# program's name and LABELS as labels, and needs the CTest FIXTURES (set up before it, cleaned
# up after).
function(vantry_add_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES" ${ARGN})
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
  set(labels ${name})
  if(ARG_LABELS)
    list(APPEND labels ${ARG_LABELS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  # List-valued properties are set by a file CTest reads after the discovered cases:
  # gtest_discover_tests hands PROPERTIES on as one flat list, where a list value falls apart.
  set(environment "QT_QPA_PLATFORM=offscreen;VANTRY_SOURCE_DIR=${PROJECT_SOURCE_DIR};VANTRY_BINARY_DIR=${PROJECT_BINARY_DIR}")
  set(properties "LABELS [==[${labels}]==] ENVIRONMENT [==[${environment}]==]")
  if(ARG_FIXTURES)
    string(APPEND properties " FIXTURES_REQUIRED [==[${ARG_FIXTURES}]==]")
  endif()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${script} "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ${properties})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
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
