# Runs trackhost on an example file with the real module and the simulated
# tracker, and checks that the JSON output holds exactly the expected
# device/id pairs, each of them in several cycles (the stream keeps going).
# Arguments: EXE, EMULATOR (may be empty), CONFIG, WORKDIR, EXPECTED
# ("device/id,device/id,...").
get_filename_component(base ${CONFIG} NAME_WE)
set(cycles 30)
configure_file(${CONFIG} ${WORKDIR}/example-${base}.cfg COPYONLY)
execute_process(COMMAND ${EMULATOR} ${EXE} --cycles ${cycles} --period 10 --quiet --json example-${base}.json
                        example-${base}.cfg
                WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "trackhost exited with ${rc}:\n${out}\n${err}")
endif()

file(STRINGS ${WORKDIR}/example-${base}.json records)
set(seen "")
foreach(r IN LISTS records)
  if(NOT r MATCHES "^{\"cycle\":([0-9]+),\"device\":\"([^\"]+)\",\"id\":([0-9]+),\"sec\":[0-9]+,\"usec\":[0-9]+,\"pos\":\\[-?[0-9]+,-?[0-9]+,-?[0-9]+\\],\"ori\":\\[-?[0-9]+,-?[0-9]+,-?[0-9]+\\]}$")
    message(FATAL_ERROR "not a record line: ${r}")
  endif()
  list(APPEND seen "${CMAKE_MATCH_2}/${CMAKE_MATCH_3}")
endforeach()
set(all ${seen})
list(REMOVE_DUPLICATES seen)
list(SORT seen)
foreach(pair IN LISTS seen)
  set(times ${all})
  list(FILTER times INCLUDE REGEX "^${pair}$")
  list(LENGTH times k)
  if(k LESS 5)
    message(FATAL_ERROR "${pair} rewritten in only ${k} of ${cycles} cycles\n${out}\n${err}")
  endif()
endforeach()
string(REPLACE "," ";" want "${EXPECTED}")
list(SORT want)
if(NOT seen STREQUAL want)
  message(FATAL_ERROR "records of [${seen}], expected [${want}]\n${out}\n${err}")
endif()
list(LENGTH records n)
message(STATUS "${n} records of [${seen}] in ${cycles} cycles")
