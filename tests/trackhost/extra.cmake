# The host harness's tests: a fake device module, the in-process suite, the
# trackhost binary on bad input and on the example files, and the export table
# of the real module.
set(_th ${CMAKE_CURRENT_LIST_DIR})

tarsis_device_module(fakedev MAP ${_th}/fake/fakedev.map SOURCES ${_th}/fake/fakedev.cpp)

if(TARGET test_trackhost)
  target_link_libraries(test_trackhost PRIVATE trackhost_lib)
  add_dependencies(test_trackhost fakedev trackhost)
endif()

# Runs the binary itself (under the emulator on cross builds) on bad input.
add_test(NAME trackhost_bad_input
         COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:trackhost> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                 -DWORKDIR=${CMAKE_BINARY_DIR}/bin/trackhost-bad -P ${_th}/bad_input.cmake)

# The module exports exactly its two entry points; the checker is first tried
# on the fake module, whose third export it must see too.
if(WIN32)
  set(_exports_tool ${CMAKE_OBJDUMP})
else()
  set(_exports_tool ${CMAKE_NM})
endif()
add_test(NAME trackhost_exports_checker
         COMMAND ${CMAKE_COMMAND} -DMODULE=$<TARGET_FILE:fakedev> -DTOOL=${_exports_tool} -DWINDOWS=${WIN32}
                 "-DEXPECTED=createDev;deleteDev;fakeCallLog" -P ${_th}/check_exports.cmake)
add_test(NAME tarsis_exports
         COMMAND ${CMAKE_COMMAND} -DMODULE=$<TARGET_FILE:tarsis> -DTOOL=${_exports_tool} -DWINDOWS=${WIN32}
                 "-DEXPECTED=createDev;deleteDev" -P ${_th}/check_exports.cmake)

# Windows: the host program in one folder, the module with the SDK in another,
# and the SDK only in the current folder (the MSVC-ABI stand-in where built).
if(WIN32)
  set(_sdk ${CMAKE_BINARY_DIR}/bin)
  if(TARGET otkmsvc)
    set(_sdk ${CMAKE_BINARY_DIR}/bin/msvc)
  endif()
  add_test(NAME trackhost_sdk_folders
           COMMAND ${CMAKE_COMMAND} "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" -DBIN=${CMAKE_BINARY_DIR}/bin
                   -DSDK=${_sdk} -DWORKDIR=${CMAKE_BINARY_DIR}/bin/sdk-folders -P ${_th}/sdk_folders.cmake)
endif()

# The example files with the real module and the simulated tracker.
function(trackhost_example name config scenario expected)
  add_test(NAME trackhost_example_${name}
           COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:trackhost> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                   -DCONFIG=${CMAKE_SOURCE_DIR}/examples/${config} -DWORKDIR=${CMAKE_BINARY_DIR}/bin
                   "-DEXPECTED=${expected}" -P ${_th}/run_example.cmake)
  set_tests_properties(trackhost_example_${name} PROPERTIES ENVIRONMENT "OTK_SIM=${scenario}")
endfunction()
trackhost_example(tarsis tarsis.cfg "type=tarsis" "tarsis0/1,tarsis0/2,tarsis0/3,tarsis0/4")
trackhost_example(two_devices two-devices.cfg "type=tarsis"
                  "tarsis0/1,tarsis0/2,tarsis0/3,tarsis0/4,tarsis1/5,tarsis1/6,tarsis1/7,tarsis1/8")
trackhost_example(brevik brevik.cfg "type=brevik" "brevik0/1,brevik0/2")

# Console lines of whole runs: a connection failure, a reset, a Brevik, and
# the second of two devices reporting the ids behind the first's.
function(trackhost_console name config scenario fail lines)
  add_test(NAME trackhost_console_${name}
           COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:trackhost> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                   -DCONFIG=${CMAKE_SOURCE_DIR}/examples/${config} -DWORKDIR=${CMAKE_BINARY_DIR}/bin -DFAIL=${fail}
                   "-DLINES=${lines}" -P ${_th}/run_console.cmake)
  set_tests_properties(trackhost_console_${name} PROPERTIES ENVIRONMENT "OTK_SIM=${scenario}")
