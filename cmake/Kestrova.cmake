# Shared build helpers: warnings, sanitizers, libraries, tests and fuzzers.

set(KESTROVA_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wno-error=deprecated-declarations)
# GCC 12's optimiser reports false positives inside libstdc++ at -O2 and above: keep them
# visible but not fatal in optimised builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  list(APPEND KESTROVA_WARNINGS -Wno-error=restrict -Wno-error=stringop-overflow
       -Wno-error=array-bounds -Wno-error=maybe-uninitialized)
endif()

if(KESTROVA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(KESTROVA_TSAN)
  if(KESTROVA_SANITIZE OR KESTROVA_FUZZ)
    message(FATAL_ERROR "KESTROVA_TSAN cannot be combined with KESTROVA_SANITIZE or KESTROVA_FUZZ")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(KESTROVA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KESTROVA_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # Builds every libFuzzer target and only the libraries they link: the program, the tools and
  # the libraries no fuzzer uses are left out (cmake --build DIR --target kestrova_fuzzers).
  add_custom_target(kestrova_fuzzers)
endif()

# Unity builds: each target's sources compile as one combined file, which parses the shared
# headers (the standard library, GoogleTest, Qt) and emits their inline code once per target
# instead of once per source; a clean build spends about a third of the compiler time.
# scripts/test.sh builds this way; it is off by default because editing one source then
# recompiles its whole target. The sources listed in cmake/UnitySeparate.cmake compile on their
# own (see there).
option(KESTROVA_UNITY "Compile each target's sources as one combined file" OFF)
if(KESTROVA_UNITY)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE 0)
  # GCC warns when a type with internal linkage is used inside a type declared in an included
  # file, since another file might include it too; in a unity build every source is an included
  # file, included once.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-subobject-linkage)
  endif()
endif()

# kestrova_library(<name> SOURCES ... [DEPS ...] [QT])
# A static library of one subsystem; only QT libraries may link Qt.
function(kestrova_library name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${KESTROVA_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(ARG_QT)
    target_link_libraries(${name} PUBLIC Qt6::Widgets)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    # No slots, signals or emit macros: the core's names (CountsRecord::slots) stay intact in
    # any source that sees Qt's headers first, as every source of a unity build may.
    target_compile_definitions(${name} PUBLIC QT_NO_KEYWORDS)
  endif()
endfunction()

# kestrova_test(<name> SOURCES ... [DEPS ...] [LABEL unit|gui|e2e] [QT])
# One GoogleTest executable, each case registered with ctest.
function(kestrova_test name)
  cmake_parse_arguments(ARG "QT" "LABEL;TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${KESTROVA_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(ARG_QT)
    target_link_libraries(${name} PRIVATE Qt6::Widgets)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_compile_definitions(${name} PRIVATE QT_NO_KEYWORDS)
  endif()
  target_compile_definitions(${name} PRIVATE
    KESTROVA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KESTROVA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  set(env "")
  if(ARG_LABEL STREQUAL "gui")
    set(env "QT_QPA_PLATFORM=offscreen")
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# kestrova_fuzzer(<name> SOURCE <file> SEEDS <folder>... [DEPS ...] [SECONDS n])
# A libFuzzer target, run briefly by ctest with the label "fuzz". It starts from the inputs in
# the SEEDS folders (relative to the calling folder; only read) and keeps what it finds in a
# corpus folder of the build tree, the first folder it is given and the only one it writes to.
# Its temporary files go to a folder of the build tree too ($TMPDIR), so a run that crashes
# before it can clean up leaves nothing in the system's temporary folder.
function(kestrova_fuzzer name)
  cmake_parse_arguments(ARG "" "SOURCE;SECONDS" "DEPS;SEEDS" ${ARGN})
  if(NOT ARG_SEEDS)
    message(FATAL_ERROR "kestrova_fuzzer(${name}): no SEEDS folder given")
  endif()
  set(seeds "")
  foreach(folder IN LISTS ARG_SEEDS)
    get_filename_component(folder ${folder} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    file(GLOB seed_files ${folder}/*)
    if(NOT seed_files)
      message(FATAL_ERROR "kestrova_fuzzer(${name}): seed folder ${folder} is missing or empty")
    endif()
    list(APPEND seeds ${folder})
  endforeach()
  if(NOT KESTROVA_FUZZ)
    return()
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 20)
  endif()
  add_executable(${name} ${ARG_SOURCE})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(kestrova_fuzzers ${name})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  set(tmp ${CMAKE_CURRENT_BINARY_DIR}/${name}_tmp)
  file(MAKE_DIRECTORY ${corpus} ${tmp})
  add_test(NAME ${name}
    COMMAND ${name} -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048 -timeout=10 ${corpus} ${seeds})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;TMPDIR=${tmp}")
endfunction()

# Adds every subfolder of the current folder that has a CMakeLists.txt, in name order.
function(kestrova_add_subfolders)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# Every target defined in <dir> and the folders below it, in <out>.
function(kestrova_targets_below out dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(children DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(child IN LISTS children)
    kestrova_targets_below(below ${child})
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# In a unity build, keeps the sources of KESTROVA_UNITY_SEPARATE out of the combined files of
# every target. Called once, after all targets are defined.
function(kestrova_unity_separate)
  if(NOT KESTROVA_UNITY)
    return()
  endif()
  include(${PROJECT_SOURCE_DIR}/cmake/UnitySeparate.cmake)
  kestrova_targets_below(targets ${PROJECT_SOURCE_DIR})
  foreach(file IN LISTS KESTROVA_UNITY_SEPARATE)
    set_source_files_properties(${PROJECT_SOURCE_DIR}/${file} TARGET_DIRECTORY ${targets}
      PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()
