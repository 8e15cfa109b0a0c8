# Runs trackhost on bad input: each case must end with the expected non-zero
# exit and exactly one "trackhost:" error line, matching the expected pattern.
# Arguments: EXE, EMULATOR (may be empty), WORKDIR.
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})
set(failures "")

function(expect_error name content args expected_rc pattern)
  if(NOT "${content}" STREQUAL "-")
    file(WRITE ${WORKDIR}/${name}.cfg "${content}")
  endif()
  execute_process(COMMAND ${EMULATOR} ${EXE} ${args} ${name}.cfg
                  WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r" "" err "${err}")
  string(REGEX MATCHALL "trackhost:[^\n]*" lines "${err}")
  list(LENGTH lines count)
  if(NOT rc STREQUAL expected_rc OR NOT count EQUAL 1 OR NOT lines MATCHES "^${pattern}$")
    set(failures "${failures}\n${name}: exit ${rc} (want ${expected_rc}), error lines [${lines}]" PARENT_SCOPE)
  endif()
endfunction()

expect_error(before-device "# settings\n\nbaud 9600\ndevice d0 fakedev\n" "--cycles;1" 1
             "trackhost: before-device\\.cfg:3: option line before any device")
expect_error(quote "device d0 fakedev\nname \"open ended\nreset no\n" "--cycles;1" 1
             "trackhost: quote\\.cfg:2: unterminated quote")
expect_error(missing "\ndevice d0 no-such-module\n" "--cycles;1" 1
             "trackhost: missing\\.cfg:2: cannot load module no-such-module: .+")
expect_error(nofile "-" "--cycles;1" 1 "trackhost: nofile\\.cfg: cannot read: .+")
expect_error(init-fails "device d0 fakedev\ninitresult -1\n" "--cycles;1" 1
             "trackhost: init-fails\\.cfg:1: device d0: init failed \\(-1\\)")
expect_error(usage "device d0 fakedev\n" "--cycles;many" 2 "trackhost: bad cycle count 'many'")
expect_error(stats-every "device d0 fakedev\n" "--stats-every;-1" 2
             "trackhost: bad --stats-every seconds '-1' \\(0\\.1 to 86400\\)")
expect_error(check-cycles "device d0 fakedev\n" "--check;--cycles;2" 2
             "trackhost: --check runs no cycles: it takes no --cycles, --json, --stats, --live or --plot")
expect_error(plot-dir "device d0 fakedev\n" "--plot;no-such-dir/x.svg;--cycles;1" 1
             "trackhost: no-such-dir/x\\.svg: cannot write the picture: .+")

if(failures)
  message(FATAL_ERROR "trackhost on bad input:${failures}")
endif()