endfunction()
trackhost_console(no_tracker tarsis.cfg "fail=DiscoverCnx:0x20040001" ON
                  "Unable to read discover tracker: No tracker answered discovery|Error: connecting to tracker|INFO: DEVICE NAME           : tarsis0|INFO: -----------------------")
trackhost_console(reset tarsis-reset.cfg "restart=0" OFF
                  "Resetting tracker..|Tracker connected.|INFO: DEVICE TYPE           : Orvane Tarsis|INFO:                       : 4 Sensors Detected : SensorMap 0xf|INFO: Reset Option          : yes")
trackhost_console(brevik brevik.cfg "type=brevik" OFF
                  "INFO: DEVICE TYPE           : Orvane Brevik|INFO:                       : 2 Sensors Supported")
trackhost_console(two_devices two-devices.cfg "" OFF
                  "INFO: DEVICE NAME           : tarsis0|INFO:                       : 1->1 2->2 3->3 4->4|INFO: DEVICE NAME           : tarsis1|INFO:                       : 1->5 2->6 3->7 4->8")

# --check on a clean, a misspelt, a refused and an init-failing configuration,
# with the real module and the simulated tracker.
function(trackhost_check name rc)
  add_test(NAME trackhost_check_${name}
           COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:trackhost> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                   -DCONFIG=${_th}/check/${name}.cfg -DGOLDEN=${_th}/check/${name}.out -DRC=${rc}
                   -DWORKDIR=${CMAKE_BINARY_DIR}/bin -P ${_th}/run_check.cmake)
  set_tests_properties(trackhost_check_${name} PROPERTIES ENVIRONMENT "OTK_SIM=type=tarsis")
endfunction()
trackhost_check(clean 0)
trackhost_check(typo 1)
trackhost_check(refused 1)
trackhost_check(initfails 1)

# The configuration reference agrees with the code (its examples pass --check
# with the real module; the controller example needs the controller device).
add_test(NAME docs_configuration
         COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:trackhost> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                 -DDOC=${CMAKE_SOURCE_DIR}/docs/configuration.md
                 "-DSOURCES=${CMAKE_SOURCE_DIR}/tracker;${CMAKE_SOURCE_DIR}/common;${CMAKE_SOURCE_DIR}/device"
                 -DWORKDIR=${CMAKE_BINARY_DIR}/bin -P ${_th}/check_docs.cmake)
set_tests_properties(docs_configuration PROPERTIES ENVIRONMENT "OTK_SIM=type=tarsis")

# The SVG picture read back as XML, where a Python interpreter is at hand.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_Interpreter_FOUND)
  add_test(NAME trackhost_plot
           COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:trackhost> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                   -DPYTHON=${Python3_EXECUTABLE} -DCONFIG=${CMAKE_SOURCE_DIR}/examples/two-devices.cfg
                   -DWORKDIR=${CMAKE_BINARY_DIR}/bin
                   "-DEXPECTED=tarsis0/1,tarsis0/2,tarsis0/3,tarsis0/4,tarsis1/5,tarsis1/6,tarsis1/7,tarsis1/8"
                   -P ${_th}/run_plot.cmake)
  set_tests_properties(trackhost_plot PROPERTIES ENVIRONMENT "OTK_SIM=type=tarsis")
endif()

# A capture taken, summarised and replayed through the harness.
add_test(NAME trackhost_capture
         COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:trackhost> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                 -DCONFIG=${CMAKE_SOURCE_DIR}/examples/tarsis.cfg -DWORKDIR=${CMAKE_BINARY_DIR}/bin
                 -P ${_th}/run_capture.cmake)
set_tests_properties(trackhost_capture PROPERTIES ENVIRONMENT "OTK_SIM=type=tarsis")
