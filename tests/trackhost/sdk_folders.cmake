# Where tarsis.dll finds the SDK, with the host program in a folder of its own
# (Windows): beside the module in a plugin folder, found whatever the current
# folder; only in the current folder, not found, and the line says where the
# module looked. The module is loaded from the configuration's path, the SDK
# from SDK (the stand-in), the simulator's core from BIN.
# Arguments: EMULATOR (may be empty), BIN, SDK, WORKDIR.
file(REMOVE_RECURSE ${WORKDIR})
foreach(dir host plugin bare empty current)
  file(MAKE_DIRECTORY ${WORKDIR}/${dir})
endforeach()
file(COPY ${BIN}/trackhost.exe DESTINATION ${WORKDIR}/host)
file(COPY ${BIN}/tarsis.dll ${SDK}/OTK.dll ${SDK}/OvCmdIF.dll ${BIN}/otksim.dll DESTINATION ${WORKDIR}/plugin)
file(COPY ${BIN}/tarsis.dll DESTINATION ${WORKDIR}/bare)
file(COPY ${SDK}/OTK.dll ${SDK}/OvCmdIF.dll ${BIN}/otksim.dll DESTINATION ${WORKDIR}/current)
foreach(dir plugin bare)
  file(WRITE ${WORKDIR}/${dir}.cfg "device tarsis0 ${WORKDIR}/${dir}/tarsis.dll\n    baud 115200\n    reset no\n")
endforeach()

# The folder as the module sees it: under wine the Unix root is drive Z:.
function(windows_path path out)
  if(EMULATOR)
    set(path "Z:${path}")
  endif()
  string(REPLACE "/" "\\" path "${path}")
  set(${out} "${path}\\" PARENT_SCOPE)
endfunction()
windows_path(${WORKDIR}/plugin plugin)
windows_path(${WORKDIR}/bare bare)
windows_path(${WORKDIR}/host host)
windows_path(${WORKDIR}/current current)

# run(NAME RC FOLDER ARGS...): trackhost from FOLDER; its output in NAME.
function(run name want folder)
  execute_process(COMMAND ${EMULATOR} ${WORKDIR}/host/trackhost.exe ${ARGN}
                  WORKING_DIRECTORY ${WORKDIR}/${folder} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r" "" out "${out}")
  if(NOT rc EQUAL want)
    message(FATAL_ERROR "trackhost ${ARGN} from ${folder}: exit ${rc}, expected ${want}:\n${out}\n${err}")
  endif()
  set(${name} "\n${out}" PARENT_SCOPE) # every line starts after a line end
endfunction()
function(expect text line)
  string(FIND "${text}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "missing: ${line}\n--- output:\n${text}")
  endif()
endfunction()

# Beside the module: the run streams, and --sdk says where from.
run(out 0 empty --cycles 3 --quiet ${WORKDIR}/plugin.cfg)
run(out 0 empty --sdk ${WORKDIR}/plugin/tarsis.dll)
expect("${out}" "\nOTK.dll: loaded from ${plugin}OTK.dll\nOvCmdIF.dll: loaded from ${plugin}OvCmdIF.dll\n")

# Only in the current folder: not loaded; the module's folder, then the
# program's and the system's were searched, and the current folder not.
set(line "Unable to load tracker SDK OTK.dll: not found in ${bare}; ${host}; ")
run(out 1 current --cycles 3 --quiet ${WORKDIR}/bare.cfg)
expect("${out}" "\n${line}")
expect("${out}" "\nError: connecting to tracker\n")
run(out 1 current --sdk ${WORKDIR}/bare/tarsis.dll)
expect("${out}" "\n${line}")
string(FIND "${out}" "${current}" at)
if(NOT at LESS 0)
  message(FATAL_ERROR "the current folder was searched:\n${out}")
endif()
message(STATUS "found beside the module in a folder of its own; not found in the current folder alone")
