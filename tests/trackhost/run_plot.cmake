# Runs trackhost with --plot on an example with the real module and the
# simulated tracker, then has check_svg.py read the picture back as XML.
# Arguments: EXE, EMULATOR (may be empty), PYTHON, CONFIG, WORKDIR, EXPECTED.
file(REMOVE ${WORKDIR}/plot-test.svg)
execute_process(COMMAND ${EMULATOR} ${EXE} --cycles 30 --quiet --plot plot-test.svg ${CONFIG}
                WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "trackhost exited with ${rc}:\n${out}\n${err}")
endif()
execute_process(COMMAND ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_svg.py ${WORKDIR}/plot-test.svg ${EXPECTED}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the picture is not what was expected:\n${out}${err}")
endif()
message(STATUS "${out}")
