# A capture through the harness and the real module, then --capture-info on
# it and a --replay of it: the three steps a person takes on site and at the
# desk. The capture stays in captures/trackhost/ for the reference reader.
# Arguments: EXE, EMULATOR (may be empty), CONFIG (an example file), WORKDIR.
set(folder ${WORKDIR}/captures/trackhost)
file(REMOVE_RECURSE ${folder})
file(MAKE_DIRECTORY ${folder})
file(READ ${CONFIG} config)
file(WRITE ${WORKDIR}/capture-run.cfg "${config}\n    capture captures/trackhost/run.mcap\n")

execute_process(COMMAND ${EMULATOR} ${EXE} --cycles 60 --period 5 --quiet capture-run.cfg
                WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r" "" out "${out}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "\nCapturing to captures/trackhost/run.mcap\n" OR
   NOT out MATCHES "\nCapture finished: captures/trackhost/run.mcap, [1-9][0-9]* frames, 0 left out\n")
  message(FATAL_ERROR "the capture run (exit ${rc}):\n${out}\n${err}")
endif()

execute_process(COMMAND ${EMULATOR} ${EXE} --capture-info captures/trackhost/run.mcap
                WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_VARIABLE info ERROR_VARIABLE err)
string(REPLACE "\r" "" info "${info}")
foreach(line "tracker: Orvane Tarsis, 16 sensors supported, 4 detected \\(map 0xf\\), output map 0xf, 120 Hz"
             "stations: 1 2 3 4" "frames left out: 0" "file: complete, ended by stop")
  if(NOT info MATCHES "\n${line}\n")
    message(FATAL_ERROR "--capture-info (exit ${rc}) lacks the line ${line}:\n${info}\n${err}")
  endif()
endforeach()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "--capture-info exited with ${rc}:\n${info}\n${err}")
endif()

# Without --cycles the replay ends with the capture.
execute_process(COMMAND ${EMULATOR} ${EXE} --replay captures/trackhost/run.mcap --period 1 --quiet
                        --json capture-replay.json ${CONFIG}
                WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(STRINGS ${WORKDIR}/capture-replay.json records)
list(LENGTH records n)
if(NOT rc EQUAL 0 OR n LESS 40 OR out MATCHES "Cannot replay")
  message(FATAL_ERROR "the replay (exit ${rc}, ${n} records):\n${out}\n${err}")
endif()
message(STATUS "captured, summarised and replayed: ${n} records")
