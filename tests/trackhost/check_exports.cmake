# Checks that a module's export table holds exactly the expected plain names.
# Arguments: MODULE, TOOL (nm for ELF, objdump for PE), WINDOWS (true for PE),
# EXPECTED (list of names).
include(${CMAKE_CURRENT_LIST_DIR}/../helpers/pe_exports.cmake)

if(WINDOWS)
  pe_export_names(${MODULE} ${TOOL} names)
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${MODULE} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed on ${MODULE}: ${err}")
  endif()
  string(REPLACE "\r" "" out "${out}")
  string(REPLACE "\n" ";" lines "${out}")
  set(names "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
      set(name "${CMAKE_MATCH_1}")
      # Markers the linker adds to every shared object, and the sanitizers' own.
      if(NOT name MATCHES "^(_edata|_end|__bss_start|_init|_fini)$" AND NOT name MATCHES "^__(asan|ubsan|tsan|odr_asan|sanitizer)")
        list(APPEND names "${name}")
      endif()
    endif()
  endforeach()
endif()

list(SORT names)
set(want ${EXPECTED})
list(SORT want)
if(NOT names STREQUAL want)
  message(FATAL_ERROR "${MODULE} exports [${names}], expected exactly [${want}]")
endif()
message(STATUS "${MODULE} exports exactly [${names}]")
