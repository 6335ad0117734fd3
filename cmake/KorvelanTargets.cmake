# One helper per target kind, so every target gets the same language level,
# warnings and floating-point flags.
#
# -ffp-contract=off: no fused multiply-adds; every product and sum is rounded
# exactly where the source says. No -march=native and no fast-math, for the
# same reason.

set(KORVELAN_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion)
# g++ 12 at -O2/-O3 reports -Wrestrict for std::string's operator+ on a
# literal and a string (a false positive of its inlined char_traits copy).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND KORVELAN_WARNINGS -Wno-restrict)
endif()

set(KORVELAN_PIC_FLAGS -fno-semantic-interposition)
set(KORVELAN_FP_FLAGS -ffp-contract=off -fno-fast-math)

function(korvelan_apply_flags target)
  target_compile_options(${target} PRIVATE ${KORVELAN_WARNINGS} ${KORVELAN_FP_FLAGS})
  if(KORVELAN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_compile_features(${target} PUBLIC cxx_std_20)
endfunction()

# korvelan_library(NAME SOURCES ... [DEPS ...])
function(korvelan_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  korvelan_apply_flags(${name})
endfunction()

# korvelan_core_library(NAME SOURCES ... [DEPS ...])
# A part of the installed library (textio, numeric, engine): its sources
# compile once, into the object library NAME_objects, whose objects go into
# the one static library korvelan_lib (libkorvelan.a); NAME itself stands for that library, so
# that programs and tests link the same archive that is installed.
function(korvelan_core_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name}_objects OBJECT ${ARG_SOURCES})
  target_include_directories(${name}_objects PUBLIC ${PROJECT_SOURCE_DIR}
                             ${PROJECT_SOURCE_DIR}/include ${PROJECT_BINARY_DIR}/include)
  target_link_libraries(${name}_objects PUBLIC ${ARG_DEPS})
  set_target_properties(${name}_objects PROPERTIES POSITION_INDEPENDENT_CODE ${KORVELAN_PIC})
  if(KORVELAN_PIC)
    # -fPIC alone lets every global function be interposed, which stops the
    # compiler from inlining them or calling them directly: the console
    # program linked with these objects ran 7 % more instructions.
    target_compile_options(${name}_objects PRIVATE ${KORVELAN_PIC_FLAGS})
  endif()
  korvelan_apply_flags(${name}_objects)
  add_library(${name} INTERFACE)
  target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} INTERFACE korvelan_lib)
endfunction()

# korvelan_executable(NAME SOURCES ... [DEPS ...])
function(korvelan_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  korvelan_apply_flags(${name})
endfunction()

# korvelan_test(NAME SOURCES ... [DEPS ...] [LABELS ...])
# A GoogleTest binary registered with CTest, one CTest entry per test case.
# Binaries named in KORVELAN_THREADS_TESTS (or given LABELS threads) carry
# the label "threads": the ThreadSanitizer build builds them (target
# threads_tests) and runs their tests.
function(korvelan_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  if(name IN_LIST KORVELAN_THREADS_TESTS AND NOT "threads" IN_LIST ARG_LABELS)
    list(APPEND ARG_LABELS threads)
  endif()
  if("threads" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY KORVELAN_THREADS_TARGETS ${name})
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  korvelan_apply_flags(${name})
  include(GoogleTest)
  if(ARG_LABELS)
    gtest_discover_tests(${name} PROPERTIES LABELS "${ARG_LABELS}"
                         DISCOVERY_TIMEOUT 60)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# korvelan_benchmark(NAME SOURCES ... [DEPS ...])
function(korvelan_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  korvelan_apply_flags(${name})
endfunction()
