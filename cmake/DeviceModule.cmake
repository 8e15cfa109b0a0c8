# A shared object must resolve every symbol at link time, so a missing
# dependency shows up in the build rather than at load. Clang links its
# sanitizer runtimes only into executables, leaving their symbols for the
# loading program to supply, so its sanitized builds skip the check.
function(tarsis_no_undefined target)
  if(WIN32)
    return()
  endif()
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND (TARSIS_SANITIZE OR TARSIS_FUZZ))
    return()
  endif()
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
endfunction()

# A device module as the host loads it: NAME.dll or NAME.so without a prefix,
# linked with the product's code, exporting only what its version map names
# (on Windows, only what is marked for export).
#   tarsis_device_module(NAME MAP file SOURCES src...)
function(tarsis_device_module name)
  cmake_parse_arguments(arg "" "MAP" "SOURCES" ${ARGN})
  add_library(${name} MODULE ${arg_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
  target_link_libraries(${name} PRIVATE tarsis_core)
  tarsis_warnings(${name})
  tarsis_no_undefined(${name})
  if(NOT WIN32)
    # Inline library templates would otherwise leave the module too.
    target_link_options(${name} PRIVATE -Wl,--version-script=${arg_MAP})
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${arg_MAP})
  endif()
endfunction()
