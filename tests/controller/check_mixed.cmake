# Runs trackhost on the mixed example (a Tarsis tracker, then the controller
# test device whose first controller emulates a tracker) and checks the JSON
# records on standard output: the emulated tracker is id 5, behind the
# tracker's ids 1-4, carries its emulation pose and is announced every cycle.
# Arguments: EXE, EMULATOR (may be empty), CONFIG, WORKDIR.
set(cycles 3)
execute_process(COMMAND ${EMULATOR} ${EXE} --cycles ${cycles} --json - ${CONFIG}
                WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "trackhost exited with ${rc}:\n${out}\n${err}")
endif()

string(REPLACE ";" "," text "${out}")
string(REPLACE "\n" ";" lines "${text}")
set(emulated_cycles "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "{\"cycle\":([0-9]+),\"device\":\"([^\"]+)\",\"id\":([0-9]+),[^}]*\"pos\":\\[([^]]*)\\],\"ori\":\\[([^]]*)\\]}")
    continue()
  endif()
  set(cycle ${CMAKE_MATCH_1})
  set(device ${CMAKE_MATCH_2})
  set(id ${CMAKE_MATCH_3})
  set(pose "${CMAKE_MATCH_4} / ${CMAKE_MATCH_5}")
  if(device STREQUAL "condev0")
    # Feet and degrees x 100000: (1, 2, 3) feet, elevation 90 degrees.
    if(NOT id EQUAL 5 OR NOT pose STREQUAL "100000,200000,300000 / 0,9000000,0")
      message(FATAL_ERROR "condev0 wrote id ${id} with pose ${pose}, expected id 5 with "
                          "100000,200000,300000 / 0,9000000,0:\n${out}\n${err}")
    endif()
    list(APPEND emulated_cycles ${cycle})
  elseif(device STREQUAL "tarsis0")
    if(id LESS 1 OR id GREATER 4)
      message(FATAL_ERROR "tarsis0 wrote id ${id}, expected 1..4:\n${out}\n${err}")
    endif()
  else()
    message(FATAL_ERROR "record of an unknown device ${device}:\n${out}\n${err}")
  endif()
endforeach()

list(REMOVE_DUPLICATES emulated_cycles)
list(LENGTH emulated_cycles k)
if(NOT k EQUAL cycles)
  message(FATAL_ERROR "the emulated tracker id 5 came in ${k} of ${cycles} cycles:\n${out}\n${err}")
endif()
message(STATUS "condev0 announced id 5 in all ${cycles} cycles")
