# The host harness's tests: a fake device module, the in-process suite, the
# trackhost binary on bad input and on the example files, and the export table
# of the real module.
set(_th ${CMAKE_CURRENT_LIST_DIR})

add_library(fakedev MODULE ${_th}/fake/fakedev.cpp)
set_target_properties(fakedev PROPERTIES PREFIX "")
target_link_libraries(fakedev PRIVATE tarsis_core)
tarsis_warnings(fakedev)
if(NOT WIN32)
  target_link_options(fakedev PRIVATE -Wl,--no-undefined -Wl,--version-script=${_th}/fake/fakedev.map)
  set_property(TARGET fakedev APPEND PROPERTY LINK_DEPENDS ${_th}/fake/fakedev.map)
endif()

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
