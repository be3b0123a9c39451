# SPDX-License-Identifier: LGPL-2.1-or-later
# The fuzz target bodies, shared by the libFuzzer build (fuzz/CMakeLists.txt) and the replay
# runner of the test suite (tests/fuzz-replay). tamba_fuzz_executables(PREFIX SOURCES...) makes
# one executable per target, named PREFIX + target name, each built from its body plus SOURCES
# (the replay main, or nothing for libFuzzer), and sets TAMBA_FUZZ_TARGETS to the target names.
set(TAMBA_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
# Formats with a loader module; one target each, skipping itself when the module is not built.
set(TAMBA_FUZZ_FORMATS gif xpm xbm bmp ico ras pnm png jpeg tiff)

if(NOT TARGET tamba_fuzz_support)
  # The module opener and piecewise driver of the tests, without GoogleTest.
  add_library(tamba_fuzz_support STATIC ${PROJECT_SOURCE_DIR}/tests/support/modules.cc)
  target_include_directories(tamba_fuzz_support PUBLIC ${PROJECT_SOURCE_DIR}/tests/support
    ${TAMBA_FUZZ_DIR} ${PROJECT_SOURCE_DIR}/tamba)
  target_link_libraries(tamba_fuzz_support PUBLIC tamba PkgConfig::GLIB)
endif()

function(tamba_fuzz_executables prefix)
  set(names)
  foreach(format ${TAMBA_FUZZ_FORMATS})
    set(exe ${prefix}module-${format})
    add_executable(${exe} ${TAMBA_FUZZ_DIR}/fuzz-module.cc ${ARGN})
    target_compile_definitions(${exe} PRIVATE TAMBA_FUZZ_FORMAT="${format}"
      TAMBA_FUZZ_MODULE_DIR="${TAMBA_LOADER_OUTPUT_DIR}")
    if(TARGET tambaloader-${format})
      add_dependencies(${exe} tambaloader-${format})
    endif()
    list(APPEND names module-${format})
  endforeach()
  foreach(body loader engine xpm-data parse-color save at-size)
    add_executable(${prefix}${body} ${TAMBA_FUZZ_DIR}/fuzz-${body}.cc ${ARGN})
    list(APPEND names ${body})
  endforeach()
  foreach(name ${names})
    target_link_libraries(${prefix}${name} PRIVATE tamba_fuzz_support)
  endforeach()
  foreach(format ${TAMBA_FUZZ_FORMATS})
    if(TARGET tambaloader-${format})
      add_dependencies(${prefix}loader tambaloader-${format})
    endif()
  endforeach()
  set(TAMBA_FUZZ_TARGETS ${names} PARENT_SCOPE)
endfunction()
