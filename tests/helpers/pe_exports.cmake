# pe_export_names(FILE TOOL OUT): the names in the export table of the PE file
# FILE, as objdump (TOOL) lists them, into the list OUT. A failing tool ends
# the script.
function(pe_export_names file tool out)
  execute_process(COMMAND ${tool} -p ${file} RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${tool} failed on ${file}: ${err}")
  endif()
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(names "")
  set(in_table FALSE)
  foreach(line IN LISTS lines)
    # The name table follows "[Ordinal/Name Pointer] Table" up to a blank line.
    if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
      set(in_table TRUE)
    elseif(in_table AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
      list(APPEND names "${CMAKE_MATCH_1}")
    elseif(in_table AND line STREQUAL "")
      set(in_table FALSE)
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
