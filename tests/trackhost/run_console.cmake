# Runs trackhost on a configuration with the real module and the simulated
# tracker and checks its exit status and that standard output holds each of
# the expected lines, in order (a line may carry the logger's prefix first).
# Arguments: EXE, EMULATOR (may be empty), CONFIG, WORKDIR, FAIL (ON: a
# non-zero exit is expected), LINES (the lines, separated by "|").
execute_process(COMMAND ${EMULATOR} ${EXE} --cycles 3 --quiet ${CONFIG}
                WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r" "" out "${out}")
if(FAIL AND rc EQUAL 0)
  message(FATAL_ERROR "trackhost succeeded, a failure was expected:\n${out}\n${err}")
elseif(NOT FAIL AND NOT rc EQUAL 0)
  message(FATAL_ERROR "trackhost exited with ${rc}:\n${out}\n${err}")
endif()
string(REPLACE "|" ";" wanted "${LINES}")
set(rest "\n${out}")
foreach(line IN LISTS wanted)
  string(FIND "${rest}" "${line}\n" pos)
  if(pos LESS 0)
    message(FATAL_ERROR "missing line (in order): ${line}\n--- output:\n${out}\n${err}")
  endif()
  math(EXPR pos "${pos} + 1")
  string(SUBSTRING "${rest}" ${pos} -1 rest)
endforeach()
