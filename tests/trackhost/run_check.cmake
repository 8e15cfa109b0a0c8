# Golden test of "trackhost --check": runs it on CONFIG (copied into WORKDIR,
# so that messages name it without a folder) and compares standard output,
# then standard error, line for line with the file GOLDEN, and the exit
# status with RC. The logger's date, time and thread id are taken out first.
# Arguments: EXE, EMULATOR (may be empty), CONFIG, GOLDEN, RC, WORKDIR.
get_filename_component(name ${CONFIG} NAME)
configure_file(${CONFIG} ${WORKDIR}/${name} COPYONLY)
execute_process(COMMAND ${EMULATOR} ${EXE} --check ${name}
                WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(got "${out}${err}")
string(REPLACE "\r" "" got "${got}")
string(REGEX REPLACE "(^|\n)[A-Z][a-z][a-z] [0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] " "\\1" got "${got}")
string(REGEX REPLACE "(^|\n)([^ \n:[]+)\\[[0-9]+\\]: " "\\1\\2: " got "${got}")
file(READ ${GOLDEN} want)
if(NOT rc STREQUAL RC OR NOT got STREQUAL want)
  file(WRITE ${WORKDIR}/${name}.got "${got}")
  message(FATAL_ERROR "trackhost --check ${name}: exit ${rc} (want ${RC}); output (left in ${name}.got):\n${got}\n--- expected:\n${want}")
endif()
